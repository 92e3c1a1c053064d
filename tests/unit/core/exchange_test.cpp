#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"

namespace fs = std::filesystem;
namespace ex = vemtora::exchange;
using brenkit::app_logging::Capture;
using brenkit::app_logging::Level;

namespace {

// Runs a test inside a fresh folder whose "repo" subfolder stands for the maker's
// repository.
class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::create_directories(dir_ / "work");
        fs::current_path(dir_ / "work");
    }
    void TearDown() override { fs::current_path(previous_); }

    th::ScopedEnv repo_env() {
        return th::ScopedEnv({{"VEMTORA_REPO_BASE_URL", "file://" + (dir_ / "repo").string()}});
    }

    th::TempDir dir_;
    fs::path previous_;
    const brenkit::app_logging::Logger log_{"ExchangeTest"};
};

}  // namespace

TEST_F(ExchangeTest, GoalAndSkillAreFetchedByFileNameIntoTheirOwnFolders) {
    th::write_file(dir_ / "repo/_agy/goal/g.yaml", "goal: text\n");
    th::write_file(dir_ / "repo/_agy/skill/s.yaml", "skill: text\n");
    auto env = repo_env();
    Capture capture;

    // A goal configured outside _agy/goal/ keeps its location; only its name picks the download.
    auto failure = ex::fetch_goal_and_skill("custom/place/g.yaml", "_agy/skill/s.yaml", log_);

    EXPECT_FALSE(failure.has_value());
    EXPECT_EQ(th::read_file("custom/place/g.yaml"), "goal: text\n");
    EXPECT_EQ(th::read_file("_agy/skill/s.yaml"), "skill: text\n");
    EXPECT_FALSE(fs::exists("_agy/goal"));
}

// The goal and skill fetched by file name or from fixed repository files: either one
// missing fails the same way, with the one message.
TEST_F(ExchangeTest, AMissingSkillFailsLikeAMissingGoal) {
    th::write_file(dir_ / "repo/_agy/goal/g.yaml", "goal\n");
    auto env = repo_env();
    using Fetch = std::function<std::optional<support::Result>(const char* goal, const char* skill)>;
    const std::vector<std::pair<std::string, Fetch>> fetches = {
        {"by file name", [&](const char* goal, const char* skill) { return ex::fetch_goal_and_skill(goal, skill, log_); }},
        {"fixed", [&](const char* goal, const char* skill) {
             return ex::fetch_fixed({{goal, goal, "Goal 設定檔"}, {skill, skill, "Skill 設定檔"}}, log_);
         }}};
    for (const auto& [how, fetch] : fetches) {
        for (const auto& [goal, skill] : {std::pair{"_agy/goal/g.yaml", "_agy/skill/none.yaml"},
                                          std::pair{"_agy/goal/none.yaml", "_agy/skill/none.yaml"}}) {
            SCOPED_TRACE(how);
            Capture capture;
            auto failure = fetch(goal, skill);
            ASSERT_TRUE(failure.has_value()) << goal;
            EXPECT_FALSE(failure->ok);
            EXPECT_EQ(failure->text, "❌ 缺少必要的 Goal 或 Skill 設定檔");
            ASSERT_FALSE(capture.records().empty());
            EXPECT_EQ(capture.records().back().level, Level::error);
            EXPECT_EQ(capture.records().back().message, "❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。");
            // A download that failed leaves no empty folder behind in the working copy.
            EXPECT_FALSE(fs::exists("_agy/skill")) << goal;
        }
    }
    EXPECT_TRUE(fs::is_regular_file("_agy/goal/g.yaml"));
}

