// A configuration named with -c, and the agent launcher's command set, must be regular
// files of sane size: a device, a FIFO or a huge file is refused without being read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;

th::Outcome capped_run(const fs::path& cwd, const std::vector<std::string>& args,
                       std::map<std::string, std::optional<std::string>> env = {}, bool fake_agy = false) {
    return th::run({.args = args, .cwd = cwd, .env = std::move(env), .fake_agy = fake_agy, .capped = true});
}

}  // namespace

TEST(ConfigInput, OnlyARegularFileOfSaneSizeIsLoaded) {
    th::TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe.yaml").c_str(), 0600), 0);
    th::write_file(dir / "huge.yaml", "");
    fs::resize_file(dir / "huge.yaml", std::uintmax_t{1} << 30);  // sparse: no disk used
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {"pipe.yaml", "❌ 設定檔不是一般檔案: pipe.yaml\n"},
        {"/dev/zero", "❌ 設定檔不是一般檔案: /dev/zero\n"},
        {"/dev/null", "❌ 設定檔不是一般檔案: /dev/null\n"},
        {"huge.yaml", "❌ 設定檔超過 16 MiB 上限: huge.yaml\n"},
    };
    for (const auto& c : cases) {
        th::Outcome r = capped_run(dir.path(), {"pressling", "-c", c.path});
        EXPECT_EQ(r.status, 1) << c.path << "\n" << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.reason));
        EXPECT_THAT(r.err, HasSubstr("❌ Error: Config file '" + c.path + "' could not be loaded.\n"));
    }
}

