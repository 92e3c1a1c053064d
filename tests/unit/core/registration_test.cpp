// Sub-command names derived from kebab-case and the cli.py registration prompts.
#include <gtest/gtest.h>

#include "vemtora/core/registration.hpp"

namespace reg = vemtora::registration;

TEST(RegistrationNames, DerivedFromKebabCase) {
    struct Case {
        std::string sub, class_name, file_name, cmd_name;
    };
    for (const auto& c : std::vector<Case>{
             {"my-feature", "MyFeature", "my_feature.py", "my_feature"},
             {"API-client", "ApiClient", "API_client.py", "API_client"},
             {"a--b", "AB", "a__b.py", "a__b"},
             {"-x-", "X", "_x_.py", "_x_"},
             {"my_feature", "My_feature", "my_feature.py", "my_feature"},
             {"élan-ÉTÉ", "ÉlanÉté", "élan_ÉTÉ.py", "élan_ÉTÉ"},
         }) {
        EXPECT_EQ(reg::class_name_of(c.sub), c.class_name) << c.sub;
        EXPECT_EQ(reg::file_name_of(c.sub), c.file_name) << c.sub;
        EXPECT_EQ(reg::cmd_name_of(c.sub), c.cmd_name) << c.sub;
    }
    EXPECT_EQ(reg::sub_cli_name_of_module("pkg/data_loader.py"), "data-loader");
    EXPECT_EQ(reg::sub_cli_name_of_module("Data_Loader.py"), "Data-Loader");
}

TEST(RegistrationPrompt, EachToolWordsItsOwnPass) {
    reg::Pass pass{.module_path = "/p/pkg/data_loader.py",
                   .cli_folder = "/p/pkg",
                   .goal_path = "/p/_agy/goal/g.yaml",
                   .skill_path = "/p/_agy/skill/s.yaml",
                   .sub_cli_name = "start-task",
                   .file_name = "start_task.py",
                   .prj_name = "MyProject",
                   .cli_name = "my-cli"};
    const std::string scratch = std::filesystem::current_path().generic_string() + "/_agy/generated-dovud-reg.txt";

    pass.tool = reg::Tool::graftwell;
    EXPECT_EQ(reg::prompt(pass, "cmd_start"),
              "根據 @[/p/_agy/goal/g.yaml] 裡的 `dovud-register` 指示與 @[/p/_agy/skill/s.yaml] 技能，\n"
              "在主進入點檔案 @[/p/pkg/cli.py] 中註冊新子指令，變數如下：\n- sub_cli_name: start-task\n"
              "- file_name: start_task.py\n- func_name: cmd_start\n- cli_code: @[/p/pkg/cli.py]\n\n【輸出要求】：\n"
              "請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                  scratch + "` 檔案中。\n");

    pass.tool = reg::Tool::torvane;
    const std::string torvane_head =
        "根據 @[/p/_agy/goal/g.yaml] 裡的 `torvane-cli` 指示與 @[/p/_agy/skill/s.yaml] 技能，\n"
        "在主進入點檔案 @[/p/pkg/cli.py] 中檢查並註冊子指令，變數如下：\n- sub_cli_name: data-loader\n"
        "- target_file: data_loader.py\n- func_name: ";
    const std::string torvane_tail = "\n- cli_code: @[/p/pkg/cli.py]\n\n【輸出要求】：\n"
                                     "請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                                     scratch + "` 檔案中。\n";
    EXPECT_EQ(reg::prompt(pass, "cmd_load"), torvane_head + "cmd_load" + torvane_tail);
    EXPECT_EQ(reg::prompt(pass, ""),
              torvane_head +
                  "（請從 target_file 中自行解析被 @click.command 或 @click.group 裝飾的進入點函式名稱，例如 cmd_xxxx 或 main）" +
                  torvane_tail);

    pass.tool = reg::Tool::sproutel;
    EXPECT_EQ(reg::prompt(pass, "cmd_start"),
              "根據 @[/p/_agy/goal/g.yaml]：\n重構 @[/p/pkg/cli.py] 註冊子指令。\n【參數設定】\n- 專案名稱: MyProject\n"
              "- 指令名稱: my-cli\n- 子指令名稱: start-task\n- 檔案名稱: start_task.py\n- 函式名稱: cmd_start\n"
              "使用 `write_to_file` 寫入：`" +
                  scratch + "`。\n禁止解釋或 markdown，僅執行工具。");
}
