#include "vemtora/core/authorship.hpp"

#include <ctime>

#include "brenkit/fileIO.hpp"

#include "vemtora/core/prompt_text.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

std::string today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
    return buffer;
}

}  // namespace vemtora::exchange
