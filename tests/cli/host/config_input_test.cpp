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
        th::Outcome r = th::run({.args = {"krestel", "-c", "config.yaml"}, .cwd = dir.path()});
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
