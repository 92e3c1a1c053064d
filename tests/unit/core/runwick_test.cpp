// Alias runner through a real interactive bash, git runs and queries on real
// repositories, and the README header fields.
#include <gtest/gtest.h>

#include "common/harness.hpp"
#include "vemtora/core/runwick.hpp"

namespace {

namespace fs = std::filesystem;
namespace app_logging = brenkit::app_logging;
namespace runwick = vemtora::runwick;

TEST(ShellQuote, MatchesThePosixQuoter) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"vezev-odir", "vezev-odir"},
        {"-v", "-v"},
        {"1.2.3", "1.2.3"},
        {"a_b@c%d+e=f:g,h./i", "a_b@c%d+e=f:g,h./i"},
        {"", "''"},
        {"two words", "'two words'"},
        {"it's", "'it'\"'\"'s'"},
        {"$HOME", "'$HOME'"},
        {"*.py", "'*.py'"},
        {"café", "'café'"},
        {"版本", "'版本'"},
        {"a\nb", "'a\nb'"},
    };
    for (const auto& [word, quoted] : cases) EXPECT_EQ(runwick::shell_quote(word), quoted) << word;
}

class AliasRunner : public ::testing::Test {
  protected:
    th::TempDir home;
    th::ScopedEnv home_env{{{"HOME", home.path().string()}}};
    fs::path record = home / "record.txt";
    app_logging::Logger logger{"Test"};

    void SetUp() override {
        th::write_file(home / ".bashrc", "alias rec='printf \"[%s]\\n\" >" + record.string() +
                                             "'\nalias fails='false'\n");
    }
};

TEST_F(AliasRunner, RunsTheUsersAliasWithEveryWordIntact) {
    app_logging::Capture capture;
    const auto r = runwick::run_alias_cmd_via_bash_interactive({"rec", "-v", "1.2.3", "two words", "", "it's", "$HOME"},
                                                               "rec", &logger);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "成功執行 rec");
    EXPECT_EQ(th::read_file(record), "[-v]\n[1.2.3]\n[two words]\n[]\n[it's]\n[$HOME]\n");
    const auto bash = capture.messages().at(0);
    EXPECT_TRUE(bash.starts_with("✅ 正在執行: /")) << bash;
    EXPECT_TRUE(bash.ends_with("bash -i -c rec -v 1.2.3 'two words' '' 'it'\"'\"'s' '$HOME'")) << bash;
    EXPECT_EQ(capture.messages().at(1), "🎉 成功執行 rec！");
}

TEST_F(AliasRunner, FailuresAndSilence) {
    app_logging::Capture capture;
    auto r = runwick::run_alias_cmd_via_bash_interactive({"fails"}, "fails", &logger);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.starts_with("執行 fails 失敗: ")) << r.text;
    EXPECT_NE(r.text.find("exit status 1"), std::string::npos) << r.text;
    EXPECT_EQ(capture.messages().back(), "❌ " + r.text);

    capture.clear();
    r = runwick::run_alias_cmd_via_bash_interactive({"rec", "x"});
    EXPECT_EQ(r.text, "成功執行 指令");
    EXPECT_TRUE(capture.messages().empty());

    th::ScopedEnv no_bash({{"PATH", (home / "nothing").string()}});
    r = runwick::run_alias_cmd_via_bash_interactive({"rec"}, "rec", &logger);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.starts_with("執行 rec 失敗: ")) << r.text;
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"✅ 正在執行: bash -i -c rec", "❌ " + r.text}));
}

class GitQueries : public ::testing::Test {
  protected:
    th::TempDir tmp;
    fs::path repo = tmp / "repo";
    app_logging::Logger logger{"Test"};
    std::optional<th::CurrentDir> cwd;
    th::ScopedEnv no_global{{{"GIT_CONFIG_GLOBAL", "/dev/null"}}};
    th::ScopedEnv no_system{{{"GIT_CONFIG_NOSYSTEM", "1"}}};

    void SetUp() override {
        th::init_repo(repo);
        cwd.emplace(repo);
    }
    void commit(const std::string& file, const std::string& message) {
        th::write_file(repo / file, message);
        th::git(repo, {"add", "."});
        th::git(repo, {"commit", "-q", "-m", message});
    }
};

