#pragma once
#include <string>

namespace support {

// The outcome of an operation whose failures are expected: a flag and a text that is
// the result on success and the reason on failure. Returned, never thrown.
struct Result {
    bool ok = false;
    std::string text;

    static Result success(std::string t) { return {true, std::move(t)}; }
    static Result failure(std::string t) { return {false, std::move(t)}; }
};

}  // namespace support
