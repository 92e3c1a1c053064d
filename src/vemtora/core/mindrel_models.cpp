// The model-name table: short identifiers and display names map to the display name
// that the agent expects.
#include <map>

#include "brenkit/fileIO.hpp"
#include "support/text.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::mindrel {

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Mindrel"); }

const std::vector<std::pair<std::string, std::string>>& model_map() {
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"gemini-3.5-flash-m", "Gemini 3.5 Flash (Medium)"},
        {"gemini-3.5-flash-l", "Gemini 3.5 Flash (Low)"},
        {"gemini-3.5-flash-h", "Gemini 3.5 Flash (High)"},
        {"gemini-3.1-pro-l", "Gemini 3.1 Pro (Low)"},
        {"gemini-3.1-pro-h", "Gemini 3.1 Pro (High)"},
        {"claude-sonnet-4.6-t", "Claude Sonnet 4.6 (Thinking)"},
        {"claude-opus-4.6-t", "Claude Opus 4.6 (Thinking)"},
        {"gpt-oss-120b-m", "GPT-OSS 120B (Medium)"},
    };
    return table;
}

namespace {

std::string fold(std::string_view name) { return support::lower(support::strip(name)); }

// Identifiers are tried before display names; only whole folded texts match.
std::string resolve_single(const std::string& name) {
    std::string cleaned = fold(name);
    for (const auto& [id, display] : model_map())
        if (cleaned == id) return display;
    std::map<std::string, std::string> valid_full_names;
    for (const auto& [id, display] : model_map()) valid_full_names.emplace(fold(display), display);
    if (auto it = valid_full_names.find(cleaned); it != valid_full_names.end()) return it->second;
    log().warning("⚠️ 無法識別的模型名稱：'" + name + "'，已自動變更為 '" + std::string(fallback_model) + "'");
    return std::string(fallback_model);
}

}  // namespace

std::string resolve_model_name(const std::string& model_val) {
    return model_val.empty() ? model_val : resolve_single(model_val);
}

std::string model_from_option(const std::string& model, const brenkit::app_logging::Logger& logger) {
    std::string mapped = resolve_model_name(model);
    logger.info("✅ 已手動指定 AI 模型：" + mapped);
    return mapped;
}

std::vector<std::string> resolve_model_name(const std::vector<std::string>& model_val) {
    std::vector<std::string> out;
    out.reserve(model_val.size());
    for (const auto& name : model_val) out.push_back(resolve_single(name));
    return out;
}

YAML::Node resolve_model_name(const YAML::Node& model_val) {
    if (!brenkit::fileIO::truthy(model_val)) return model_val;
    if (model_val.IsSequence()) {
        YAML::Node out(YAML::NodeType::Sequence);
        for (const auto& element : model_val) {
            bool is_text = element.IsScalar() && brenkit::fileIO::scalar_kind(element) == brenkit::fileIO::ScalarKind::text;
            out.push_back(is_text ? YAML::Node(resolve_single(element.as<std::string>())) : YAML::Clone(element));
        }
        return out;
    }
    if (model_val.IsScalar() && brenkit::fileIO::scalar_kind(model_val) == brenkit::fileIO::ScalarKind::text)
        return YAML::Node(resolve_single(model_val.as<std::string>()));
    return model_val;
}

}  // namespace vemtora::mindrel
