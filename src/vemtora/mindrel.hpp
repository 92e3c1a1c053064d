#pragma once
// Shared services of the AI commands: the model-name table, the agent runner, the
// agent workspace writer, the diff display, the file joiner and the direct client.
#include <yaml-cpp/yaml.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"

namespace vemtora::mindrel {

const brenkit::app_logging::Logger& log();

// ---- model-name table ----
// (identifier, display name), in the table's fixed order.
const std::vector<std::pair<std::string, std::string>>& model_map();
inline constexpr std::string_view fallback_model = "Gemini 3.5 Flash (Medium)";

// An identifier or display name (any case, surrounding white space ignored) gives the
// canonical display name; anything else gives the fallback with a warning. The empty
// text comes back unchanged.
std::string resolve_model_name(const std::string& model_val);
std::vector<std::string> resolve_model_name(const std::vector<std::string>& model_val);
// A loaded configuration value: a text or a list (each text element resolved, other
// elements kept); a false value or any other node comes back unchanged.
YAML::Node resolve_model_name(const YAML::Node& model_val);

}  // namespace vemtora::mindrel
