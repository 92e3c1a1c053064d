#include <gtest/gtest.h>

#include "harness.hpp"
#include "host/help.hpp"
#include "host/registry.hpp"
#include "vemtora/release/quillary.hpp"
#include "vemtora/release/sendrift.hpp"

TEST(Declarations, SendriftHelpPage) {
    EXPECT_EQ(host::help::command_page(vemtora::sendrift::cmd_sendrift(), 78),
              "Usage: vemtora sendrift [OPTIONS]\n"
              "\n"
              "  自動化 commit & push CLI 工具。\n"
              "\n"
              "Options:\n"
              "  -c, --config PATH  Specify the YAML config file path. If -c is provided\n"
              "                     without arguments, it will trigger interactive config\n"
              "                     selection.\n"
              "  --generate-config  Generate config_sendrift_template.yaml\n"
              "  --debug            Enable debug mode\n"
              "  -m, --model TEXT   Specify the Gemini model to use\n"
              "  --help             Show this message and exit.\n"
              "\n"
              "  Examples:\n"
              "    1. Generate config template:\n"
              "       vemtora sendrift --generate-config\n"
              "\n"
              "    2. Run template generation with configuration:\n"
              "       vemtora sendrift -c config.yaml\n"
              "\n"
              "    3. Run with default settings (Default mode):\n"
              "       vemtora sendrift\n"
              "\n"
              "    4. Run with default settings and specify a model:\n"
              "       vemtora sendrift --model \"gemini-3.5-flash-m\"\n"
              "\n"
              "    5. Interactive config selection (when -c is provided without arguments):\n"
              "       vemtora sendrift -c\n"
              "\n"
              "  Features: Automates Git commit message generation and repository push.\n"
              "    - Generates concise commit messages based on git diff.\n"
              "    - Interactively prompts for confirmation before execution.\n"
              "    - Displays the latest Git log after successful push.\n");
}

TEST(Declarations, QuillaryHelpKeepsLongFeatureLines) {
    std::string page = host::help::command_page(vemtora::quillary::cmd_quillary(), 78);
    EXPECT_NE(page.find("\n  -c, --config PATH  Specify the YAML config file path\n"
                        "  --generate-config  Generate config_quillary_template.yaml\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("\n       vemtora quillary --model \"Gemini 3.5 Flash (Medium)\"\n"), std::string::npos);
    EXPECT_NE(page.find("\n    - Automatically scans setup.py to determine current version and calculate next "
                        "release/RC version.\n"),
              std::string::npos);
    EXPECT_EQ(page.find('\b'), std::string::npos);
}

TEST(Declarations, TemplatesWrittenByGenerateConfig) {
    const std::vector<std::tuple<vemtora::CommandDecl, std::string_view, size_t>> cases = {
        {vemtora::quillary::cmd_quillary(), vemtora::quillary::DEFAULT_YAML_CONTENT, 8},
        {vemtora::sendrift::cmd_sendrift(), vemtora::sendrift::DEFAULT_YAML_CONTENT, 6},
    };
    for (const auto& [decl, yaml, lines] : cases) {
        th::TempDir dir;
        th::CurrentDir cwd(dir.path());
        testing::internal::CaptureStdout();
        EXPECT_EQ(host::run_commands({decl}, {decl.name, "--generate-config", "-c", "missing.yaml"}), 0);
        testing::internal::GetCapturedStdout();
        std::string text = th::read_file(dir / ("config_" + decl.name + "_template.yaml"));
        EXPECT_EQ(text, yaml);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(lines));
        auto loaded = YAML::Load(text);
        EXPECT_EQ(loaded["config"]["backup_model"][0].as<std::string>(), "gemini-3.5-flash-l");
    }
    EXPECT_NE(vemtora::quillary::DEFAULT_YAML_CONTENT.find("  template_path: \"template/dovud_readme_template.md\"\n"),
              std::string::npos);
}

TEST(Declarations, BareConfigIsAUsageErrorButAnEmptyValueStartsTheChoice) {
    th::TempDir dir;
    th::CurrentDir cwd(dir.path());
    auto decl = vemtora::sendrift::cmd_sendrift();
    testing::internal::CaptureStderr();
    EXPECT_EQ(host::run_commands({decl}, {"sendrift", "--debug", "-c"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Usage: vemtora sendrift [OPTIONS]\nTry 'vemtora sendrift --help' for help.\n\n"
              "Error: Option '-c' requires an argument.\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(host::run_commands({decl}, {"sendrift", "--config", ""}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "❌ Error: No configuration file selected or found.\n");
}