TEST_F(ExchangeTest, TemplateIsOptional) {
    th::write_file(dir_ / "repo/template/t.md", "# T\n");
    auto env = repo_env();
    Capture capture;

    auto missing = ex::fetch_template("template/none.md", log_);
    EXPECT_FALSE(missing.has_value());
    EXPECT_EQ(ex::template_ref(missing), "");
    ASSERT_FALSE(capture.records().empty());
    EXPECT_EQ(capture.records().back().level, Level::warning);
    EXPECT_EQ(capture.records().back().message, "⚠️ 無法取得範本檔案 none.md，將繼續執行但不套用範本。");
    EXPECT_FALSE(fs::exists("template"));

    capture.clear();
    auto present = ex::fetch_template("template/t.md", log_);
    ASSERT_TRUE(present.has_value());
    EXPECT_EQ(capture.messages().back(), "✅ 已載入輸出範本：t.md");
    std::string cwd = fs::current_path().generic_string();
    EXPECT_EQ(ex::template_ref(present),
              "- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：@[" + cwd + "/template/t.md]\n");
}

TEST_F(ExchangeTest, PromptPiecesNameAbsolutePaths) {
    std::string cwd = fs::current_path().generic_string();
    EXPECT_EQ(ex::reference("./_agy/./current-log.txt"), "@[" + cwd + "/_agy/current-log.txt]");
    EXPECT_EQ(ex::reference("../up/x.md"), "@[" + cwd + "/../up/x.md]");
    EXPECT_EQ(ex::output_section("_agy/generated-readme.md"),
              "\n\n【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的 Markdown 內容\n直接寫入到絕對路徑：`" + cwd +
                  "/_agy/generated-readme.md` 檔案中。\n");
    EXPECT_EQ(ex::download_url("_agy/goal/", "elsewhere/deep/g.yaml"),
              brenkit::fileIO::repo_url("_agy/goal/g.yaml"));
}

TEST_F(ExchangeTest, OutputIsReadStrippedAndRemoved) {
    th::write_file("_agy/out.txt", "\n  feat: add x\n\nbody  \n\n");
    th::write_file("_agy/in.txt", "diff");
    Capture capture;
    EXPECT_EQ(ex::read_output("_agy/out.txt", "AI", log_).text, "feat: add x\n\nbody");
    EXPECT_EQ(ex::read_output("_agy/none.txt", "AI", log_).text, "");
    ex::remove_files({"_agy/in.txt", "_agy/none.txt", "_agy/out.txt"});
    EXPECT_FALSE(fs::exists("_agy/in.txt"));
    EXPECT_FALSE(fs::exists("_agy/out.txt"));
}

// An answer is text as the agent's tools save it: a UTF-8 mark is dropped, and UTF-16 with
// its mark (what Windows PowerShell's Out-File writes) is decoded rather than mangled.
TEST_F(ExchangeTest, AnAnswerInUtf16IsDecoded) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-8 with a mark", "\xEF\xBB\xBF# \xE6\x96\x87\r\nx\r\n", "# \xE6\x96\x87\nx"},
        {"UTF-16LE", std::string("\xFF\xFE#\0 \0\x87\x65\r\0\n\0x\0", 14), "# \xE6\x96\x87\nx"},
        {"UTF-16BE", std::string("\xFE\xFF\0#\0 \x65\x87\0\r\0\n\0x", 14), "# \xE6\x96\x87\nx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::write_file("_agy/answer.md", c.bytes);
        EXPECT_EQ(ex::read_output("_agy/answer.md", "AI", log_).text, c.text);
    }
}

