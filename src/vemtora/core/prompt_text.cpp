#include "vemtora/core/prompt_text.hpp"

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

#include "vemtora/core/answers.hpp"
#include "vemtora/core/run_lines.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

std::string prompt_path(const fs::path& path) {
    std::string text = support::reference_form(path);
    if (support::prompt_safe(text)) return text;
    mindrel::log().warning("⚠️ 路徑含有控制字元、反引號或方括號，已從 AI 提示中略去：「" + support::visible_line(text) + "」");
    return "";
}

std::string reference(const fs::path& path) { return "@[" + prompt_path(path) + "]"; }

std::string output_section(const fs::path& output_path) {
    return "\n\n" + output_request("：", "生成的 Markdown 內容", output_path);
}

std::string output_request(const std::string& colon, const std::string& what, const fs::path& output_path) {
    return output_request_named(colon, what, prompt_path(output_path));
}

std::string output_request_named(const std::string& colon, const std::string& what, const std::string& named_path) {
    return "【輸出要求】" + colon + "\n請務必使用 `write_to_file` 工具，將" + what + "\n直接寫入到絕對路徑：`" + named_path +
           "` 檔案中。\n";
}

std::string brief_output_request(const fs::path& output_path) {
    return "使用 `write_to_file` 寫入：`" + prompt_path(output_path) + "`。\n禁止解釋或 markdown，僅執行工具。";
}

std::string generate_requirement_marker(const std::string& document) {
    return "# 請在此輸入 " + document + " 生成需求 (例如: 著重說明特定模組，直接按 Enter 留空即可)。存檔並關閉編輯器以繼續。\n";
}

void log_prompt(const std::string& prompt, const Logger& logger) { logger.debug("🔍 Agy Prompt: " + prompt); }

void log_prompt_block(const std::string& prompt, const Logger& logger) { logger.debug("Prompt:\n" + prompt); }

}  // namespace vemtora::exchange
