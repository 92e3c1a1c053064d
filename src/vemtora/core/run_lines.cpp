#include "vemtora/core/run_lines.hpp"

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

#include "vemtora/core/answers.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

support::Result editor_failed() { return support::Result::failure("編輯器未正常結束，程序中斷。"); }

support::Result no_file_chosen() { return support::Result::failure("❌ 未選取任何檔案或掃描失敗。"); }

support::Result produced(const std::string& file_name) { return support::Result::success("成功產出: " + file_name); }

void log_generate_mode(const fs::path& out_path, const Logger& logger) {
    logger.info("🆕 將進入生成模式。預計產出：" + support::utf8_text(out_path));
}

void log_refactor_mode(const std::string& picked, const Logger& logger) {
    logger.info("✅ 🔄 已選取檔案，進入重構模式：" + picked);
}

void log_module_name(const std::string& module_name, const Logger& logger) {
    logger.debug("🔍 偵測到的模組名稱 module_name: " + module_name);
}

void log_requirement(const std::string& requirement, const Logger& logger) {
    logger.info("✅ 已輸入生成需求：" + requirement);
}

}  // namespace vemtora::exchange
