#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <stdexcept>

#include "host/parse.hpp"
#include "host/registry.hpp"
#include "support/console.hpp"

using vemtora::CommandDecl;
using vemtora::OptionDecl;
using vemtora::OptionKind;
using vemtora::OptionValues;

namespace {

CommandDecl demo_command() {
    CommandDecl d;
    d.name = "demo";
    d.help = "A command for tests.";
    d.options = {
        {.long_name = "--config", .short_name = "-c", .kind = OptionKind::value, .help = "Config"},
        {.long_name = "--generate-config", .kind = OptionKind::flag, .help = "Generate"},
        {.long_name = "--debug", .kind = OptionKind::flag, .help = "Debug"},
        {.long_name = "--model", .short_name = "-m", .kind = OptionKind::value, .help = "Model"},
        {.long_name = "--output-dir", .short_name = "-o", .kind = OptionKind::optional_value, .help = "Out"},
        {.long_name = "--skip-editor", .short_name = "-s", .kind = OptionKind::flag, .help = "Skip"},
        {.long_name = "--skip-permissions", .kind = OptionKind::flag_pair, .help = "Perm", .default_on = true,
         .negative_name = "--no-skip-permissions"},
        {.long_name = "--file", .short_name = "-f", .kind = OptionKind::value, .help = "File",
         .check = [](const std::string& v) {
             return std::filesystem::is_regular_file(v) ? std::string() : "File '" + v + "' does not exist.";
         }},
    };
    return d;
}

struct DemoRun {
    int status;
    std::string out, err;
    std::optional<OptionValues> values;  // set when the entry ran
};

DemoRun run_demo(const std::vector<std::string>& args, std::function<int(const OptionValues&)> entry = nullptr) {
    CommandDecl d = demo_command();
    DemoRun r{};
    d.entry = [&](const OptionValues& v) {
        r.values = v;
        return entry ? entry(v) : 0;
    };
    std::vector<std::string> full{"demo"};
    full.insert(full.end(), args.begin(), args.end());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.status = host::run_commands({d}, full);
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

using Texts = std::map<std::string, std::optional<std::string>>;
using Flags = std::map<std::string, bool>;

}  // namespace

TEST(HostParse, ValuesFollowClickRules) {
    struct Case {
        std::vector<std::string> args;
        Texts texts;
        Flags flags;
    };
    const std::vector<Case> cases = {
        {{}, {{"config", std::nullopt}, {"model", std::nullopt}, {"output_dir", std::nullopt}},
         {{"debug", false}, {"generate_config", false}, {"skip_permissions", true}}},
        // a value option takes the next argument, whatever it looks like
        {{"-c", "--debug"}, {{"config", "--debug"}}, {{"debug", false}}},
        {{"-c", "--"}, {{"config", "--"}}, {}},
        {{"-m", "gemini-3.5-flash-l", "--debug"},
         {{"model", "gemini-3.5-flash-l"}, {"config", std::nullopt}},
         {{"debug", true}, {"generate_config", false}}},
        {{"--config", ""}, {{"config", ""}}, {}},
        {{"--config="}, {{"config", ""}}, {}},
        {{"--config=a=b.yaml"}, {{"config", "a=b.yaml"}}, {}},
        {{"-ca.yaml", "--model=x"}, {{"config", "a.yaml"}, {"model", "x"}}, {}},
        {{"-c", "a", "--config", "b"}, {{"config", "b"}}, {}},
        // an optional value is left out at the end and before another option
        {{"-o"}, {{"output_dir", ""}}, {}},
        {{"-o", "--debug"}, {{"output_dir", ""}}, {{"debug", true}}},
        {{"-o", "out", "-s"}, {{"output_dir", "out"}}, {{"skip_editor", true}}},
        {{"-o", "-"}, {{"output_dir", "-"}}, {}},
        // ... but a value written into the option's own argument is always its value
        {{"-o-x"}, {{"output_dir", "-x"}}, {}},
        {{"--output-dir=-x", "--debug"}, {{"output_dir", "-x"}}, {{"debug", true}}},
        {{"-so--debug"}, {{"output_dir", "--debug"}}, {{"skip_editor", true}, {"debug", false}}},
        // grouped short flags, a short value option last in the group
        {{"-sc", "x.yaml"}, {{"config", "x.yaml"}}, {{"skip_editor", true}}},
        {{"-scx.yaml"}, {{"config", "x.yaml"}}, {{"skip_editor", true}}},
        {{"--no-skip-permissions"}, {}, {{"skip_permissions", false}}},
        {{"--no-skip-permissions", "--skip-permissions"}, {}, {{"skip_permissions", true}}},
        {{"--debug", "--generate-config", "--debug"}, {}, {{"debug", true}, {"generate_config", true}}},
        // a value that looks like --help is a value, not a help request
        {{"-c", "--help"}, {{"config", "--help"}}, {}},
    };
    for (const auto& c : cases) {
        std::string label = "args: " + ::testing::PrintToString(c.args);
        DemoRun r = run_demo(c.args);
        ASSERT_EQ(r.status, 0) << label << r.err;
        ASSERT_TRUE(r.values) << label;
        for (const auto& [name, value] : c.texts) EXPECT_EQ(r.values->text(name), value) << label << " " << name;
        for (const auto& [name, value] : c.flags) EXPECT_EQ(r.values->flag(name), value) << label << " " << name;
    }
}

TEST(HostParse, UsageErrorsStopBeforeTheEntry) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-c"}, "Option '-c' requires an argument."},
        {{"--debug", "--model"}, "Option '--model' requires an argument."},
        {{"--bogus"}, "No such option: --bogus"},
        {{"--bogus=1"}, "No such option: --bogus"},
        // close long names are suggested, as click does
        {{"--conf", "a.yaml"}, "No such option: --conf Did you mean --config?"},
        {{"--debg"}, "No such option: --debg (Possible options: --debug, --model)"},
        {{"--skip-permission"},
         "No such option: --skip-permission (Possible options: --no-skip-permissions, --skip-editor, --skip-permissions)"},
        {{"-x"}, "No such option: -x"},
        {{"-sx"}, "No such option: -x"},
        {{"--debug=1"}, "Option '--debug' does not take a value."},
        {{"--help=1"}, "Option '--help' does not take a value."},
        {{"stray"}, "Got unexpected extra argument (stray)"},
        {{"a", "--", "-b"}, "Got unexpected extra arguments (a -b)"},
        {{"-f", "missing.md"}, "Invalid value for '--file' / '-f': File 'missing.md' does not exist."},
        // errors in the arguments come before a help request
        {{"--help", "-c"}, "Option '-c' requires an argument."},
    };
    for (const auto& [args, message] : cases) {
        DemoRun r = run_demo(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_FALSE(r.values) << message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Usage: vemtora demo [OPTIONS]\nTry 'vemtora demo --help' for help.\n\nError: " + message + "\n");
    }
}

