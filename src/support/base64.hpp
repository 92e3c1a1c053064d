#pragma once
#include <string>
#include <string_view>

namespace support {

// Standard Base64 (the "+/" alphabet, "=" padding, no line breaks) of arbitrary bytes.
std::string base64_encode(std::string_view bytes);

}  // namespace support
