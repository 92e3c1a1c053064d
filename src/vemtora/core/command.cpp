#include "vemtora/core/command.hpp"

#include <algorithm>

namespace vemtora {

std::string OptionDecl::parameter() const {
    std::string name = long_name.rfind("--", 0) == 0 ? long_name.substr(2) : long_name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::optional<std::string> OptionValues::text(const std::string& parameter) const {
    auto it = texts_.find(parameter);
    if (it == texts_.end()) return std::nullopt;
    return it->second;
}

bool OptionValues::flag(const std::string& parameter) const {
    auto it = flags_.find(parameter);
    return it != flags_.end() && it->second;
}

bool CommandDecl::takes(std::string_view long_name) const {
    return std::any_of(options.begin(), options.end(), [&](const OptionDecl& o) { return o.long_name == long_name; });
}

}  // namespace vemtora
