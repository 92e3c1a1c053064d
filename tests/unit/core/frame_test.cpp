#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "support/env.hpp"
#include "vemtora/core/frame.hpp"

namespace frame = vemtora::frame;
using brenkit::app_logging::Capture;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr std::string_view demo_yaml = "config:\n  goal_path: \"_agy/goal/demo.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n";

struct FrameRun {
    int status = -1;
    std::string out, err, log;
    std::optional<YAML::Node> configuration;  // what the application received
    frame::Context context;
};

struct Fixture {
    th::TempDir dir;
    th::CurrentDir cwd{dir.path()};
    th::ScopedEnv env{{{"DOVUD_DEBUG", std::nullopt}}};
    frame::Binding binding;
    support::Result result = support::Result::success("all good");

    Fixture() {
        binding.module_name = "demo";
        binding.default_yaml = demo_yaml;
        binding.log = &brenkit::app_logging::lazy_logger("Demo");
    }

    FrameRun run(const frame::Args& args, const std::string& input = "") {
        FrameRun r;
        frame::Binding b = binding;
        b.run = [&](YAML::Node& configuration, const frame::Context& context) {
            r.configuration = YAML::Clone(configuration);
            r.context = context;
            return result;
        };
        th::StdinFrom in(input);
        Capture capture;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        r.status = frame::run(b, args);
        r.out = testing::internal::GetCapturedStdout();
        r.err = testing::internal::GetCapturedStderr();
        r.log = capture.text();
        return r;
    }
};

std::string setting(const FrameRun& r, const std::string& key) { return (*r.configuration)["config"][key].as<std::string>(); }

}  // namespace

TEST(Frame, GenerateConfigWritesTemplateAndIgnoresTheRest) {
    Fixture f;
    auto r = f.run({.config = "missing.yaml", .generate_config = true, .model = "x"});
    auto path = (f.dir.path() / "config_demo_template.yaml").string();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "✅ Success! Template file created at: " + path + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.configuration);
    EXPECT_EQ(th::read_file(path), demo_yaml);

    f.binding.template_line_mark = false;
    EXPECT_EQ(f.run({.generate_config = true}).out, "Success! Template file created at: " + path + "\n");
}

