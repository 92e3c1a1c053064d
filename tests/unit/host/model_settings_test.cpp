// The models every AI command's application takes from its configuration: the default
// model and the backup model, with each command's own fallbacks when the keys are
// missing or the `config` entry is no mapping.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "harness.hpp"
#include "vemtora/documents/flowkin.hpp"
#include "vemtora/documents/polywend.hpp"
#include "vemtora/documents/tomebrook.hpp"
#include "vemtora/projects/graftwell.hpp"
#include "vemtora/projects/sproutel.hpp"
#include "vemtora/projects/torvane.hpp"
#include "vemtora/release/quillary.hpp"
#include "vemtora/release/sendrift.hpp"
#include "vemtora/scripting/krestel.hpp"
#include "vemtora/scripting/moldery.hpp"

namespace {

struct Models {
    std::string default_model;
    std::string backup_model;  // as YAML flow text; "-" where the command keeps none
};

template <class App>
Models models_of(const YAML::Node& configuration) {
    App app(configuration);
    if constexpr (requires { app.backup_model; })
        return {app.default_model, YAML::Dump(YAML::Node(app.backup_model))};
    else
        return {app.default_model, "-"};
}

struct Case {
    std::string command;
    std::function<Models(const YAML::Node&)> read;
    std::string fallback_backup;  // what the backup model is when the configuration names none
};

const std::string low_list = "- Gemini 3.5 Flash (Low)";
const std::string low_name = "Gemini 3.5 Flash (Low)";

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"quillary", models_of<vemtora::quillary::Quillary>, low_name},
        {"sendrift", models_of<vemtora::sendrift::SendriftApp>, low_list},
        {"sproutel", models_of<vemtora::sproutel::SproutelApp>, low_list},  // fetches its goal and skill first
        {"graftwell", models_of<vemtora::graftwell::GraftwellApp>, low_list},
        {"torvane", models_of<vemtora::torvane::TorvaneApp>, low_list},
        {"tomebrook", models_of<vemtora::tomebrook::TomebrookApp>, "-"},
        {"polywend", models_of<vemtora::polywend::PolywendApp>, low_name},
        {"flowkin", models_of<vemtora::flowkin::FlowkinApp>, low_name},
        {"krestel", models_of<vemtora::krestel::KrestelApp>, low_list},
        {"moldery", models_of<vemtora::moldery::MolderyApp>, "-"},
    };
    return all;
}

// The folder the applications are built in; sproutel's asks for its goal and skill
// files there, from a repository that is not there.
struct Workspace {
    th::TempDir dir;
    th::CurrentDir cwd{dir.path()};
    th::ScopedEnv env{{{"VEMTORA_REPO_BASE_URL", "file:///nonexistent-vemtora-repo"}}};
    brenkit::app_logging::Capture log;
};

}  // namespace

TEST(ModelSettings, FallbacksWhenTheConfigurationNamesNoModel) {
    // Every command that runs the agent from a configuration (start has none: its model is -m alone).
    std::set<std::string> covered;
    for (const auto& c : cases()) covered.insert(c.command);
    EXPECT_EQ(covered, th::command_names([](const auto& c) { return c.runs_agent && !c.default_yaml.empty(); }));
    Workspace workspace;
    for (const char* text : {"config:\n  output_dir: out\n", "other: 1\n", "config: [a, b]\n", "config:\n"}) {
        for (const auto& c : cases()) {
            SCOPED_TRACE(c.command + " on " + text);
            Models m = c.read(YAML::Load(text));
            EXPECT_EQ(m.default_model, "Gemini 3.5 Flash (Medium)");
            EXPECT_EQ(m.backup_model, c.fallback_backup);
        }
    }
}

TEST(ModelSettings, ConfiguredModelsAreResolvedInTheirForm) {
    Workspace workspace;
    auto configuration =
        YAML::Load("config:\n  default_model: claude-opus-4.6-t\n  backup_model: [gemini-3.1-pro-h, GPT-OSS 120B (Medium)]\n");
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.command);
        Models m = c.read(configuration);
        EXPECT_EQ(m.default_model, "Claude Opus 4.6 (Thinking)");
        if (c.fallback_backup != "-") {
            EXPECT_EQ(m.backup_model, "- Gemini 3.1 Pro (High)\n- GPT-OSS 120B (Medium)");
        }
    }
    auto one_name = YAML::Load("config:\n  backup_model: gemini-3.5-flash-h\n");
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.command);
        if (c.fallback_backup != "-") {
            EXPECT_EQ(c.read(one_name).backup_model, "Gemini 3.5 Flash (High)");
        }
    }
}
