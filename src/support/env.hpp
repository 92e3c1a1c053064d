#pragma once
#include <optional>
#include <string>

namespace support {

std::optional<std::string> get_env(const std::string& name);
void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);

}  // namespace support
