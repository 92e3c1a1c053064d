#include <fnmatch.h>
#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "vemtora/core/registration.hpp"
#include "vemtora/documents/flowkin.hpp"
#include "vemtora/documents/polywend.hpp"
#include "vemtora/documents/tomebrook.hpp"
#include "vemtora/projects/graftwell.hpp"
#include "vemtora/projects/sproutel.hpp"
#include "vemtora/projects/torvane.hpp"
#include "vemtora/release/quillary_detail.hpp"
#include "vemtora/core/staging.hpp"
#include "vemtora/release/sendrift.hpp"
#include "vemtora/scripting/krestel.hpp"
#include "vemtora/scripting/moldery.hpp"

namespace fs = std::filesystem;
using namespace vemtora::sendrift;

namespace {

YAML::Node config_of(const std::string& yaml) { return *brenkit::fileIO::load_yaml_string(yaml); }

std::vector<std::string> models_for(const std::string& yaml) {
    brenkit::app_logging::Capture quiet;
    SendriftApp app(config_of(yaml));
    return models_to_try(app.default_model, app.backup_model);
}

}  // namespace

TEST(SendriftModels, BackupModelMovesToTheOtherFlashTierWhenItRepeatsTheDefault) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"config: {}", {"Gemini 3.5 Flash (Medium)", "Gemini 3.5 Flash (Low)"}},
        {"config: {default_model: gemini-3.5-flash-l, backup_model: [gemini-3.5-flash-l]}",
         {"Gemini 3.5 Flash (Low)", "Gemini 3.5 Flash (Medium)"}},
        {"config: {default_model: gemini-3.5-flash-m, backup_model: gemini-3.5-flash-m}",
         {"Gemini 3.5 Flash (Medium)", "Gemini 3.5 Flash (Low)"}},
        {"config: {default_model: gemini-3.5-flash-h, backup_model: [gemini-3.5-flash-h]}",
         {"Gemini 3.5 Flash (High)", "Gemini 3.5 Flash (High)"}},
        {"config: {default_model: gemini-3.1-pro-l, backup_model: [gemini-3.1-pro-l]}",
         {"Gemini 3.1 Pro (Low)", "Gemini 3.5 Flash (Medium)"}},
        {"config: {default_model: gpt-oss-120b-m, backup_model: [gpt-oss-120b-m]}",
         {"GPT-OSS 120B (Medium)", "Gemini 3.5 Flash (Low)"}},
        {"config: {backup_model: []}", {"Gemini 3.5 Flash (Medium)", "Gemini 3.5 Flash (Low)"}},
        {"config: {backup_model: ~}", {"Gemini 3.5 Flash (Medium)", "Gemini 3.5 Flash (Low)"}},
        {"config: {backup_model: [claude-opus-4.6-t, gemini-3.5-flash-h]}",
         {"Gemini 3.5 Flash (Medium)", "Claude Opus 4.6 (Thinking)"}},
        {"config: {backup_model: claude-opus-4.6-t}", {"Gemini 3.5 Flash (Medium)", "Claude Opus 4.6 (Thinking)"}},
    };
    for (const auto& [yaml, expected] : cases) EXPECT_EQ(models_for(yaml), expected) << yaml;
}

TEST(SendriftApp, MissingKeysTakeTheirDefaults) {
    brenkit::app_logging::Capture quiet;
    SendriftApp app(config_of("other: 1\nconfig:\n  default_model: gemini-3.5-flash-h\n  extra: x\n"));
    EXPECT_EQ(app.goal_path, fs::path("_agy/goal/sendrift-goal.yaml"));
    EXPECT_EQ(app.skill_path, fs::path("_agy/skill/sendrift-expert.yaml"));
    EXPECT_EQ(app.default_model, "Gemini 3.5 Flash (High)");
    ASSERT_TRUE(app.backup_model.IsSequence());
    EXPECT_EQ(app.backup_model[0].as<std::string>(), "Gemini 3.5 Flash (Low)");
}

TEST(SendriftPrompt, NamesEveryFileByItsAbsolutePath) {
    std::string cwd = fs::current_path().generic_string();
    EXPECT_EQ(build_prompt("g/goal.yaml", "/abs/skill.yaml"),
              "根據 @[" + cwd + "/g/goal.yaml] 與 @[/abs/skill.yaml]：\n"
              "分析 @[" + cwd + "/_agy/current-diff.txt] 並生成 5 行內 commit 訊息。\n"
              "使用 `write_to_file` 寫入：`" + cwd + "/_agy/generated-commit.txt`。\n"
              "禁止解釋或 markdown，僅執行工具。");
}

TEST(SendriftStatus, OnlyUntrackedEntriesAreListed) {
    EXPECT_EQ(untracked_files("?? notes.txt\n M main.c\n?? build/\r\nA  added.c\n?? \"sp ace.txt\"\n"),
              (std::vector<std::string>{"notes.txt", "build/", "\"sp ace.txt\""}));
    EXPECT_TRUE(untracked_files("").empty());
}

// Commits leave out the tool's own files by these patterns, so every file a command keeps
// under _agy/ (its answer after a failed run, its scratch input) must match one of them.
TEST(SendriftStaging, EveryFileTheToolKeepsIsLeftOut) {
    namespace v = vemtora;
    for (const std::string file :
         {v::graftwell::feature_output_file, v::torvane::refactor_output_file, v::sproutel::new_module_output_file,
          v::moldery::agent_output_file, v::krestel::agent_output_file, v::registration::reg_output_file,
          v::flowkin::agent_output, v::polywend::agent_output, v::tomebrook::agent_output, v::quillary::agent_output,
          v::quillary::scratch_readme, v::quillary::scratch_diff, v::quillary::scratch_log, "_agy/current-diff.txt",
          "_agy/generated-commit.txt"}) {
        bool left_out = false;
        for (const char* pattern : v::exchange::own_files)
            left_out = left_out || ::fnmatch(pattern, file.c_str(), FNM_PATHNAME) == 0;
        EXPECT_TRUE(left_out) << file;
    }
}

// A missing agent is missing for every model: the run fails once, without a retry on the
// backup model, and the change it found stays unstaged.
TEST(SendriftApp, MissingAgentIsNotRetriedWithTheBackupModel) {
    th::TempDir dir;
    th::init_repo(dir.path());
    th::write_file(dir / "_agy/goal/sendrift-goal.yaml", "goal\n");
    th::write_file(dir / "_agy/skill/sendrift-expert.yaml", "skill\n");
    th::git(dir.path(), {"add", "_agy"});
    th::git(dir.path(), {"commit", "-q", "-m", "agent files"});
    th::write_file(dir / "README.md", "# Changed\n");
    th::CurrentDir here(dir.path());
    th::ScopedEnv env{{{"PATH", "/usr/bin:/bin"}}};
    brenkit::app_logging::Capture capture;
    SendriftApp app(config_of("config: {}"));
    const auto result = app.run();
    EXPECT_FALSE(result.ok);
    size_t missing = 0;
    for (const auto& line : capture.messages()) missing += line.starts_with("❌ 系統中找不到 `agy` 指令");
    EXPECT_EQ(missing, 1u) << capture.text();
    EXPECT_EQ(capture.text().find("Retry"), std::string::npos) << capture.text();
    EXPECT_EQ(th::git(dir.path(), {"status", "--porcelain"}), " M README.md\n");
}