TEST(ConfigInput, CommandSetThatIsNoRegularFileIsRefusedAndTheAgentStillStarts) {
    th::TempDir dir;
    fs::path work = dir / "work";
    fs::create_directories(work / "_agy/skill");
    fs::create_directories(dir / "agy");
    fs::path set = work / "_agy/skill/agy-commands.yaml";
    std::map<std::string, std::optional<std::string>> env{{"FAKE_AGY_ARGV", (dir / "argv").string()},
                                                          {"FAKE_AGY_SCRIPT", (dir / "agy").string()}};

    ASSERT_EQ(mkfifo(set.c_str(), 0600), 0);
    th::Outcome r = capped_run(work, {"start"}, env, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 設定檔不是一般檔案: _agy/skill/agy-commands.yaml\n"));
    EXPECT_FALSE(fs::exists(work / ".agents"));

    fs::remove(set);
    th::write_file(set, "");
    fs::resize_file(set, std::uintmax_t{1} << 30);
    r = capped_run(work, {"start"}, env, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 設定檔超過 16 MiB 上限: _agy/skill/agy-commands.yaml\n"));
    EXPECT_FALSE(fs::exists(work / ".agents"));
    EXPECT_EQ(th::fake_agy_calls(dir / "argv").size(), 2u);
}

// A configuration value holding a NUL character is refused as the file is loaded, with a
// line naming its key, before anything is asked or any agent runs: the system would take the value as cut at
// the NUL (an output folder "out\0/x" is "out" to it, where every name looks taken).
TEST(ConfigInput, ValueHoldingANulCharacterIsRefusedNamingItsKey) {
    struct Case {
        std::string command;
        std::string yaml;
        std::string key;
    };
    const Case cases[] = {
        {"krestel", "config:\n  output_dir: \"out\\0/x\"\n", "config.output_dir"},
        {"moldery", "config:\n  output_dir: \"out\\0/x\"\n", "config.output_dir"},
        {"pressling", "config:\n  output_dir: \"out\\0/x\"\n", "config.output_dir"},
        {"tomebrook", "config:\n  backup_model: [a, \"b\\0\"]\n", "config.backup_model[1]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        th::TempDir dir;
        th::write_file(dir / "config.yaml", c.yaml);
        th::write_file(dir / "a.md", "# A\n");
        fs::create_directories(dir / "agy");
        th::Outcome r = capped_run(dir.path(), {c.command, "-c", "config.yaml"},
                                   {{"FAKE_AGY_ARGV", (dir / "argv").string()}, {"FAKE_AGY_SCRIPT", (dir / "agy").string()}},
                                   true);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr("❌ 設定檔 config.yaml 的設定值 " + c.key + " 含有 NUL 字元，無法使用。\n"));
        EXPECT_THAT(r.err, HasSubstr("❌ Error: Config file 'config.yaml' could not be loaded.\n"));
        EXPECT_FALSE(fs::exists(dir / "out"));
        EXPECT_FALSE(fs::exists(dir / "argv")) << "the agent ran";
    }
}

// The configuration named with -c is opened and read once, whatever the frame checks.
TEST(ConfigInput, ConfigurationFileIsReadOnce) {
    th::TempDir dir;
    const std::vector<std::string> documents = {"config:\n  goal_path: missing-goal.yaml\n", ""};
    for (const auto& document : documents) {
        SCOPED_TRACE(document);
        th::write_file(dir / "config.yaml", document);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        // Closes too: the system merges events that follow each other unread and alike.
        ASSERT_GE(::inotify_add_watch(watch, (dir / "config.yaml").c_str(), IN_OPEN | IN_CLOSE), 0);
        th::Outcome r = th::run({.args = {"krestel", "-c", "config.yaml"}, .cwd = dir.path(), .fake_agy = true});
        int opens = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->mask & IN_OPEN) ++opens;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        ::close(watch);
        EXPECT_EQ(opens, 1) << r.err;
        EXPECT_EQ(r.status, document.empty() ? 0 : 1) << r.err;
    }
}

// A configuration that the bare -c search found is a file of the working copy: a place it
// sets that leads out of the working copy (by its own words or through a committed link)
// ends the run before anything is read or written, and the line says how to allow it. The
// same file named with -c PATH is the user's, and so is a folder given with -o.
TEST(ConfigInput, FoundConfigurationSetsPlacesOnlyInsideTheWorkingCopy) {
    struct Case {
        std::string name;
        std::string command;
        std::string config;  // config.yaml; {outside} is the folder outside, canonical
        th::Links links;
        std::vector<std::string> args;
        std::string refused;  // the setting and its value as the line names them; "" when the run goes on
        std::string page = "";  // the page the run goes on to write, below the temporary folder
    };
    const std::vector<Case> cases = {
        {"page folder elsewhere", "pressling", "config:\n  output_path: \"{outside}/site\"\n", {}, {"-c"},
         "'output_path' of the configuration file './config.yaml', which -c found without a path, leads outside the "
         "working copy: '{outside}/site'"},
        {"sources above", "pressling", "config:\n  input_path: \"../outside/notes\"\n", {}, {"-c"},
         "'input_path' of the configuration file './config.yaml', which -c found without a path, leads outside the "
         "working copy: '../outside/notes'"},
        {"page folder through a link", "pressling", "config:\n  output_path: \"site\"\n", {{"site", "../outside/site"}},
         {"-c"}, "'output_path' of the configuration file './config.yaml', which -c found without a path, leads outside "
                 "the working copy: 'site'"},
        {"package above", "varnel", "download_link: \"../outside/package.zip\"\ndocument1_file: \"index.md\"\n", {},
         {"-c"}, "'download_link' of the configuration file './config.yaml', which -c found without a path, leads "
                 "outside the working copy: '../outside/package.zip'"},
        {"document elsewhere", "varnel", "document1_file: \"index.md\"\ndocument02_file: \"{outside}/notes/secret.md\"\n",
         {}, {"-c"}, "'document02_file' of the configuration file './config.yaml', which -c found without a path, leads "
                     "outside the working copy: '{outside}/notes/secret.md'"},
        {"named by the user", "pressling", "config:\n  output_path: \"{outside}/site\"\n", {}, {"-c", "config.yaml"}, "", "outside/site/index.html"},
        {"folder given with -o", "pressling", "config:\n  output_path: \"/nowhere\"\n", {}, {"-c", "-o", "{outside}/site"},
         "", "outside/site/index.html"},
        {"web links and places inside", "varnel",
         "download_link: \"dist/../package.zip\"\ndocument1_title: \"Index\"\ndocument1_file: \"index.md\"\ndocument2_file: \"https://example.org/a\"\n",
         {}, {"-c"}, "", "work/index.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::TempDir tmp;
        const fs::path work = tmp / "work", outside = tmp / "outside";
        th::write_file(outside / "site/index.html", "mine\n");
        th::write_file(outside / "notes/secret.md", "# PRIVATE\n");
        th::write_file(work / "index.md", "# Index\n");
        th::plant_links(work, c.links);
        const std::string config = th::with_outside(c.config, outside);
        th::write_file(work / "config.yaml", config);
        std::vector<std::string> args = {c.command};
        for (const auto& arg : c.args) args.push_back(th::with_outside(arg, outside));
        // The one candidate at pressling's menu; Enter at varnel's list of unlisted files.
        th::Outcome r = th::run({.args = args, .cwd = work, .input = "1\n\n", .capped = true});
        if (c.refused.empty()) {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_THAT(th::read_file(tmp / c.page), HasSubstr("Index"));
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr("❌ Error: The setting " + th::with_outside(c.refused, outside) +
                                     ". Name the file with -c ./config.yaml to allow it.\n"));
        EXPECT_TRUE(th::read_file(outside / "site/index.html") == "mine\n") << "the page outside was replaced";
        EXPECT_EQ(th::read_file(work / "config.yaml"), config);
        for (const char* made : {"index.html", "secret.html", "package.zip"}) EXPECT_FALSE(fs::exists(work / made)) << made;
        EXPECT_FALSE(fs::exists(outside / "package.zip"));
    }
}
