// Texts of the README assistant: folder keys, the setup.py version and the prompts.
#include <unicode/uchar.h>

#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/exchange.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace vemtora::quillary {

std::string name_key(std::string_view name) {
    std::string kept;
    size_t pos = 0;
    while (pos < name.size()) {
        size_t start = pos;
        auto c = static_cast<UChar32>(support::next_code_point(name, pos));
        // Letters of every script (ideographs included) and every numeric character.
        if (u_isalpha(c) || u_getNumericValue(c) != U_NO_NUMERIC_VALUE) kept.append(name.substr(start, pos - start));
    }
    return support::lower(kept);
}

namespace {

// `version` must stand as a word, so that min_version = "..." is left alone.
const support::Regex& setup_version_value() {
    static const support::Regex re(R"(\bversion\s*=\s*["']([^"']+)["'])");
    return re;
}
const support::Regex& setup_version_assignment() {
    static const support::Regex re(R"(\bversion\s*=\s*["'].*?["'])");
    return re;
}

}  // namespace

std::optional<std::string> find_setup_version(std::string_view text) {
    auto m = setup_version_value().search(text);
    if (!m) return std::nullopt;
    return std::string(m->group(1));
}

std::string replace_setup_version(std::string_view text, std::string_view version) {
    return setup_version_assignment().replace(text, "version=\"" + std::string(version) + "\"");
}

}  // namespace vemtora::quillary

namespace vemtora::quillary {

namespace {

std::string ref(const std::filesystem::path& p) { return exchange::reference(p); }

}  // namespace

std::string build_prompt(const PromptInputs& in) {
    const bool mcu = in.is_c_mcu_project;
    std::string p;
    auto line = [&p](std::string_view text) {
        p += text;
        p += '\n';
    };
    const std::string goal = in.is_refactor ? "dovud-readme-refactor" : "dovud-quillary";
    line("根據 " + ref(in.goal_path) + " 裡的 `" + goal + "` 指示與 " + ref(in.skill_path) + " 技能，");
    auto settings = [&] {
        line("【特定任務設定】:");
        line("- 專案名稱 (project_name)：" + in.project_name);
        line("- 專案版本：v" + in.next_version);
        line("- 生成日期：" + in.current_date);
        p += "- 作者：" + in.author;
    };
    if (in.is_refactor) {
        line(mcu ? "請根據指示，對現有的 MCU C Project README.md 內容進行重構更新。"
                 : "請根據指示，對現有的 README.md 內容進行重構更新。");
        line("");
        settings();
        p += '\n';
        if (mcu)
            line("- 原始碼目錄：請閱讀並參考原 " + ref(in.source_dir) +
                 " 目錄下的原始 C 語言與標頭檔案（.c / .h），以獲取硬體周邊配置、功能實作等完整上下文。");
        else
            line("- 原始碼目錄：有需要的時候可以參考原 " + ref(in.source_dir) + " 目錄下的原始檔案以獲取完整上下文。");
        line("");
        line("【現有的 README.md 內容 (current_content)】:");
        line("已寫入至暫存檔：" + ref(scratch_readme));
        line("");
        line("【修改需求與程式碼變更 (user_req 與 Git Diff)】:");
        line("- 使用者修改需求：" + (in.user_req.empty() ? std::string("無特別指定") : in.user_req));
        line("- 自上次版本至今的程式碼變更已寫入至暫存檔：" + ref(scratch_diff));
        line("");
        line("【Git Commit 歷史紀錄 (Git Commit Log)】:");
        p += "- Commit Log 已寫入至暫存檔：" + ref(scratch_log);
    } else {
        line(mcu ? "請根據指示，針對 MCU C Project 原始碼內容生成 README.md 說明文件。"
                 : "請根據指示，針對專案原始碼內容生成 README.md 操作手冊。");
        line("");
        if (mcu)
            line("【重要指示】：請閱讀原 " + ref(in.source_dir) +
                 " 目錄下的原始 C 語言與標頭檔案（.c / .h），以了解專案的硬體架構、周邊配置（如 GPIO/SPI/I2C "
                 "等）、選單選項與功能實作細節。");
        else
            line("【重要指示】：請閱讀原 " + ref(in.source_dir) + " 目錄下的原始檔案，以了解專案的 CLI 實作與參數定義細節。");
        line("");
        settings();
        p += "\n\n" + in.template_ref + "\n";
        line("【Git Commit 歷史紀錄 (Git Commit Log)】:");
        p += "- 所有的 Commit Log 已寫入至暫存檔：" + ref(scratch_log);
    }
    p += exchange::output_section(agent_output);
    return p;
}

}  // namespace vemtora::quillary
