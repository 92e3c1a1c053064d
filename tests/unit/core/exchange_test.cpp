#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "vemtora/core/exchange.hpp"

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

TEST_F(ExchangeTest, AMissingSkillFailsLikeAMissingGoal) {
    th::write_file(dir_ / "repo/_agy/goal/g.yaml", "goal\n");
    auto env = repo_env();
    for (const auto& [goal, skill] : {std::pair{"_agy/goal/g.yaml", "_agy/skill/none.yaml"},
                                      std::pair{"_agy/goal/none.yaml", "_agy/skill/none.yaml"}}) {
        Capture capture;
        auto failure = ex::fetch_goal_and_skill(goal, skill, log_);
        ASSERT_TRUE(failure.has_value()) << goal;
        EXPECT_FALSE(failure->ok);
        EXPECT_EQ(failure->text, "❌ 缺少必要的 Goal 或 Skill 設定檔");
        ASSERT_FALSE(capture.records().empty());
        EXPECT_EQ(capture.records().back().level, Level::error);
        EXPECT_EQ(capture.records().back().message, "❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。");
        EXPECT_TRUE(fs::is_directory("_agy/skill"));
    }
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
    EXPECT_EQ(ex::read_output("_agy/out.txt", "AI", log_), "feat: add x\n\nbody");
    EXPECT_EQ(ex::read_output("_agy/none.txt", "AI", log_), "");
    ex::remove_files({"_agy/in.txt", "_agy/none.txt", "_agy/out.txt"});
    EXPECT_FALSE(fs::exists("_agy/in.txt"));
    EXPECT_FALSE(fs::exists("_agy/out.txt"));
}