TEST_F(GitQueries, LatestTagLosesOneLowerCaseV) {
    app_logging::Capture capture;
    EXPECT_EQ(runwick::get_latest_git_tag(&logger), std::nullopt);
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.records()[0].level, app_logging::Level::warning);
    EXPECT_TRUE(capture.records()[0].message.starts_with("⚠️ 無法從 git tag 中偵測到版本資訊: "));

    const std::vector<std::pair<std::string, std::string>> tags = {
        {"v1.4.2", "1.4.2"}, {"1.4.3", "1.4.3"}, {"V1.4.4", "V1.4.4"}, {"vv1.4.5", "v1.4.5"}, {"rel-1.4.6", "rel-1.4.6"}};
    for (const auto& [tag, version] : tags) {
        commit("f.txt", tag);
        th::git(repo, {"tag", tag});
        capture.clear();
        EXPECT_EQ(runwick::get_latest_git_tag(&logger), version);
        EXPECT_EQ(capture.messages(), std::vector<std::string>{"✅ 從 git tag 偵測到目前最新版本號: " + version});
        EXPECT_EQ(runwick::get_latest_git_tag(), version);
    }
    capture.clear();
    EXPECT_EQ(runwick::get_latest_git_tag(), "rel-1.4.6");
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(GitQueries, CommitLogSinceARevision) {
    th::git(repo, {"tag", "v1.0.0"});
    commit("a.txt", "Add a\n\nBody line");
    // Paths are shown as they are, so a name that is not UTF-8 reaches the decoder.
    th::git(repo, {"config", "core.quotePath", "false"});
    commit("b\xff.txt", "Second");
    auto short_hash = [this](const std::string& rev) {
        std::string h = th::git(repo, {"rev-parse", "--short", rev});
        return h.substr(0, h.find('\n'));
    };
    const std::string date = th::git(repo, {"log", "-1", "--date=short", "--format=%ad"}).substr(0, 10);

    EXPECT_EQ(runwick::get_git_commit_log("v1.0.0"),
              "---\n" + short_hash("HEAD") + "  (HEAD -> main)  (" + date + ") \nMessage: Second\n\nA\tb.txt\n\n---\n" +
                  short_hash("HEAD~1") + "   (" + date + ") \nMessage: Add a\n\nBody line\n\nA\ta.txt");
    const std::string all = runwick::get_git_commit_log();
    EXPECT_NE(all.find("(tag: v1.0.0)"), std::string::npos) << all;
    EXPECT_TRUE(all.ends_with("Message: initial\n\nA\tREADME.md")) << all;
    EXPECT_EQ(runwick::get_git_commit_log(""), all);
    EXPECT_EQ(runwick::get_git_commit_log("no-such-tag"), "");
}

// Tags arrive with every clone and fetch: whatever a tag is called, git reads it as a
// revision, never as one of its own options.
TEST_F(GitQueries, TagNamesAreNeverReadAsOptions) {
    const fs::path notes = tmp / "notes.txt";
    th::write_file(notes, "mine\n");
    for (const std::string& name : {"--output=" + notes.string(), std::string("-h"), std::string("--stat"),
                                   std::string("--all")}) {
        SCOPED_TRACE(name);
        commit("src/a.py", "one\n");
        th::git(repo, {"update-ref", "refs/tags/" + name, "HEAD"});
        commit("src/a.py", "one\ntwo\n");
        th::write_file(repo / "src/a.py", "one\ntwo\nthree\n");

        auto [diff, base] = runwick::get_git_diff_since_last_tag("src");
        EXPECT_EQ(base, name);
        EXPECT_NE(diff.find("+two\n+three\n"), std::string::npos) << diff;
        const std::string log = runwick::get_git_commit_log(base);
        EXPECT_TRUE(log.starts_with("---\n")) << log;
        EXPECT_EQ(log.find("---", 1), std::string::npos) << log;  // one commit since the tag

        EXPECT_EQ(th::read_file(notes), "mine\n");
        EXPECT_FALSE(fs::exists(tmp / "notes.txt.."));
        th::git(repo, {"update-ref", "-d", "refs/tags/" + name});
        th::git(repo, {"checkout", "-q", "--", "."});
    }
}

