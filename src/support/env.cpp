#include "support/env.hpp"

#include <cstdlib>

#include "support/wide_text.hpp"

namespace support {

// Windows: the environment is read and written as wide text; the narrow functions would
// give it in the ANSI code page, and a PATH folder such as C:\Users\陳小明 would be lost.
std::optional<std::string> get_env(const std::string& name) {
#ifdef _WIN32
    const wchar_t* v = _wgetenv(widen(name).c_str());
    if (!v) return std::nullopt;
    return narrow(v);
#else
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
#endif
}

void set_env(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _wputenv_s(widen(name).c_str(), widen(value).c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

void unset_env(const std::string& name) {
#ifdef _WIN32
    _wputenv_s(widen(name).c_str(), L"");
#else
    ::unsetenv(name.c_str());
#endif
}

}  // namespace support
