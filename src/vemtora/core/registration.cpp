#include "vemtora/core/registration.hpp"

#include <unicode/uchar.h>

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/exchange.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::registration {

namespace fileIO = brenkit::fileIO;

namespace {

// First character in title case, the rest in lower case.
std::string capitalized(std::string_view part) {
    if (part.empty()) return "";
    size_t pos = 0;
    char32_t first = support::next_code_point(part, pos);
    std::string out;
    support::append_utf8(out, static_cast<char32_t>(u_totitle(static_cast<UChar32>(first))));
    return out + support::lower(part.substr(pos));
}

std::string cli_path_text(const Pass& pass) { return support::reference_form(pass.cli_folder / "cli.py"); }

// The closing of the graftwell and torvane prompts, after the cli_code reference.
std::string code_request() { return "]\n\n" + exchange::output_request("：", "生成的程式碼", reg_output_file); }

}  // namespace

std::string class_name_of(std::string_view sub_cli_name) {
    std::string out;
    for (const auto& part : support::split(sub_cli_name, "-")) out += capitalized(part);
    return out;
}

std::string cmd_name_of(std::string_view sub_cli_name) { return support::replace_all(sub_cli_name, "-", "_"); }

std::string file_name_of(std::string_view sub_cli_name) { return cmd_name_of(sub_cli_name) + ".py"; }

std::string sub_cli_name_of_module(const fs::path& module_path) {
    return support::replace_all(module_path.stem().string(), "_", "-");
}

std::string prompt(const Pass& pass, const std::string& func_name) {
    const std::string goal = support::reference_form(pass.goal_path);
    const std::string skill = support::reference_form(pass.skill_path);
    const std::string cli = cli_path_text(pass);
    const std::string scratch = support::reference_form(reg_output_file);
    switch (pass.tool) {
        case Tool::sproutel:
            return "根據 @[" + goal + "]：\n重構 @[" + cli + "] 註冊子指令。\n【參數設定】\n- 專案名稱: " +
                   pass.prj_name + "\n- 指令名稱: " + pass.cli_name + "\n- 子指令名稱: " + pass.sub_cli_name +
                   "\n- 檔案名稱: " + pass.file_name + "\n- 函式名稱: " + func_name +
                   "\n使用 `write_to_file` 寫入：`" + scratch + "`。\n禁止解釋或 markdown，僅執行工具。";
        case Tool::graftwell:
            return "根據 @[" + goal + "] 裡的 `dovud-register` 指示與 @[" + skill + "] 技能，\n在主進入點檔案 @[" +
                   cli + "] 中註冊新子指令，變數如下：\n- sub_cli_name: " + pass.sub_cli_name +
                   "\n- file_name: " + pass.file_name + "\n- func_name: " + func_name + "\n- cli_code: @[" + cli +
                   code_request();
        case Tool::torvane: {
            std::string func_line =
                func_name.empty()
                    ? "（請從 target_file 中自行解析被 @click.command 或 @click.group 裝飾的進入點函式名稱，例如 cmd_xxxx 或 main）"
                    : func_name;
            return "根據 @[" + goal + "] 裡的 `torvane-cli` 指示與 @[" + skill + "] 技能，\n在主進入點檔案 @[" +
                   cli + "] 中檢查並註冊子指令，變數如下：\n- sub_cli_name: " +
                   sub_cli_name_of_module(pass.module_path) + "\n- target_file: " +
                   pass.module_path.filename().string() + "\n- func_name: " + func_line + "\n- cli_code: @[" + cli +
                   code_request();
        }
    }
    return "";
}

std::optional<support::Result> run(const Pass& pass) {
    const Logger& log = pass.log ? *pass.log : mindrel::log();
    const std::string func_name = mindrel::extract_function_name(pass.module_path);
    const fs::path cli_file = pass.cli_folder / "cli.py";
    const std::string cli_label = cli_file.filename().string();
    const bool torvane = pass.tool == Tool::torvane;

    if (!fs::exists(cli_file)) {
        if (torvane) log.warning("⚠️ 未在同目錄下找到 " + cli_label + "，跳過自動註冊子指令的檢查。");
        return std::nullopt;
    }
    if (!torvane && func_name.empty()) return std::nullopt;

    if (pass.tool == Tool::graftwell) log.info("✅ ⏳ 正在透過 agy 向 " + cli_label + " 註冊新子指令...");
    if (torvane) log.info("✅ ⏳ 正在向 " + cli_label + " 檢查與更新子指令註冊...");

    std::string prompt_reg = prompt(pass, func_name);
    mindrel::RunAgyArgs args{.prompt = prompt_reg,
                             .default_model = pass.default_model,
                             .goal_path = pass.goal_path,
                             .skill_path = pass.skill_path,
                             .add_dot_dir = true};
    if (pass.tool != Tool::sproutel) args.prj_folder = mindrel::AgentFolder(pass.cli_folder);
    auto answer = exchange::agent_pass(reg_output_file, args, "AI 產出的 CLI 碼", log);
    if (!answer.ok) {
        switch (pass.tool) {
            case Tool::sproutel:
                return support::Result::failure("AI 重構 " + cli_label + " 失敗: " + answer.text);
            case Tool::graftwell:
                log.error("❌ agy 註冊失敗: " + answer.text);
                return support::Result::failure("agy 註冊至 cli.py 失敗");
            case Tool::torvane:
                log.error("❌ agy 註冊/檢查失敗: " + answer.text);
                return support::Result::failure("agy 註冊或檢查至 cli.py 失敗: " + answer.text);
        }
    }
    const std::string& cli_code = answer.text;
    if (cli_code.empty()) {
        // Writing nothing over cli.py would drop every registration the project has.
        log.error("❌ agy 未產出任何 " + cli_label + " 內容，已保留原檔案。");
        return support::Result::failure("agy 未產出 " + cli_label + " 內容，未完成子指令註冊");
    }
    auto saved = fileIO::save_local_file_content(cli_file, cli_code, cli_label, &log);
    if (!saved.ok) return support::Result::failure(saved.text);
    answer.file.saved();
    if (pass.tool == Tool::graftwell) log.info("🎉 已成功將功能註冊到 " + cli_label);
    if (torvane) log.info("🎉 已成功將功能註冊至 " + cli_label);
    return std::nullopt;
}

}  // namespace vemtora::registration