// A saved answer takes the line ends of the file it replaces: CRLF only where every line
// of that file ends so; LF for a new, empty, one-line or mixed file, and always LF where
// asked (a script).
TEST_F(ExchangeTest, SavedAnswerTakesTheLineEndsOfTheFileItReplaces) {
    struct Case {
        const char* name;
        std::optional<std::string> replaced;
        ex::LineEnds ends;
        std::string saved;
    };
    const Case cases[] = {
        {"new file", std::nullopt, ex::LineEnds::of_replaced_file, "a\nb"},
        {"LF file", "x\ny\n", ex::LineEnds::of_replaced_file, "a\nb"},
        {"CRLF file", "x\r\ny\r\n", ex::LineEnds::of_replaced_file, "a\r\nb"},
        {"CRLF file, LF asked", "x\r\ny\r\n", ex::LineEnds::lf, "a\nb"},
        {"mixed file", "x\r\ny\n", ex::LineEnds::of_replaced_file, "a\nb"},
        {"one line without an end", "x", ex::LineEnds::of_replaced_file, "a\nb"},
        {"empty file", "", ex::LineEnds::of_replaced_file, "a\nb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove("doc.md");
        if (c.replaced) th::write_file("doc.md", *c.replaced);
        th::write_file("_agy/answer.md", "\xEF\xBB\xBF a\r\nb\r\n");
        ex::AnswerFile file("_agy/answer.md", log_);
        auto answer = ex::read_output("_agy/answer.md", "AI", log_);
        EXPECT_EQ(answer.text, "a\nb");
        EXPECT_TRUE(ex::save_answer("doc.md", answer.text, file, "doc", log_, c.ends).ok);
        EXPECT_EQ(th::read_file("doc.md"), c.saved);
        EXPECT_FALSE(fs::exists("_agy/answer.md"));
    }
}

// The agent's answer file stays until the caller has saved the answer; dropped unsaved it
// stays on disk, and one line says where.
TEST_F(ExchangeTest, AnAnswerStaysUntilItIsSaved) {
    th::ScopedEnv env({{"PATH", th::fakes_dir().string() + ":/usr/bin:/bin"},
                       {"FAKE_AGY_ARGV", (dir_ / "argv").string()},
                       {"FAKE_AGY_SCRIPT", (dir_ / "script").string()}});
    const fs::path answer = "_agy/answer.md";
    const std::string prompt = ex::output_section(answer);
    const std::string kept_line = "⚠️ AI 產出的內容已保留於：" + (dir_ / "work/_agy/answer.md").generic_string();
    auto agent = [&](const std::string& out, const std::string& status) {
        fs::remove_all(dir_ / "script");
        if (!out.empty()) th::write_file(dir_ / "script/out", out);
        th::write_file(dir_ / "script/status", status);
    };
    th::write_file(answer, "stale answer\n");

    struct Case {
        const char* name;
        std::string out, status;
        bool ok;
        std::string text;
        std::function<void(ex::AgentAnswer&)> then;  // what the caller does with the answer
        bool kept;
    };
    const Case cases[] = {
        {"saved: the file goes", "\n  new answer\n", "0", true, "new answer", [](auto& a) { a.file.saved(); }, false},
        {"not wanted: the file goes", "draft\n", "0", true, "draft", [](auto& a) { a.file.discard(); }, false},
        {"dropped unsaved: kept", "work\n", "0", true, "work", [](auto&) {}, true},
        {"a failed run's answer: kept", "partial\n", "3", false, "", [](auto&) {}, true},
        {"nothing written: no stale answer", "", "0", true, "", [](auto&) {}, false},
    };
    for (const auto& c : cases) {
        agent(c.out, c.status);
        th::write_file(answer, "stale answer\n");
        Capture capture;
        {
            auto pass = ex::agent_pass(answer, {.prompt = prompt}, "AI", log_);
            EXPECT_EQ(pass.ok, c.ok) << c.name << ": " << pass.text;
            if (c.ok) {
                EXPECT_EQ(pass.text, c.text) << c.name;
            }
            if (!c.out.empty()) {
                EXPECT_EQ(th::read_file(answer), c.out) << c.name << ": kept until the caller decides";
            }
            c.then(pass);
        }
        EXPECT_EQ(fs::exists(answer), c.kept) << c.name;
        if (c.kept) {
            EXPECT_EQ(th::read_file(answer), c.out) << c.name;
        }
        EXPECT_EQ(capture.text().find(kept_line) != std::string::npos, c.kept) << c.name << "\n" << capture.text();
        fs::remove(answer);
    }
}

// What the agent is handed, by an added folder or a folder its prompt names, holds no link
// that the repository brought (git tracks it) and that leads out of the working copy. A
// link of the user's own, one that stays inside, one in a folder not handed, a file named
// by itself and a folder outside the working copy (its links are its own) pass.
TEST_F(ExchangeTest, TrackedLinksOutOfAHandedFolderAreRefused) {
    const fs::path outside = dir_ / "outside";
    th::write_file(outside / "id_rsa", "key\n");
    th::init_repo(outside / "project");
    th::plant_links(outside / "project", {{"lib/readme", "../README.md"}});
    th::git(outside / "project", {"add", "lib"});
    const std::string why =
        "交給 AI 的資料夾中有 git 追蹤的符號連結指向工作目錄之外，AI 讀取資料夾時會跟著連結讀到外面的檔案，未執行 AI：";
    th::Links twelve;
    std::string ten;
    for (int i = 1; i <= 12; ++i) {
        const std::string name = "demo/k" + std::to_string(i / 10) + std::to_string(i % 10);
        twelve.push_back({name, (outside / "id_rsa").string()});
        if (i <= 10) ten += (i > 1 ? "、" : "") + name + " → {outside}/id_rsa";
    }
    struct Case {
        std::string name;
        th::Links tracked, untracked;
        std::vector<std::string> handed;  // after "agy"; "{work}" stands for the working copy
        std::string line;                 // "" when nothing is refused
    };
    const std::vector<Case> cases = {
        {"folder in the prompt", {{"demo/config.py", (outside / "id_rsa").string()}}, {},
         {"--print", "請閱讀 @[{work}/demo] 目錄"}, why + "demo/config.py → {outside}/id_rsa"},
        {"added folder, a link to a folder and a chain of links",
         {{"demo/home", "../../outside"}, {"demo/a", "b"}}, {{"demo/b", (outside / "id_rsa").string()}},
         {"--add-dir", "demo", "--print", "x"}, why + "demo/a → {outside}/id_rsa、demo/home → {outside}"},
        {"the current folder", {{"docs/ssh/key", (outside / "id_rsa").string()}}, {},
         {"--add-dir", ".", "--print", "x"}, why + "docs/ssh/key → {outside}/id_rsa"},
        {"more than ten", twelve, {}, {"--add-dir", "demo"}, why + ten + "，另有 2 個"},
        {"a virtual environment's interpreter", {}, {{"demo/.venv/bin/python", "/usr/bin/python3"}},
         {"--add-dir", "demo", "--print", "@[{work}/demo]"}, ""},
        {"links that stay inside", {{"demo/alias.py", "config.py"}, {"demo/up", "../README.md"}}, {},
         {"--add-dir", "demo"}, ""},
        {"a folder not handed", {{"other/key", (outside / "id_rsa").string()}}, {},
         {"--add-dir", "demo", "--print", "@[{work}/demo]"}, ""},
        {"a file named by itself", {{"demo/config.py", (outside / "id_rsa").string()}}, {},
         {"--print", "@[{work}/demo/config.py]"}, ""},
        {"a folder outside the working copy", {}, {},
         {"--add-dir", (outside / "project").string(), "--print", "@[" + (outside / "project").string() + "]"}, ""},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        const fs::path work = dir_ / ("case" + std::to_string(i));
        th::init_repo(work);
        th::write_file(work / "demo/config.py", "x = 1\n");
        th::plant_links(work, c.tracked);
        for (const auto& [name, target] : c.tracked) th::git(work, {"add", name});
        th::plant_links(work, c.untracked);
        th::CurrentDir in(work);
        std::vector<std::string> argv{"agy"};
        for (const auto& arg : c.handed) argv.push_back(support::replace_all(arg, "{work}", work.generic_string()));
        Capture capture;
        const auto refused = ex::refuse_tracked_links_out(argv, log_);
        if (c.line.empty()) {
            EXPECT_FALSE(refused) << refused->text;
            EXPECT_TRUE(capture.records().empty());
            continue;
        }
        const std::string line = th::with_outside(c.line, outside);
        ASSERT_TRUE(refused);
        EXPECT_FALSE(refused->ok);
        EXPECT_EQ(refused->text, line);
        EXPECT_EQ(capture.messages(), std::vector<std::string>{"❌ " + line});
    }
}