// A repository's own configuration came with it (an unpacked archive's .git/config): the
// status, diff and log queries run none of the programs it names, and the diff is git's
// own, never an external tool's empty output that would read as "no changes".
TEST_F(GitQueries, RepositoryConfigurationRunsNoProgramForAQuery) {
    const fs::path ran = tmp / "ran";
    const fs::path program = tmp / "program";
    th::write_file(program, "#!/bin/sh\necho \"$*\" >>'" + ran.string() + "'\n");
    fs::permissions(program, fs::perms::owner_all);
    th::write_file(repo / ".gitattributes", "*.py diff=tool\n");
    commit("src/a.py", "one\n");
    th::git(repo, {"tag", "v1.0.0"});
    commit("src/a.py", "one\ntwo\n");
    th::write_file(repo / "src/a.py", "one\ntwo\nthree\n");
    for (const std::string key : {"core.fsmonitor", "diff.external", "diff.tool.command", "diff.tool.textconv"}) {
        SCOPED_TRACE(key);
        th::git(repo, {"config", key, program.string()});
        runwick::git({"status", "--porcelain"});
        runwick::git({"-c", "core.quotePath=false", "status", "--porcelain", "--", ":/"});
        const std::string head_diff = runwick::git_text(runwick::git_checked({"diff", "HEAD"}));
        EXPECT_NE(head_diff.find("+three\n"), std::string::npos) << head_diff;
        const auto [tag_diff, base] = runwick::get_git_diff_since_last_tag("src");
        EXPECT_NE(tag_diff.find("+two\n+three\n"), std::string::npos) << tag_diff;
        EXPECT_NE(runwick::get_git_commit_log(base).find("M\tsrc/a.py"), std::string::npos);
        EXPECT_EQ(th::read_file(ran), "");
        th::git(repo, {"config", "--unset", key});
        fs::remove(ran);
    }
}

// Which current branch names may be pushed by name: those git accepts as branch names,
// taken as they are (git expands "@{-1}" to the branch checked out before).
TEST_F(GitQueries, BranchNamesAreCheckedAsGitDoes) {
    th::git(repo, {"checkout", "-q", "-b", "feature"});
    th::git(repo, {"checkout", "-q", "main"});
    const std::vector<std::pair<std::string, bool>> cases = {
        {"main", true},       {"feature/x-1", true}, {"版本", true},      {"--mirror", false},
        {"--receive-pack=x", false}, {"-h", false},  {"a b", false},      {"@{-1}", false},
        {"", false},          {"x..y", false},       {"HEAD", false},     {"a\nb", false},
    };
    for (const auto& [name, valid] : cases) EXPECT_EQ(runwick::is_branch_name(name), valid) << name;
}

TEST_F(GitQueries, CheckedRunsNameTheFailedCommandEitherWay) {
    th::write_file(repo / "f.txt", "a\r\nb\xff\n");
    th::git(repo, {"add", "."});
    th::git(repo, {"commit", "-q", "-m", "crlf"});
    // Captured output as text: the undecodable byte dropped, line ends normalised.
    EXPECT_EQ(runwick::git_text(runwick::git_checked({"show", "HEAD:f.txt"})), "a\nb\n");
    EXPECT_EQ(runwick::git({"log", "no-such-rev"}).status, 128);

    struct Case {
        runwick::GitCheck check;
        std::string description;
        bool explained;
    };
    for (const auto& c : std::vector<Case>{
             {{}, "Command '['git', 'log', 'no-such-rev']' returned non-zero exit status 128.", false},
             {{.naming = runwick::GitNaming::command_line},
              "Command 'git log no-such-rev' returned non-zero exit status 128.",
              false},
             {{.naming = runwick::GitNaming::command_line, .explain = true},
              "Command 'git log no-such-rev' returned non-zero exit status 128. fatal: ",
              true},
         }) {
        try {
            runwick::git_checked({"log", "no-such-rev"}, c.check);
            ADD_FAILURE() << c.description;
        } catch (const runwick::GitFailed& e) {
            const std::string what = e.what();
            if (c.explained) {
                EXPECT_TRUE(what.starts_with(c.description)) << what;
                EXPECT_NE(what.find("no-such-rev", c.description.size()), std::string::npos) << what;
            } else {
                EXPECT_EQ(what, c.description);
            }
        }
    }
}

