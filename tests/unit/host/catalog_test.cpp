// Every registered command's declaration, field by field, against the texts users see:
// name, help text, epilog (backspace marker lines included) and the options in order, with
// the name their value shows.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/registry.hpp"

using vemtora::OptionKind;

namespace {

struct Opt {
    std::string long_name;
    std::string short_name;
    OptionKind kind;
    std::string help;
};

struct Expected {
    std::string name;
    std::string help;
    std::vector<std::string> epilog;  // "\b" is a marker line
    std::vector<Opt> options;
};

// The name a value option shows on the help page, the same in every command.
const std::map<std::string, std::string> value_names = {
    {"--config", "PATH"}, {"--output-dir", "PATH"}, {"--model", "TEXT"}, {"--file", "FILE"}};

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

const std::string interactive =
    "Specify the YAML config file path. If -c is provided without arguments, it will trigger interactive config "
    "selection.";

// The four options of a configured AI command, then any extra ones.
std::vector<Opt> ai_options(const std::string& module, std::vector<Opt> extra = {},
                            const std::string& config_help = interactive) {
    std::vector<Opt> list = {
        {"--config", "-c", OptionKind::value, config_help},
        {"--generate-config", "", OptionKind::flag, "Generate config_" + module + "_template.yaml"},
        {"--debug", "", OptionKind::flag, "Enable debug mode"},
        {"--model", "-m", OptionKind::value, "Specify the Gemini model to use"},
    };
    list.insert(list.end(), extra.begin(), extra.end());
    return list;
}

// Examples 1 to 5 as most commands show them; `run_title` is example 2's title and
// `model` the quoted model of example 4.
std::vector<std::string> five_examples(const std::string& name, const std::string& run_title,
                                       const std::string& model = "gemini-3.5-flash-m") {
    return {"\b",
            "Examples:",
            "  1. Generate config template:",
            "     vemtora " + name + " --generate-config",
            "\b",
            "  2. " + run_title,
            "     vemtora " + name + " -c config.yaml",
            "\b",
            "  3. Run with default settings (Default mode):",
            "     vemtora " + name,
            "\b",
            "  4. Run with default settings and specify a model:",
            "     vemtora " + name + " --model \"" + model + "\"",
            "\b",
            "  5. Interactive config selection (when -c is provided without arguments):",
            "     vemtora " + name + " -c"};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string with_config = "Run template generation with configuration:";

std::vector<Expected> expected_commands() {
    const Opt output_files{"--output-dir", "-o", OptionKind::value, "Specify the output directory for generated files."};
    const Opt skip_editor{"--skip-editor", "-s", OptionKind::flag, "Skip the editor prompt for custom requirements."};
    return {
        {"quillary", "自動偵測版號、讀取 Git Diff 並透過 AI 生成與更新 README.md。",
         five_examples("quillary", "Run with configuration:", "Gemini 3.5 Flash (Medium)") +
             std::vector<std::string>{
                 "", "\b", "Features: README generation and updating assistant.",
                 "  - Automatically scans setup.py to determine current version and calculate next release/RC version.",
                 "  - Supports interactive selection of the source code directory.",
                 "  - Retrieves git diff since the last tag within the selected source directory.",
                 "  - Generates and updates README.md using AI, and displays diff."},
         ai_options("quillary", {}, "Specify the YAML config file path")},
        {"sendrift", "自動化 commit & push CLI 工具。",
         five_examples("sendrift", with_config) +
             std::vector<std::string>{"", "\b",
                                      "Features: Automates Git commit message generation and repository push.",
                                      "  - Generates concise commit messages based on git diff.",
                                      "  - Interactively prompts for confirmation before execution.",
                                      "  - Displays the latest Git log after successful push."},
         ai_options("sendrift")},
        {"sproutel", "Automated Python CLI project generator based on Vemtora architecture.",
         five_examples("sproutel", with_config) +
             std::vector<std::string>{"", "\b",
                                      "Features: Creates new Python CLI projects using Vemtora template repository.",
                                      "  - Downloads project templates and customizes project naming.",
                                      "  - Automatically cleans up and standardizes directory structures.",
                                      "  - Prompts for project details interactively via system editor."},
         ai_options("sproutel")},
        {"graftwell", "Specialized CLI feature generator for DoVUD.",
         five_examples("graftwell", with_config) +
             std::vector<std::string>{"", "\b",
                                      "Features: Generates new sub-commands and features for DoVUD application.",
                                      "  - Updates file structures and creates Click command entry points.",
                                      "  - Standardizes naming variables and directories automatically.",
                                      "  - Prompts for user feature descriptions in default editor."},
         ai_options("graftwell")},
        {"torvane", "Generate DoVUD-specific system prompts for Python source files.",
         five_examples("torvane", with_config) +
             std::vector<std::string>{
                 "", "\b", "Features: Generates system prompts and refactors code using Agy and API manuals.",
                 "  - Resolves local/remote API manuals for AI context.",
                 "  - Interactively triggers target script refactoring.",
                 "  - Writes back the refactored code safely into target files."},
         ai_options("torvane")},
        {"tomebrook", "Generate API Manual for scripts.",
         five_examples("tomebrook", "Run API documentation generation with configuration:") +
             std::vector<std::string>{
                 "\b", "  6. Specify the output directory:", "     vemtora tomebrook -o ./my-docs", "", "\b",
                 "Features: Generates API manuals and markdown documentation for source files.",
                 "  - Analyzes functions, classes, and comments in files.",
                 "  - Automatically structures output into markdown documentation.",
                 "  - Dynamically downloads required manual goals and skills."},
         ai_options("tomebrook", {{"--output-dir", "-o", OptionKind::value,
                                   "Specify the output directory for generated manual."}})},
        {"polywend", "技術文件處理工具 (翻譯與格式排版，基於 Agy Agent)",
         five_examples("polywend", "Run with configuration:", "Gemini 3.5 Flash (Medium)") +
             std::vector<std::string>{"\b", "  6. Specify the output directory:", "     vemtora polywend -o ./my-outputs",
                                      "\b", "  7. Skip editor prompts for custom requirements (Run automatically):",
                                      "     vemtora polywend -s",
                                      "Features: 技術文件處理工具 (中英對照翻譯與 Markdown 格式排版美化)。",
                                      "  - 支援多種中英雙向翻譯文體與排版優化功能。",
                                      "  - 自動下載並載入遠端儲存庫的 Goal 與格式規範設定檔。", "  - 支援自訂 AI 模型選擇。"},
         ai_options("polywend", {output_files, skip_editor})},
        {"flowkin", "CLI application generated from template.",
         five_examples("flowkin", "Run with configuration:", "Gemini 3.5 Flash (Medium)") +
             std::vector<std::string>{
                 "\b", "  6. Specify the output directory:", "     vemtora flowkin -o ./my-outputs", "\b",
                 "  7. Skip editor prompts for custom requirements (Run automatically):", "     vemtora flowkin -s",
                 "\b", "Features: CLI application generated from template.",
                 "  - Automatically loads and downloads goals and skills from remote repository.",
                 "  - Supports custom model selection.", "  - Supports Agy goals and skill configurations."},
         ai_options("flowkin", {output_files, skip_editor})},
        {"krestel", "CLI application for managing and executing bash scripts.",
         five_examples("krestel", with_config) +
             std::vector<std::string>{"\b", "  6. Specify the output directory:", "     vemtora krestel -o ./my-scripts",
                                      "", "\b",
                                      "Features: Manages and executes automated bash scripts using Gemini AI.",
                                      "  - Generates customized bash scripts based on user goals.",
                                      "  - Automatically grants executable permissions (chmod +x).",
                                      "  - Supports Agy goals and skill configurations."},
         ai_options("krestel", {{"--output-dir", "-o", OptionKind::value,
                                 "Specify the output directory for generated script."}})},
        {"moldery", "Generate code or document templates based on reference files and descriptions.",
         five_examples("moldery", with_config) +
             std::vector<std::string>{
                 "", "\b", "Features: Generates customized templates from reference files using Gemini AI.",
                 "  - Supports Markdown, C, and Python formats.", "  - Scans and selects reference files interactively.",
                 "  - Automatically downloads required configurations."},
         ai_options("moldery")},
        {"start", "Find and launchet TUI with preconfigured goals and skills.",
         {"", "Examples:", "  1. Launchet TUI:", "     vemtora start"},
         {{"--debug", "", OptionKind::flag, "Enable debug mode"},
          {"--model", "-m", OptionKind::value, "Specify the Gemini model to use"},
          {"--skip-permissions", "", OptionKind::flag_pair, "Skip permissions"}}},
        {"pressling", "Convert Notion exported .md files to HTML pages.",
         {"\b",
          "Examples:",
          "  1. Generate config template:",
          "     vemtora pressling --generate-config",
          "\b",
          "  2. Run with configuration:",
          "     vemtora pressling -c config.yaml",
          "\b",
          "  3. Run with default settings (Default mode):",
          "     vemtora pressling",
          "\b",
          "  4. Interactive config selection (when -c is provided without arguments):",
          "     vemtora pressling -c",
          "\b",
          "  5. Specify the output directory (when -o is provided without arguments, it defaults to current "
          "directory):",
          "     vemtora pressling -o",
          "\b",
          "  6. Specify a custom output directory:",
          "     vemtora pressling -o ./my-outputs",
          "\b",
          "  7. Process a specific Markdown file (skips interactive selection):",
          "     vemtora pressling -f my_document.md"},
         {{"--config", "-c", OptionKind::optional_value, interactive},
          {"--generate-config", "", OptionKind::flag, "Generate config_pressling_template.yaml"},
          {"--debug", "", OptionKind::flag, "Enable debug mode"},
          {"--output-dir", "-o", OptionKind::optional_value, "Specify the output directory for generated files."},
          {"--file", "-f", OptionKind::value,
           "Specify the Markdown file to process. If provided, skips interactive selection."}}},
        {"varnel", "Generate an Varnel page from a YAML configuration file.",
         {"\b", "Examples:", "  1. Generate config template:", "     vemtora varnel --generate-config", "\b",
          "  2. Run with configuration:", "     vemtora varnel -c config.yaml", "\b",
          "  3. Run with default settings (Default mode):", "     vemtora varnel", "\b",
          "  4. Interactive config selection (when -c is provided without arguments):", "     vemtora varnel -c"},
         {{"--config", "-c", OptionKind::optional_value, interactive},
          {"--generate-config", "", OptionKind::flag, "Generate config_varnel_template.yaml"},
          {"--debug", "", OptionKind::flag, "Enable debug mode"}}},
    };
}

}  // namespace

TEST(CommandCatalog, EveryRegisteredCommandDeclaresItsTexts) {
    const auto expected = expected_commands();
    const auto& registered = host::commands();
    ASSERT_EQ(registered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& want = expected[i];
        const auto& got = registered[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.help, want.help);
        EXPECT_EQ(got.epilog, joined(want.epilog));
        ASSERT_EQ(got.options.size(), want.options.size());
        for (size_t k = 0; k < want.options.size(); ++k) {
            SCOPED_TRACE(want.options[k].long_name);
            EXPECT_EQ(got.options[k].long_name, want.options[k].long_name);
            EXPECT_EQ(got.options[k].short_name, want.options[k].short_name);
            EXPECT_EQ(got.options[k].kind, want.options[k].kind);
            EXPECT_EQ(got.options[k].help, want.options[k].help);
            if (auto name = value_names.find(want.options[k].long_name); name != value_names.end()) {
                EXPECT_EQ(got.options[k].metavar, name->second);
            }
        }
    }
}