TEST(Frame, DebugModeFromFlagOrExactlyOneInTheEnvironment) {
    const std::vector<std::tuple<bool, std::optional<std::string>, bool>> cases = {
        {true, std::nullopt, true}, {false, "1", true}, {false, "true", false}, {false, " 1", false}, {false, "", false},
    };
    for (const auto& [flag, env, on] : cases) {
        Fixture f;
        f.binding.log_debug_on = true;
        th::ScopedEnv scoped{{{"DOVUD_DEBUG", env}}};
        auto r = f.run({.generate_config = true, .debug = flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(brenkit::app_logging::debug_enabled(), on) << env.value_or("none");
        EXPECT_EQ(support::get_env("DOVUD_DEBUG"), on ? std::optional<std::string>("1") : env);
        EXPECT_EQ(r.log, on ? "Debug mode is ON.\n" : "");
        // The command learns it from its context.
        EXPECT_EQ(f.run({.debug = flag}).context.debug, on) << env.value_or("none");
        brenkit::app_logging::setup_logging("Vemtora", false);
    }
}

TEST(Frame, DefaultModeRunsOnTheTemplateAndReportsTheResult) {
    Fixture f;
    auto r = f.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Done: all good\n");
    ASSERT_TRUE(r.configuration);
    EXPECT_EQ(setting(r, "default_model"), "gemini-3.5-flash-m");
    EXPECT_FALSE(r.context.config_path);

    f.result = support::Result::failure("went wrong");
    r = f.run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: went wrong\n");

    f.binding.marked_result = true;
    EXPECT_EQ(f.run({}).err, "❌ Error: went wrong\n");
    f.result = support::Result::success("fine");
    EXPECT_EQ(f.run({}).out, "✅ Done: fine\n");
}

TEST(Frame, EmptyConfigOffersOnlyConfigYamlFilesOfThisFolder) {
    Fixture f;
    for (const char* name : {"config.yaml", "config-dev.yml", "myconfig.yaml", "config.json", "sub/config.yaml"})
        th::write_file(f.dir / name, "config:\n  goal_path: \"" + std::string(name) + "\"\n");
    auto r = f.run({.config = ""}, "2\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("\n--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---\n", 0), 0u) << r.out;
    EXPECT_THAT(r.out, HasSubstr("  2. "));
    EXPECT_THAT(r.out, Not(HasSubstr("  3. ")));
    EXPECT_EQ(setting(r, "goal_path"), "config.yaml");
    EXPECT_EQ(r.context.config_path, std::filesystem::path("./config.yaml"));

    // Enter at the menu chooses nothing
    r = f.run({.config = ""}, "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "❌ Error: No configuration file selected or found.\n");
    EXPECT_FALSE(r.configuration);
}

TEST(Frame, EmptyConfigWithoutCandidatesShowsNoMenu) {
    Fixture f;
    th::write_file(f.dir / "myconfig.yaml", "config: {}\n");
    auto r = f.run({.config = ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "❌ Error: No configuration file selected or found.\n");
}

TEST(Frame, SingleCandidateIsTakenWithoutAskingWhenTheBindingSaysSo) {
    Fixture f;
    th::write_file(f.dir / "config_x.yaml", "title: flat\n");
    f.binding.auto_single_candidate = true;
    auto r = f.run({.config = ""});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Done: all good\n");
    EXPECT_EQ(r.log, "💬 偵測到僅有單一設定檔，已自動選用：./config_x.yaml\n");
    EXPECT_EQ((*r.configuration)["title"].as<std::string>(), "flat");

    f.binding.auto_single_candidate = false;
    r = f.run({.config = ""}, "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("偵測到現有設定檔"));
}

TEST(Frame, GivenPathThatDoesNotExist) {
    Fixture f;
    auto r = f.run({.config = "nope.yaml", .model = "gemini-3.5-flash-l"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "❌ Error: Config file 'nope.yaml' does not exist.\n");
    EXPECT_EQ(r.log, "");
}

TEST(Frame, UnloadableConfigurationIsAnErrorButAnEmptyDocumentIsNothing) {
    Fixture f;
    th::write_file(f.dir / "bad.yaml", "config: [unclosed\n");
    th::write_file(f.dir / "list.yaml", "- a\n- b\n");
    std::filesystem::create_directory(f.dir / "folder");
    for (const std::string name : {"bad.yaml", "list.yaml", "folder"}) {
        auto r = f.run({.config = name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.log, "") << name;  // the loader says why
        EXPECT_EQ(r.err, "❌ Error: Config file '" + name + "' could not be loaded.\n");
        EXPECT_FALSE(r.configuration);
    }
    th::write_file(f.dir / "empty.yaml", "");
    th::write_file(f.dir / "null.yaml", "# nothing\nnull\n");
    for (const std::string name : {"empty.yaml", "null.yaml"}) {
        auto r = f.run({.config = name, .model = "gemini-3.5-flash-l"});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out + r.err + r.log, "") << name;
        EXPECT_FALSE(r.configuration);
    }
}

TEST(Frame, ModelOverrideCreatesConfigAndKeepsOtherKeys) {
    Fixture f;
    th::write_file(f.dir / "a.yaml", "other: 1\n");
    th::write_file(f.dir / "b.yaml", "config:\n  default_model: x\n  backup_model: [y]\n");
    th::write_file(f.dir / "c.yaml", "config:\n");

    auto r = f.run({.config = "a.yaml", .model = "gemini-3.5-flash-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(YAML::Dump((*r.configuration)["config"]), "default_model: Gemini 3.5 Flash (Low)");
    EXPECT_EQ(r.log, "✅ 已手動指定 AI 模型：Gemini 3.5 Flash (Low)\n");
    EXPECT_EQ(r.context.config_path, std::filesystem::path("a.yaml"));

    r = f.run({.config = "b.yaml", .model = "Claude Opus 4.6 (Thinking)"});
    EXPECT_EQ(setting(r, "default_model"), "Claude Opus 4.6 (Thinking)");
    EXPECT_EQ((*r.configuration)["config"]["backup_model"][0].as<std::string>(), "y");

    r = f.run({.config = "c.yaml", .model = "gemini-3.1-pro-h"});
    EXPECT_EQ(setting(r, "default_model"), "Gemini 3.1 Pro (High)");

    r = f.run({.config = "b.yaml", .model = ""});
    EXPECT_EQ(setting(r, "default_model"), "x");
    EXPECT_EQ(r.log, "");
}

TEST(Frame, OverrideOnAConfigThatIsNoMappingIsAnError) {
    Fixture f;
    th::write_file(f.dir / "odd.yaml", "config: [a, b]\n");
    auto r = f.run({.config = "odd.yaml", .model = "gemini-3.5-flash-m"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "❌ Error: The 'config' entry of the configuration is not a mapping.\n");
    EXPECT_FALSE(r.configuration);
    // without an override the application decides what to make of it
    EXPECT_EQ(f.run({.config = "odd.yaml"}).status, 0);
}

TEST(Frame, OutputDirOverride) {
    Fixture f;
    auto r = f.run({.output_dir = "out/docs"});
    EXPECT_EQ(setting(r, "output_dir"), "out/docs");
    EXPECT_EQ(r.log, "✅ 已手動指定輸出目錄：out/docs\n");

    r = f.run({.output_dir = ""});
    EXPECT_FALSE((*r.configuration)["config"]["output_dir"]);
    EXPECT_EQ(r.log, "");

    f.binding.output_key = "output_path";
    f.binding.empty_output_is_dot = true;
    r = f.run({.output_dir = ""});
    EXPECT_EQ(setting(r, "output_path"), "./");
    EXPECT_EQ(r.log, "✅ 已手動指定輸出目錄：./\n");
}

TEST(Frame, StandardOptionsInDeclarationOrder) {
    auto options = frame::standard_options({.module_name = "demo", .optional_config = true,
                                            .output_dir_help = "Out", .skip_editor_help = "Skip"});
    std::vector<std::string> names;
    for (const auto& o : options) names.push_back(o.short_name + o.long_name);
    EXPECT_EQ(names, (std::vector<std::string>{"-c--config", "--generate-config", "--debug", "-m--model",
                                               "-o--output-dir", "-s--skip-editor"}));
    EXPECT_EQ(options[0].kind, vemtora::OptionKind::optional_value);
    EXPECT_EQ(options[1].help, "Generate config_demo_template.yaml");
    EXPECT_EQ(options[4].kind, vemtora::OptionKind::value);

    vemtora::OptionValues values;
    values.set_text("output_dir", "o");
    values.set_flag("skip_editor", true);
    auto args = frame::args_from(values);
    EXPECT_EQ(args.output_dir, std::optional<std::string>("o"));
    EXPECT_TRUE(args.skip_editor);
    EXPECT_FALSE(args.config);
}

// A template without a configuration in it would make the command do nothing and end with
// success: a programming error, refused as the command is declared.
TEST(Frame, DeclareRefusesATemplateWithoutConfiguration) {
    for (std::string_view yaml : {"", "\n  \n", "# only a comment\n  # and another\n"}) {
        EXPECT_THROW(frame::declare({.name = "demo", .binding = {.default_yaml = yaml}}), std::logic_error)
            << "template: " << yaml;
    }
    EXPECT_EQ(frame::declare({.name = "demo", .binding = {.default_yaml = demo_yaml}}).name, "demo");
}

// A default_model that is missing, empty or blank gives the default model: the agent
// is never handed an empty model name.
TEST(FrameSettings, EmptyDefaultModelFallsBackToTheDefault) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{}", "Gemini 3.5 Flash (Medium)"},
        {"{default_model: \"\"}", "Gemini 3.5 Flash (Medium)"},
        {"{default_model: \"  \"}", "Gemini 3.5 Flash (Medium)"},
        {"{default_model: }", "Gemini 3.5 Flash (Medium)"},
        {"{default_model: gemini-3.1-pro-h}", "Gemini 3.1 Pro (High)"},
    };
    for (const auto& [yaml, model] : cases) EXPECT_EQ(frame::default_model_of(YAML::Load(yaml)), model) << yaml;
}
