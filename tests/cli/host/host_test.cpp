#include <gtest/gtest.h>

#include "harness.hpp"

TEST(HostCli, HelpAndBareProgramShowTheCommandList) {
    th::TempDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{}}) {
        th::Outcome r = th::run({.args = args, .cwd = dir.path()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: vemtora [OPTIONS] COMMAND [ARGS]...\n\nOptions:\n  --help  Show this message and exit.\n", 0),
                  0u)
            << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(HostCli, UnknownCommandIsAUsageError) {
    th::TempDir dir;
    th::Outcome r = th::run({.args = {"frobnicate", "-c"}, .cwd = dir.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\nTry 'vemtora --help' for help.\n\n"
                     "Error: No such command 'frobnicate'.\n");
}

namespace {

const std::string backup = "  backup_model:\n    - \"gemini-3.5-flash-l\"\n";

struct TemplateCase {
    std::string command;
    std::string text;  // the file's whole text
    bool marked;       // the success line begins with "✅ "
};

}  // namespace

TEST(HostCli, GenerateConfigWritesEachCommandsTemplate) {
    const std::vector<TemplateCase> cases = {
        {"quillary",
         "config:\n  output_dir: \"./\"\n  goal_path: \"_agy/goal/dovud-readme-goal.yaml\"\n"
         "  skill_path: \"_agy/skill/dovud-readme-expert.yaml\"\n  template_path: \"template/dovud_readme_template.md\"\n"
         "  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         true},
        {"sendrift",
         "config:\n  goal_path: \"_agy/goal/sendrift-goal.yaml\"\n  skill_path: \"_agy/skill/sendrift-expert.yaml\"\n"
         "  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         true},
        {"sproutel",
         "config:\n  template_repo: \"https://github.com/vemtora/Faldrun.git\"\n  goal_path: \"_agy/goal/sproutel.yaml\"\n"
         "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup +
             "  project_desc: \"\"\n  debug: false\n",
         false},
        {"graftwell",
         "config:\n  sub_cli_name: \"\"\n  feature_desc: \"功能維持不變\"\n  goal_path: \"_agy/goal/dovud-feature.yaml\"\n"
         "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup +
             "  debug: false\n",
         true},
        {"torvane",
         "config:\n  output_dir: \"./_ref\"\n  goal_path: \"_agy/goal/torvane.yaml\"\n"
         "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         false},
        {"tomebrook", "config:\n  output_dir: \"./gen-docs\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup, false},
        {"polywend",
         "config:\n  output_dir: \"./polywend-gen\"\n  goal_path: \"_agy/goal/translate-i18n.yaml\"\n"
         "  skill_path: \"_agy/skill/polywend-expert.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         true},
        {"flowkin",
         "config:\n  output_dir: \"./flowkin\"\n  goal_path: \"_agy/goal/mermaid-chart.yaml\"\n"
         "  skill_path: \"_agy/skill/mermaid-chart-expert.yaml\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         true},
        {"krestel",
         "config:\n  output_dir: \"./gen-bash\"\n  goal_path: \"_agy/goal/krestel-automation.yaml\"\n"
         "  skill_path: \"_agy/skill/krestel-expert.yaml\"\n  template_path: \"template/krestel_template.sh\"\n"
         "  default_model: \"gemini-3.5-flash-m\"\n" + backup,
         true},
        {"moldery", "config:\n  output_dir: \"./gen-template\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup, true},
        {"pressling",
         "config:\n  input_path: \"./\"\n  output_path: \"./\"\n  embed_images: true\n  watermark_enable: false\n"
         "  watermark_text: \"CONFIDENTIAL\"\n",
         true},
        {"varnel",
         "document_title: \"[Project Name] Documentation\"\n"
         "document_description: \"Welcome to the [Project Name] documentation. Please select a document below to "
         "explore the details.\"\n"
         "download_link: \"package.zip\"\n\n"
         "document1_title: \"[template_doc]\"\ndocument1_file: \"template_doc.html\"\n"
         "document1_description: \"[Brief description of the document's purpose and contents.]\"\n\n"
         "document2_title: \"[template_flow_chart]\"\ndocument2_file: \"template_flow_chart.html\"\n"
         "document2_description: \"[Brief description of the document's purpose and contents.]\"\n\n"
         "document3_title: \"[log text file]\"\ndocument3_file: \"log.txt\"\n"
         "document3_description: \"Brief description of the log text purpose and contents.\"\n\n"
         "document4_title: \"log zip file\"\ndocument4_file: \"log.zip\"\n"
         "document4_description: \"Brief description of the log zip file purpose and contents.\"\n\n"
         "document5_title: \"download from R2\"\ndocument5_file: \"download/hello.txt\"\n"
         "document5_description: \"Brief description of the document3 purpose and contents.\"\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        th::TempDir dir;
        // The named configuration is never looked at.
        th::Outcome r = th::run({.args = {c.command, "--generate-config", "-c", "missing.yaml"}, .cwd = dir.path()});
        EXPECT_EQ(r.status, 0);
        th::fs::path file = dir / ("config_" + c.command + "_template.yaml");
        EXPECT_EQ(r.out, std::string(c.marked ? "✅ " : "") + "Success! Template file created at: " +
                             th::fs::absolute(file).string() + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(th::read_file(file), c.text);
    }
}

TEST(HostCli, ProgramHelpListsEveryCommand) {
    th::TempDir dir;
    th::Outcome r = th::run({.args = {"--help"}, .cwd = dir.path(), .env = {{"COLUMNS", std::nullopt}}});
    EXPECT_EQ(r.out,
              "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\n"
              "\n"
              "Options:\n"
              "  --help  Show this message and exit.\n"
              "\n"
              "Commands:\n"
              "  flowkin    CLI application generated from template.\n"
              "  graftwell  Specialized CLI feature generator for DoVUD.\n"
              "  krestel    CLI application for managing and executing bash scripts.\n"
              "  moldery    Generate code or document templates based on reference files...\n"
              "  polywend   技術文件處理工具 (翻譯與格式排版，基於 Agy Agent)\n"
              "  pressling  Convert Notion exported .md files to HTML pages.\n"
              "  quillary   自動偵測版號、讀取 Git Diff 並透過 AI 生成與更新 README.md。\n"
              "  sendrift   自動化 commit & push CLI 工具。\n"
              "  sproutel   Automated Python CLI project generator based on Vemtora...\n"
              "  start      Find and launchet TUI with preconfigured goals and skills.\n"
              "  tomebrook  Generate API Manual for scripts.\n"
              "  torvane    Generate DoVUD-specific system prompts for Python source files.\n"
              "  varnel     Generate an Varnel page from a YAML configuration file.\n");
}

TEST(HostCli, CommandHelpPages) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"start",
         "Usage: vemtora start [OPTIONS]\n"
         "\n"
         "  Find and launchet TUI with preconfigured goals and skills.\n"
         "\n"
         "Options:\n"
         "  --debug                         Enable debug mode\n"
         "  -m, --model TEXT                Specify the Gemini model to use\n"
         "  --skip-permissions / --no-skip-permissions\n"
         "                                  Skip permissions\n"
         "  --help                          Show this message and exit.\n"
         "\n"
         // an epilog without markers is filled as one paragraph
         "  Examples:   1. Launchet TUI:      vemtora start\n"},
        {"varnel",
         "Usage: vemtora varnel [OPTIONS]\n"
         "\n"
         "  Generate an Varnel page from a YAML configuration file.\n"
         "\n"
         "Options:\n"
         "  -c, --config PATH  Specify the YAML config file path. If -c is provided\n"
         "                     without arguments, it will trigger interactive config\n"
         "                     selection.\n"
         "  --generate-config  Generate config_varnel_template.yaml\n"
         "  --debug            Enable debug mode\n"
         "  --help             Show this message and exit.\n"
         "\n"
         "  Examples:\n"
         "    1. Generate config template:\n"
         "       vemtora varnel --generate-config\n"
         "\n"
         "    2. Run with configuration:\n"
         "       vemtora varnel -c config.yaml\n"
         "\n"
         "    3. Run with default settings (Default mode):\n"
         "       vemtora varnel\n"
         "\n"
         "    4. Interactive config selection (when -c is provided without arguments):\n"
         "       vemtora varnel -c\n"},
    };
    th::TempDir dir;
    for (const auto& [command, page] : cases) {
        th::Outcome r = th::run({.args = {command, "--help"}, .cwd = dir.path(), .env = {{"COLUMNS", std::nullopt}}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, page) << command;
    }
}