TEST(HostParse, HelpWinsOverExtraArgumentsAndRunsNothing) {
    DemoRun r = run_demo({"stray", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.values);
    EXPECT_EQ(r.out.rfind("Usage: vemtora demo [OPTIONS]\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(HostParse, OnLoadRewritesArgumentsBeforeParsing) {
    CommandDecl d = demo_command();
    std::optional<std::string> seen;
    d.entry = [&](const OptionValues& v) {
        seen = v.text("config");
        return 0;
    };
    d.on_load = [](std::vector<std::string>& args) {
        if (!args.empty() && args.back() == "-c") args.emplace_back();
    };
    EXPECT_EQ(host::run_commands({d}, {"demo", "--debug", "-c"}), 0);
    EXPECT_EQ(seen, std::optional<std::string>(""));
}

TEST(HostParse, CanonicalFormJoinsValuesToLongNames) {
    auto canonical = host::canonical_args(demo_command(), {"-c", "--debug", "-o", "-s", "-m", ""});
    EXPECT_EQ(canonical.tokens, (std::vector<std::string>{"--config=--debug", "--output-dir", "", "--skip-editor",
                                                          "--model", ""}));
}

TEST(HostGuard, FailuresEscapingACommandEndWithStatusOne) {
    struct Case {
        std::function<int(const OptionValues&)> entry;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {[](const OptionValues&) -> int { throw std::runtime_error("disk full"); }, 1, "Error: disk full\n"},
        {[](const OptionValues&) -> int { throw support::Aborted(); }, 1, "Aborted!\n"},
        {[](const OptionValues&) -> int { throw 42; }, 1, "Error: an unknown failure ended the command.\n"},
        // memory that ran out is said as the system says it, not as the exception's type name
        {[](const OptionValues&) -> int { throw std::bad_alloc(); }, 1, "Error: Cannot allocate memory\n"},
        {[](const OptionValues&) { return 1; }, 1, ""},
    };
    for (const auto& c : cases) {
        DemoRun r = run_demo({}, c.entry);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(HostGroup, ProgramLevelErrors) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"nope"}, "No such command 'nope'."},
        {{"it's"}, "No such command \"it's\"."},
        {{"--version"}, "No such option: --version"},
        {{"--hepl"}, "No such option: --hepl Did you mean --help?"},
        {{"-h"}, "No such option: -h"},
        {{"--help=yes"}, "Option '--help' does not take a value."},
        {{"--"}, "Missing command."},
    };
    for (const auto& [args, message] : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = host::run_commands({demo_command()}, args);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\nTry 'vemtora --help' for help.\n\nError: " + message + "\n");
        EXPECT_EQ(status, 2);
    }
}
