// Texts of the README assistant: folder keys, the setup.py version and the prompts.
#include <cctype>

#include "support/regex.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace vemtora::quillary {

std::string name_key(std::string_view name) {
    std::string kept;
    size_t pos = 0;
    while (pos < name.size()) {
        size_t start = pos;
        char32_t c = support::next_code_point(name, pos);
        // Letters of every script (ideographs included) and every numeric character.
        if (support::unicode::is_letter(c) || support::unicode::has_numeric_value(c)) kept.append(name.substr(start, pos - start));
    }
    return support::lower(kept);
}

namespace {

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads Python source text far enough to find the arguments of setup(...) calls:
// strings and comments are stepped over whole, brackets are counted.
class SetupScanner {
  public:
    explicit SetupScanner(std::string_view text) : text_(text) {}

    std::vector<SetupVersion> run() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (c == '"' || c == '\'') {
                skip_string();
            } else if (c == '(' || c == '[' || c == '{') {
                // A "setup" just before "(" opens a call of setup, unless it is a definition.
                depth_.push_back(c == '(' && last_word_ == "setup" && word_before_ != "def");
                last_word_.clear();
                ++pos_;
            } else if (c == ')' || c == ']' || c == '}') {
                if (!depth_.empty()) depth_.pop_back();
                last_word_.clear();
                ++pos_;
            } else if (word_char(c)) {
                word();
            } else {
                if (!std::isspace(static_cast<unsigned char>(c))) last_word_.clear();
                ++pos_;
            }
        }
        return found_;
    }

  private:
    void word() {
        size_t start = pos_;
        while (pos_ < text_.size() && word_char(text_[pos_])) ++pos_;
        word_before_ = last_word_;
        last_word_ = std::string(text_.substr(start, pos_ - start));
        bool keyword_position = !depth_.empty() && depth_.back() && start > 0 && text_[start - 1] != '.';
        if (keyword_position && last_word_ == "version") version_argument(start);
    }

    // After `version` directly inside setup(...): "=", then a quoted text on one line.
    void version_argument(size_t start) {
        size_t p = skip_blanks(pos_);
        if (p >= text_.size() || text_[p] != '=' || (p + 1 < text_.size() && text_[p + 1] == '=')) return;
        p = skip_blanks(p + 1);
        if (p >= text_.size() || (text_[p] != '"' && text_[p] != '\'')) return;
        const char quote = text_[p];
        if (text_.substr(p, 3) == std::string(3, quote)) return;  // a long string is no plain version
        size_t close = text_.find_first_of(std::string(1, quote) + "\n\\", p + 1);
        if (close == std::string_view::npos || text_[close] != quote) return;
        found_.push_back({start, close + 1, std::string(text_.substr(p + 1, close - p - 1))});
    }

    size_t skip_blanks(size_t p) const {
        while (p < text_.size() && std::isspace(static_cast<unsigned char>(text_[p]))) ++p;
        return p;
    }

    void skip_string() {
        const char quote = text_[pos_];
        const bool triple = text_.substr(pos_, 3) == std::string(3, quote);
        pos_ += triple ? 3 : 1;
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\\') {
                pos_ += 2;
            } else if (triple ? text_.substr(pos_, 3) == std::string(3, quote) : c == quote) {
                pos_ += triple ? 3 : 1;
                break;
            } else if (!triple && c == '\n') {
                break;  // an unclosed string ends with its line
            } else {
                ++pos_;
            }
        }
        last_word_.clear();
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::vector<bool> depth_;  // one per open bracket: whether it opens a setup call
    std::string last_word_, word_before_;
    std::vector<SetupVersion> found_;
};

}  // namespace

std::vector<SetupVersion> setup_version_arguments(std::string_view text) { return SetupScanner(text).run(); }

std::optional<std::string> find_setup_version(std::string_view text) {
    auto found = setup_version_arguments(text);
    if (found.size() != 1) return std::nullopt;
    return found.front().value;
}

std::string replace_setup_version(std::string_view text, std::string_view version) {
    auto found = setup_version_arguments(text);
    if (found.size() != 1) return std::string(text);
    const auto& at = found.front();
    return std::string(text.substr(0, at.begin)) + "version=\"" + std::string(version) + "\"" +
           std::string(text.substr(at.end));
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