// The diff query works on the current folder.
TEST(GitDiffSinceLastTag, FallsBackToRootCommitThenNothing) {
    th::TempDir dir;
    th::git(dir.path(), {"init", "-q", "-b", "main"});
    th::CurrentDir in(dir.path());
    // No commit at all: nothing to compare.
    auto [none_diff, none_base] = runwick::get_git_diff_since_last_tag("src");
    EXPECT_EQ(none_diff, "");
    EXPECT_FALSE(none_base);

    th::write_file(dir / "src/a.py", "one\n");
    th::write_file(dir / "other.txt", "x\n");
    th::git(dir.path(), {"-c", "user.name=T", "-c", "user.email=t@e", "add", "."});
    th::git(dir.path(), {"-c", "user.name=T", "-c", "user.email=t@e", "commit", "-q", "-m", "first"});
    const std::string root = th::git(dir.path(), {"rev-parse", "HEAD"});
    th::write_file(dir / "src/a.py", "one\ntwo\n");
    th::write_file(dir / "other.txt", "y\n");
    // Commits but no tag: compared with the root commit, only inside the folder.
    auto [diff, base] = runwick::get_git_diff_since_last_tag("src");
    EXPECT_EQ(base, root.substr(0, root.find('\n')));
    EXPECT_NE(diff.find("+two\n"), std::string::npos);
    EXPECT_EQ(diff.find("other.txt"), std::string::npos);
    EXPECT_EQ(diff.back(), '\n');

    th::git(dir.path(), {"tag", "v1.0.0"});
    auto [tag_diff, tag_base] = runwick::get_git_diff_since_last_tag("./src");
    EXPECT_EQ(tag_base, "v1.0.0");
    EXPECT_NE(tag_diff.find("+two\n"), std::string::npos);
    th::git(dir.path(), {"checkout", "-q", "--", "."});
    auto [clean_diff, clean_base] = runwick::get_git_diff_since_last_tag("src");
    EXPECT_EQ(clean_diff, "");
    EXPECT_EQ(clean_base, "v1.0.0");
}

TEST(ParseReadmeInfo, BoldLabelsAnywhere) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> author, project, version;
    };
    const std::vector<Case> cases = {
        {"plain and backticks", "**Author:** Dev Team\n**Project Name:** `tool`\n**Version:** `v2.0.1`\n", "Dev Team",
         "tool", "2.0.1"},
        {"one line with entities", "**Author:** Ann &nbsp; **Project Name:** P &nbsp; **Version:** V3.1 &nbsp;", "Ann", "P",
         "3.1"},
        {"case and line breaks in labels", "**project\nname:** lower\n**VERSION:** vv9\n", std::nullopt, "lower", "v9"},
        {"value on the next line", "**Author:**\n\n   Next Line\n", "Next Line", std::nullopt, std::nullopt},
        {"blank before an ampersand", "**Author:** &amp;", "", std::nullopt, std::nullopt},
        {"blanks to the end", "**Version:**   ", std::nullopt, std::nullopt, ""},
        {"label then only line breaks", "**Author:**\n\n", std::nullopt, std::nullopt, std::nullopt},
        {"CRLF line ends", "**Author:** Win\r\n**Version:** 1.0\r\n", "Win", std::nullopt, "1.0"},
        {"no labels", "# Title\n", std::nullopt, std::nullopt, std::nullopt},
    };
    th::TempDir tmp;
    app_logging::Logger logger{"Test"};
    app_logging::Capture capture;
    for (const auto& c : cases) {
        th::write_file(tmp / "README.md", c.text);
        const auto info = runwick::parse_readme_info(tmp / "README.md", &logger);
        EXPECT_EQ(info.author, c.author) << c.name;
        EXPECT_EQ(info.project_name, c.project) << c.name;
        EXPECT_EQ(info.version, c.version) << c.name;
    }
    EXPECT_TRUE(capture.messages().empty());

    const auto missing = runwick::parse_readme_info(tmp / "none.md", &logger);
    EXPECT_FALSE(missing.author || missing.project_name || missing.version);
    EXPECT_TRUE(capture.messages().empty());

    const auto folder = runwick::parse_readme_info(tmp.path(), &logger);
    EXPECT_FALSE(folder.author || folder.project_name || folder.version);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_TRUE(capture.messages()[0].starts_with("⚠️ 解析 README.md 失敗: "));
}

}  // namespace
