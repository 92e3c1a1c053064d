#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "vemtora/core/mindrel.hpp"

using brenkit::app_logging::Capture;
using vemtora::mindrel::model_map;
using vemtora::mindrel::resolve_model_name;

namespace {

std::string warning_for(const std::string& name) {
    return "⚠️ 無法識別的模型名稱：'" + name + "'，已自動變更為 'Gemini 3.5 Flash (Medium)'";
}

}  // namespace

TEST(Models, TextsResolveToDisplayNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"gemini-3.5-flash-l", "Gemini 3.5 Flash (Low)"},
        {" \tGEMINI-3.5-FLASH-L\n", "Gemini 3.5 Flash (Low)"},
        {"gemini 3.1 pro (high)", "Gemini 3.1 Pro (High)"},
        {"\u3000Claude Opus 4.6 (Thinking)\u00a0", "Claude Opus 4.6 (Thinking)"},
        {"GPT-OSS 120B (Medium)", "GPT-OSS 120B (Medium)"},
    };
    Capture capture;
    for (const auto& [name, display] : cases) EXPECT_EQ(resolve_model_name(name), display) << name;
    EXPECT_TRUE(capture.records().empty());
}

TEST(Models, EveryRowIsStableAndWordsLowMediumStay) {
    Capture capture;
    ASSERT_EQ(model_map().size(), 8u);
    for (const auto& [id, display] : model_map()) {
        EXPECT_EQ(resolve_model_name(id), display);
        EXPECT_EQ(resolve_model_name(resolve_model_name(display)), display);
    }
    EXPECT_TRUE(capture.records().empty());
    EXPECT_EQ(model_map()[0].second, "Gemini 3.5 Flash (Medium)");
    EXPECT_EQ(model_map()[1].second, "Gemini 3.5 Flash (Low)");
}

TEST(Models, UnknownNamesFallBackWithOneWarningEach) {
    Capture capture;
    EXPECT_EQ(resolve_model_name("gpt-oss-120b"), "Gemini 3.5 Flash (Medium)");
    EXPECT_EQ(resolve_model_name("  "), "Gemini 3.5 Flash (Medium)");
    EXPECT_EQ(resolve_model_name(std::vector<std::string>{"gemini-3.1-pro-l", "", "Gemini"}),
              (std::vector<std::string>{"Gemini 3.1 Pro (Low)", "Gemini 3.5 Flash (Medium)", "Gemini 3.5 Flash (Medium)"}));
    ASSERT_EQ(capture.records().size(), 4u);
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{warning_for("gpt-oss-120b"), warning_for("  "), warning_for(""), warning_for("Gemini")}));
    EXPECT_EQ(capture.records()[0].level, brenkit::app_logging::Level::warning);
    EXPECT_EQ(capture.records()[0].logger, "Mindrel");
}

TEST(Models, EmptyValuesComeBackUnchanged) {
    Capture capture;
    EXPECT_EQ(resolve_model_name(std::string()), "");
    EXPECT_TRUE(resolve_model_name(std::vector<std::string>{}).empty());
    EXPECT_TRUE(capture.records().empty());
}

TEST(Models, ConfigurationNodesKeepTheirShape) {
    Capture capture;
    auto doc = *brenkit::fileIO::load_yaml_string(
        "one: gemini-3.1-pro-l\n"
        "list: [gemini-3.1-pro-l, nope, 3, ~]\n"
        "empty: ''\n"
        "none:\n"
        "number: 7\n"
        "map: {a: gemini-3.1-pro-l}\n");
    EXPECT_EQ(resolve_model_name(doc["one"]).as<std::string>(), "Gemini 3.1 Pro (Low)");
    YAML::Node list = resolve_model_name(doc["list"]);
    ASSERT_TRUE(list.IsSequence());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].as<std::string>(), "Gemini 3.1 Pro (Low)");
    EXPECT_EQ(list[1].as<std::string>(), "Gemini 3.5 Flash (Medium)");
    EXPECT_EQ(list[2].as<std::string>(), "3");
    EXPECT_TRUE(list[3].IsNull());
    EXPECT_EQ(doc["list"][0].as<std::string>(), "gemini-3.1-pro-l");  // a new list, the old one untouched
    EXPECT_EQ(resolve_model_name(doc["empty"]).as<std::string>(), "");
    EXPECT_TRUE(resolve_model_name(doc["none"]).IsNull());
    EXPECT_EQ(resolve_model_name(doc["number"]).as<std::string>(), "7");
    EXPECT_TRUE(resolve_model_name(doc["map"]).IsMap());
    EXPECT_EQ(capture.messages(), std::vector<std::string>{warning_for("nope")});
}
