// Each project tool words its own cli.py registration pass.
#include <gtest/gtest.h>

#include "vemtora/projects/graftwell.hpp"
#include "vemtora/projects/sproutel.hpp"
#include "vemtora/projects/torvane.hpp"

namespace sp = vemtora::sproutel;

class RegistrationPrompt : public ::testing::Test {
  protected:
    const vemtora::registration::Pass pass{.module_path = "/p/pkg/data_loader.py",
                                           .cli_folder = "/p/pkg",
                                           .goal_path = "/p/_agy/goal/g.yaml",
                                           .skill_path = "/p/_agy/skill/s.yaml"};
    const std::string scratch = std::filesystem::current_path().generic_string() + "/_agy/generated-dovud-reg.txt";
};

TEST_F(RegistrationPrompt, GraftwellPromptNamesTheNewModule) {
    EXPECT_EQ(vemtora::graftwell::registration_prompt(pass, "start-task", "start_task.py", "cmd_start"),
              "根據 @[/p/_agy/goal/g.yaml] 裡的 `dovud-register` 指示與 @[/p/_agy/skill/s.yaml] 技能，\n"
              "在主進入點檔案 @[/p/pkg/cli.py] 中註冊新子指令，變數如下：\n- sub_cli_name: start-task\n"
              "- file_name: start_task.py\n- func_name: cmd_start\n- cli_code: @[/p/pkg/cli.py]\n\n【輸出要求】：\n"
              "請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                  scratch + "` 檔案中。\n");
}

TEST_F(RegistrationPrompt, TorvanePromptWithAndWithoutAFunctionName) {
    const std::string torvane_head =
        "根據 @[/p/_agy/goal/g.yaml] 裡的 `torvane-cli` 指示與 @[/p/_agy/skill/s.yaml] 技能，\n"
        "在主進入點檔案 @[/p/pkg/cli.py] 中檢查並註冊子指令，變數如下：\n- sub_cli_name: data-loader\n"
        "- target_file: data_loader.py\n- func_name: ";
    const std::string torvane_tail = "\n- cli_code: @[/p/pkg/cli.py]\n\n【輸出要求】：\n"
                                     "請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                                     scratch + "` 檔案中。\n";
    EXPECT_EQ(vemtora::torvane::registration_prompt(pass, "cmd_load"), torvane_head + "cmd_load" + torvane_tail);
    EXPECT_EQ(vemtora::torvane::registration_prompt(pass, ""),
              torvane_head +
                  "（請從 target_file 中自行解析被 @click.command 或 @click.group 裝飾的進入點函式名稱，例如 cmd_xxxx 或 main）" +
                  torvane_tail);
}

TEST_F(RegistrationPrompt, SproutelPromptNamesTheProjectAndItsFirstSubCommand) {
    EXPECT_EQ(sp::registration_prompt(pass, {.prj_name = "MyProject", .cli_name = "my-cli", .sub_cli_name = "start-task"},
                                      "start_task.py", "cmd_start"),
              "根據 @[/p/_agy/goal/g.yaml]：\n重構 @[/p/pkg/cli.py] 註冊子指令。\n【參數設定】\n- 專案名稱: MyProject\n"
              "- 指令名稱: my-cli\n- 子指令名稱: start-task\n- 檔案名稱: start_task.py\n- 函式名稱: cmd_start\n"
              "使用 `write_to_file` 寫入：`" +
                  scratch + "`。\n禁止解釋或 markdown，僅執行工具。");
}
