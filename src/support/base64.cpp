#include "support/base64.hpp"

namespace support {

std::string base64_encode(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    auto byte = [&bytes](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += alphabet[group >> 18 & 63];
        out += alphabet[group >> 12 & 63];
        out += alphabet[group >> 6 & 63];
        out += alphabet[group & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned group = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0u);
        out += alphabet[group >> 18 & 63];
        out += alphabet[group >> 12 & 63];
        out += rest == 2 ? alphabet[group >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace support
