#include "vemtora/core/instructions.hpp"

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/output_places.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

namespace {

// Whether the file is there for the agent to read: a file that a link takes out of the
// working copy is not (the line says why).
bool present(const fs::path& path, const std::string& label, const Logger& logger) {
    if (auto reason = fileIO::leaves_working_copy(path, fileIO::Deed::read)) {
        logger.error("❌ " + fileIO::read_refused(label, path, *reason));
        return false;
    }
    std::error_code ec;
    return fs::exists(path, ec);
}

// A present file is left for its reader: it is not read here (its text is not needed,
// and it could be huge or no regular file at all).
void download_if_missing(const fs::path& path, const std::string& url, const std::string& label, const Logger& logger) {
    std::error_code ec;
    if (fs::exists(path, ec)) return;
    fileIO::load_or_download_content(path, url, label, &logger);
}

}  // namespace

std::string download_url(const std::string& repo_folder, const fs::path& local_path) {
    return fileIO::repo_url(repo_folder + support::utf8_text(local_path.filename()));
}

bool fetch(const fs::path& path, const std::string& repo_folder, const std::string& label, const Logger& logger) {
    download_if_missing(path, download_url(repo_folder, path), label, logger);
    return present(path, label, logger);
}

namespace {

// The end of a run whose goal or skill file is not there.
support::Result missing_goal_or_skill(const Logger& logger) {
    logger.error("❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。");
    return support::Result::failure("❌ 缺少必要的 Goal 或 Skill 設定檔");
}

}  // namespace

std::optional<support::Result> fetch_goal_and_skill(const fs::path& goal_path, const fs::path& skill_path,
                                                    const Logger& logger) {
    download_if_missing(goal_path, download_url(goal_folder, goal_path), "Goal 設定檔", logger);
    download_if_missing(skill_path, download_url(skill_folder, skill_path), "Skill 設定檔", logger);
    if (present(goal_path, "Goal 設定檔", logger) && present(skill_path, "Skill 設定檔", logger)) return std::nullopt;
    return missing_goal_or_skill(logger);
}

std::optional<support::Result> fetch_fixed(const std::vector<FixedSource>& sources, const Logger& logger) {
    for (const auto& source : sources)
        download_if_missing(source.path, fileIO::repo_url(source.repo_path), source.label, logger);
    for (const auto& source : sources)
        if (!present(source.path, source.label, logger)) return missing_goal_or_skill(logger);
    return std::nullopt;
}

std::optional<fs::path> fetch_template(const fs::path& template_path, const Logger& logger) {
    return fetch_template(template_path, "README 模板", logger);
}

std::optional<fs::path> fetch_template(const fs::path& template_path, const std::string& label, const Logger& logger) {
    auto fetched = fetch_optional_template(template_path, template_folder, label, logger);
    if (fetched) logger.info("✅ 已載入輸出範本：" + support::utf8_text(template_path.filename()));
    return fetched;
}

std::optional<fs::path> fetch_optional_template(const fs::path& template_path, const std::string& repo_folder,
                                                const std::string& label, const Logger& logger) {
    if (fetch(template_path, repo_folder, label, logger)) return template_path;
    logger.warning("⚠️ 無法取得範本檔案 " + support::utf8_text(template_path.filename()) + "，將繼續執行但不套用範本。");
    return std::nullopt;
}

std::string template_ref(const std::optional<fs::path>& template_path) {
    if (!template_path) return "";
    return "- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：" + reference(*template_path) + "\n";
}

}  // namespace vemtora::exchange
