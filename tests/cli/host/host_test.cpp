#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "harness.hpp"
#include "host/help.hpp"
#include "host/registry.hpp"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using th::has;
using ::testing::Not;

TEST(HostCli, UnknownCommandIsAUsageError) {
    th::TempDir dir;
    th::Outcome r = th::run({.args = {"frobnicate", "-c"}, .cwd = dir.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\nTry 'vemtora --help' for help.\n\n"
                     "Error: No such command 'frobnicate'.\n");
}

#ifdef __linux__
// What only a download (libcurl), a package (libzip) or text beyond ASCII (ICU) needs is
// loaded when it is needed, and the C++ runtime and fmt are inside the program: it starts
// with the C library alone, without the relocations of the others.
TEST(HostCli, StartsWithoutTheLibrariesFewRunsNeed) {
    th::TempDir dir;
    th::Outcome r = th::run({.args = {th::vemtora_binary().string()}, .cwd = dir.path(), .program = "ldd"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("libc.so"));
    std::vector<std::string> loaded_later = {"libcurl", "libzip", "libcrypto", "libssl", "libbz2", "libicu", "libfmt"};
#ifdef VEMTORA_STATIC_CXX_RUNTIME
    loaded_later.push_back("libstdc++");
#endif
    for (const auto& library : loaded_later) EXPECT_THAT(r.out, Not(HasSubstr(library)));
}
#endif

// A standard stream the program was started without is the null device, as it is for
// git: a question sees the end of input at once ("Aborted!", status 1) instead of
// waiting on a descriptor of the program's own that took the stream's number.
TEST(HostCli, ClosedStandardStreamsAreTheNullDevice) {
    th::TempDir dir;
    th::init_repo(dir / "repo");
    fs::create_directories(dir / "home");
    for (const std::string closed : {"<&-", "<&- 2>&-", "<&- >&- 2>&-"}) {
        SCOPED_TRACE(closed);
        // Capped: a run that waits is ended after a minute and fails the test.
        th::Outcome r = th::run({.args = {"-c", "exec \"$0\" quillary " + closed, th::vemtora_binary().string()},
                                 .cwd = dir / "repo",
                                 .env = {{"HOME", (dir / "home").string()}},
                                 .fake_agy = true,
                                 .program = "bash",
                                 .capped = true});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        if (!has(closed, "2>&-")) {
            EXPECT_THAT(r.err, HasSubstr("Aborted!\n"));
        }
    }
}

// Output to a pipe whose reader has gone (`vemtora pressling | head -c 10` once head has
// ended): what cannot be shown is dropped, the work goes on to its end, and the status is
// the work's own.
TEST(HostCli, OutputNobodyReadsIsDroppedAndTheWorkFinishes) {
    struct Case {
        std::vector<std::string> args;
        int status;
        bool page;
    };
    for (const auto& c : {Case{{"pressling", "-f", "a.md"}, 0, true},
                          Case{{"pressling", "-f", "a.md", "-o", "blocker"}, 1, false}}) {
        SCOPED_TRACE(c.args.size());
        th::TempDir dir;
        th::write_file(dir / "a.md", "# Title\n\ntext\n");
        th::write_file(dir / "blocker", "a file where the output folder would be\n");
        th::Outcome r = th::run({.args = c.args, .cwd = dir.path(), .closed_reader = true});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(fs::exists(dir / "a.html"), c.page);
    }
}

#ifdef __linux__
// Output that cannot be written (a full disk) is an error, as it is for ls and git: the
// run says so with the system's reason and ends with status 1, not as if it had shown it.
TEST(HostCli, AFailedWriteToStandardOutputIsAnError) {
    for (const auto& args : {std::vector<std::string>{"--help"}, {"varnel", "--generate-config"}}) {
        SCOPED_TRACE(args.back());
        th::TempDir dir;
        std::vector<std::string> command{"-c", "exec \"$0\" \"$@\" > /dev/full", th::vemtora_binary().string()};
        command.insert(command.end(), args.begin(), args.end());
        th::Outcome r = th::run({.args = command, .cwd = dir.path(), .program = "bash"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err, "Error: write error: No space left on device\n");
    }
}
#endif

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
    std::set<std::string> covered;
    for (const auto& c : cases) covered.insert(c.command);
    EXPECT_EQ(covered, th::command_names([](const auto& c) { return !c.default_yaml.empty(); }));
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

// A template file that the user has edited is not lost to --generate-config: its content
// moves to a free ".bak" name and a warning line says so before the success line. A file
// that already holds the template is simply written again.
TEST(HostCli, GenerateConfigKeepsAnEditedTemplate) {
    const std::string name = "config_moldery_template.yaml";
    const std::string fresh = "config:\n  output_dir: \"./gen-template\"\n  default_model: \"gemini-3.5-flash-m\"\n" + backup;
    struct Case {
        std::string name;
        std::map<std::string, std::string> before;  // files there before the run
        std::string kept_as;                        // "" when nothing is kept aside
    };
    const std::vector<Case> cases = {
        {"no file", {}, ""},
        {"the template as written", {{name, fresh}}, ""},
        {"an edited template", {{name, "config:\n  output_dir: \"./mine\"\n"}}, name + ".bak"},
        {"edited again, a copy kept already",
         {{name, "config:\n  output_dir: \"./mine\"\n"}, {name + ".bak", "older\n"}},
         name + "_1.bak"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::TempDir dir;
        for (const auto& [file, text] : c.before) th::write_file(dir / file, text);
        th::Outcome r = th::run({.args = {"moldery", "--generate-config"}, .cwd = dir.path()});
        EXPECT_EQ(r.status, 0) << r.err;
        const th::fs::path file = th::fs::absolute(dir / name);
        EXPECT_EQ(r.out, "✅ Success! Template file created at: " + file.string() + "\n");
        EXPECT_EQ(th::read_file(file), fresh);
        if (c.kept_as.empty()) {
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_EQ(r.err, "⚠️ " + name + " 的內容與範本不同，已將它保留為 " + c.kept_as + "。\n");
        EXPECT_EQ(th::read_file(dir / c.kept_as), c.before.at(name));
        if (c.before.count(name + ".bak")) {
            EXPECT_EQ(th::read_file(dir / (name + ".bak")), c.before.at(name + ".bak"));
        }
    }
}

// Every help page, byte for byte against its copy in tests/golden/help/: the program's own,
// shown for --help and for no argument at all, and each command's. After a change to a page,
// scripts/update-help-goldens writes the copies anew and shows what changed.
TEST(HostCli, HelpPagesAreTheirGoldenCopies) {
    const th::fs::path golden = th::source_dir() / "tests/golden/help";
    std::vector<std::pair<std::vector<std::string>, std::string>> pages = {{{"--help"}, "vemtora"}, {{}, "vemtora"}};
    for (const auto& command : host::commands()) pages.push_back({{command.name, "--help"}, command.name});
    th::TempDir dir;
    std::set<std::string> copies;
    for (const auto& [args, name] : pages) {
        std::string command_line = "vemtora";
        for (const auto& arg : args) command_line.append(" ").append(arg);
        SCOPED_TRACE(command_line);
        th::Outcome r = th::run({.args = args, .cwd = dir.path(), .env = {{"COLUMNS", std::nullopt}}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, th::read_file(golden / (name + ".txt"))) << "scripts/update-help-goldens writes the copies anew";
        EXPECT_THAT(r.out, Not(HasSubstr("\b"))) << "a paragraph mark of the help text shows on the page";
        copies.insert(name + ".txt");
    }
    // No copy is kept of a command that is gone.
    std::set<std::string> files;
    for (const auto& entry : th::fs::directory_iterator(golden)) files.insert(entry.path().filename().string());
    EXPECT_EQ(files, copies);
}

// The pages above come with the program; on a narrower terminal every page is laid out
// anew at its width.
TEST(HostCli, HelpPagesFollowANarrowerWidth) {
    std::vector<std::pair<std::vector<std::string>, std::string>> pages = {
        {{"--help"}, host::help::group_page(host::commands(), 58)}};
    for (const auto& command : host::commands())
        pages.push_back({{command.name, "--help"}, host::help::command_page(command, 58)});
    th::TempDir dir;
    for (const auto& [args, page] : pages) {
        SCOPED_TRACE(args.front());
        th::Outcome r = th::run({.args = args, .cwd = dir.path(), .env = {{"COLUMNS", "60"}}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, page);
        EXPECT_NE(r.out, th::read_file(th::source_dir() / "tests/golden/help" / (args.size() == 1 ? "vemtora.txt" : args.front() + ".txt")));
    }
}
