#include "vemtora/core/exchange.hpp"

#include <algorithm>
#include <ctime>
#include <memory>
#include <utility>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/folder_lock.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

void make_parent(const fs::path& path) {
    fs::path parent = path.parent_path();
    if (!parent.empty() && !fileIO::leaves_working_copy(path, fileIO::Deed::write)) fs::create_directories(parent);
}

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

support::Result read_output(const fs::path& output_path, const std::string& label, const Logger& logger) {
    auto file = fileIO::read_local_file(output_path, {.limit = fileIO::max_answer_bytes, .follow_links = false});
    if (file.outcome == fileIO::LocalFile::Outcome::refused) {
        const std::string reason =
            fileIO::read_refused(label, support::path_from_utf8(support::reference_form(output_path)), file.reason);
        logger.error("❌ " + reason);
        return support::Result::failure(reason);
    }
    std::string text = fileIO::local_text(std::move(file), output_path, label, &logger, fileIO::TextForm::as_saved);
    return support::Result::success(std::string(support::strip(support::replace_all(text, "\r\n", "\n"))));
}

namespace {

// Whether every line of the text ends with CRLF (and it has a line end at all).
bool crlf_lines(std::string_view text) {
    size_t lines = 0;
    for (size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', lf + 1), ++lines)
        if (lf == 0 || text[lf - 1] != '\r') return false;
    return lines > 0;
}

}  // namespace

std::string saved_form(const fs::path& path, const std::string& text, LineEnds ends) {
    std::string lf = support::replace_all(fileIO::without_byte_order_mark(text), "\r\n", "\n");
    if (ends == LineEnds::lf) return lf;
    auto replaced = fileIO::read_local_file(path);
    if (replaced.outcome != fileIO::LocalFile::Outcome::read || !crlf_lines(replaced.bytes)) return lf;
    return support::replace_all(lf, "\n", "\r\n");
}

support::Result save_answer(const fs::path& path, const std::string& text, AnswerFile& answer,
                            const std::string& label, const Logger& logger, LineEnds ends) {
    auto saved = fileIO::save_local_file_content(path, saved_form(path, text, ends), label, &logger);
    if (saved.ok) answer.saved();
    return saved;
}

namespace {

// The answer folders this process holds, by absolute path, with their nesting count.
struct HeldFolder {
    std::string folder;
    std::unique_ptr<support::FolderLock> lock;
    int holds = 0;
};
std::vector<HeldFolder>& held_folders() {
    static std::vector<HeldFolder> held;
    return held;
}

}  // namespace

AnswerLock::AnswerLock(const fs::path& answer_path, const Logger& logger) {
    fs::path folder = answer_path.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    if (!fileIO::leaves_working_copy(answer_path, fileIO::Deed::write)) fs::create_directories(folder, ec);
    const std::string key = support::utf8_text(fs::weakly_canonical(fs::absolute(folder, ec), ec));
    if (ec) return;
    auto& held = held_folders();
    for (auto& entry : held)
        if (entry.folder == key) {
            ++entry.holds;
            held_ = key;
            return;
        }
    std::unique_ptr<support::FolderLock> lock;
    try {
        lock = std::make_unique<support::FolderLock>(folder);
    } catch (const fs::filesystem_error&) {
        return;
    }
    if (lock->busy()) {
        const std::string name = support::generic_utf8_text(folder);
        logger.error("❌ 另一個執行中的指令正在使用 " + name + " 資料夾，請等它結束後再試一次。");
        refused_ = support::Result::failure("另一個執行中的指令正在使用 " + name + " 資料夾");
        return;
    }
    held.push_back({key, std::move(lock), 1});
    held_ = key;
}

AnswerLock::AnswerLock(AnswerLock&& other) noexcept
    : held_(std::exchange(other.held_, std::string())), refused_(std::move(other.refused_)) {}

AnswerLock& AnswerLock::operator=(AnswerLock&& other) noexcept {
    if (this != &other) {
        release();
        held_ = std::exchange(other.held_, std::string());
        refused_ = std::move(other.refused_);
    }
    return *this;
}

AnswerLock::~AnswerLock() { release(); }

void AnswerLock::release() {
    if (held_.empty()) return;
    auto& held = held_folders();
    for (auto it = held.begin(); it != held.end(); ++it)
        if (it->folder == held_) {
            if (--it->holds == 0) held.erase(it);
            break;
        }
    held_.clear();
}

AnswerFile::AnswerFile(AnswerFile&& other) noexcept
    : path_(std::exchange(other.path_, std::nullopt)),
      aside_(std::exchange(other.aside_, std::nullopt)),
      logger_(other.logger_),
      lock_(std::move(other.lock_)),
      held_(std::exchange(other.held_, false)) {}

AnswerFile& AnswerFile::operator=(AnswerFile&& other) noexcept {
    if (this != &other) {
        keep();
        path_ = std::exchange(other.path_, std::nullopt);
        aside_ = std::exchange(other.aside_, std::nullopt);
        logger_ = other.logger_;
        lock_ = std::move(other.lock_);
        held_ = std::exchange(other.held_, false);
    }
    return *this;
}

AnswerFile::~AnswerFile() { keep(); }

void AnswerFile::set_aside(std::string text) {
    if (!path_) return;
    fileIO::remove_file(*path_);
    aside_ = std::move(text);
}

void AnswerFile::remove() {
    if (path_ && !aside_) fileIO::remove_file(*path_);
    path_.reset();
    aside_.reset();
    held_ = false;
}

void AnswerFile::keep() {
    if (!path_) return;
    try {
        if (aside_) fileIO::save_local_file_content(*path_, *aside_, "AI 產出的內容", logger_);
        if (!logger_) return;
        std::error_code ec;
        if (fs::is_regular_file(*path_, ec) && fs::file_size(*path_, ec) > 0 && !ec)
            logger_->warning("⚠️ AI 產出的內容已保留於：" + support::reference_form(*path_));
    } catch (...) {
        // Said on the way out of a failure: nothing more may go wrong here.
    }
}

AgentAnswer agent_pass(const fs::path& output_path, const mindrel::RunAgyArgs& args, const std::string& label,
                       const Logger& logger) {
    // The folder decides where the agent writes; a stale answer, even a link, goes first.
    if (auto refused = refuse_link_out(output_path.parent_path(), fileIO::Deed::write, logger))
        return {*refused, AnswerFile()};
    const std::string named = support::reference_form(output_path);
    if (!support::prompt_safe(named)) {
        logger.error("❌ AI 輸出檔的路徑含有控制字元、反引號或方括號，無法安全地寫進 AI 提示，未執行 AI：「" +
                     support::visible_line(named) + "」");
        return {support::Result::failure("AI 輸出檔的路徑無法安全地寫進 AI 提示"), AnswerFile()};
    }
    if (auto refused = refuse_tracked_links_out(mindrel::agy_command(args, false), logger))
        return {*refused, AnswerFile()};
    AnswerLock lock(output_path, logger);
    if (lock.refused()) return {*lock.refused(), AnswerFile()};
    // A folder the answer cannot be written into would lose the agent's work.
    if (auto refused = refuse_unwritable(support::parent_or_dot(output_path), logger))
        return {*refused, AnswerFile()};
    fileIO::remove_file(output_path);
    support::Result run;
    try {
        run = mindrel::run_agy(args);
    } catch (const support::Interrupted&) {
        // The agent has been ended: an answer it wrote stays, as after any other failure,
        // and one line says where (the agent may well have finished it); an empty or
        // irregular file goes.
        AnswerFile written(output_path, logger, std::move(lock));
        std::error_code ec;
        if (!fs::is_regular_file(fs::symlink_status(output_path, ec)) || fs::file_size(output_path, ec) == 0 || ec)
            written.discard();
        throw;
    }
    AnswerFile file(output_path, logger, std::move(lock));
    if (!run.ok) return {run, std::move(file)};
    auto answer = read_output(output_path, label, logger);
    if (!answer.ok) file.hold();
    else if (answer.text.empty()) file.discard();
    return {std::move(answer), std::move(file)};
}

namespace {

std::vector<std::string> own_pathspecs(std::vector<std::string> specs, const std::string& magic) {
    for (const char* pattern : own_files) specs.push_back(":(" + magic + ")" + pattern);
    return specs;
}

}  // namespace

std::vector<std::string> over_users_work(std::vector<std::string> words) {
    words.insert(words.end(), {"--", ":/"});
    return own_pathspecs(std::move(words), "exclude,glob");
}

void stage_users_work(const std::vector<std::string>& add_words, const runwick::GitCheck& check) {
    std::vector<std::string> add{"add"};
    add.insert(add.end(), add_words.begin(), add_words.end());
    runwick::git_checked(add, check);
    // Left out of the add itself they would not be: git refuses any pathspec, an exclusion
    // too, that names an ignored path.
    runwick::git_checked(own_pathspecs({"reset", "-q", "--"}, "glob"), {.naming = check.naming});
}

support::Result save_document(const fs::path& path, const std::string& text, AnswerFile& answer,
                              const std::string& label, const std::string& done_line, const Logger& logger) {
    auto saved = save_answer(path, text, answer, label, logger);
    if (!saved.ok) return support::Result::failure(saved.text);
    logger.info(done_line + support::utf8_text(path));
    return produced(support::utf8_text(path.filename()));
}

namespace {

// The save's trial in a folder that the link rule lets the run write.
std::optional<support::Result> refuse_failed_trial(const fs::path& folder, const Logger& logger) {
    try {
        support::try_save_in(folder);
        return std::nullopt;
    } catch (const fs::filesystem_error& e) {
        const std::string name = support::utf8_text(folder);
        logger.error("❌ 無法寫入輸出資料夾 " + name + ": " + support::failure_reason(e));
        return support::Result::failure("無法寫入輸出資料夾: " + name);
    }
}

}  // namespace

std::optional<support::Result> prepare_output_dir(const fs::path& folder, const Logger& logger) {
    if (!fileIO::setup_output_dir(folder, &logger))
        return support::Result::failure("無法建立輸出資料夾: " + support::utf8_text(folder));
    return refuse_failed_trial(folder, logger);
}

std::optional<support::Result> refuse_unwritable(const fs::path& folder, const Logger& logger) {
    if (auto refused = refuse_link_out(folder, fileIO::Deed::write, logger)) return refused;
    return refuse_failed_trial(folder, logger);
}

std::optional<support::Result> refuse_link_out(const fs::path& path, fileIO::Deed deed, const Logger& logger) {
    auto reason = fileIO::leaves_working_copy(path, deed);
    if (!reason) return std::nullopt;
    logger.error("❌ " + *reason);
    return support::Result::failure(*reason);
}

namespace {

// The folders that an agent's command line hands it; a file that a prompt names is none.
std::vector<std::string> handed_folders(const std::vector<std::string>& agent_argv) {
    std::vector<std::string> folders;
    for (size_t i = 1; i < agent_argv.size(); ++i) {
        const std::string& arg = agent_argv[i];
        if (arg == "--add-dir" && i + 1 < agent_argv.size()) {
            folders.push_back(agent_argv[++i]);
            continue;
        }
        // A path in a prompt holds no bracket (prompt_path), so the first "]" ends it.
        for (size_t at = arg.find("@["); at != std::string::npos; at = arg.find("@[", at + 2)) {
            const size_t end = arg.find(']', at + 2);
            if (end == std::string::npos) break;
            const std::string named = arg.substr(at + 2, end - at - 2);
            std::error_code ec;
            if (!named.empty() && fs::is_directory(support::path_from_utf8(named), ec)) folders.push_back(named);
        }
    }
    return folders;
}

// The links that git tracks in the folder (index mode 120000), with the folder's path in
// front; none when git does not know the folder.
std::vector<fs::path> tracked_links(const std::string& folder) {
    support::ProcessResult listing;
    try {
        listing = runwick::git({"-C", folder, "ls-files", "--stage", "-z"});
    } catch (const support::ProcessError&) {
        return {};  // no git: nothing is tracked
    }
    std::vector<fs::path> links;
    if (listing.status != 0) return links;
    const std::string_view entries = listing.out;
    for (size_t at = 0; at < entries.size();) {
        size_t end = entries.find('\0', at);
        if (end == std::string_view::npos) end = entries.size();
        const std::string_view entry = entries.substr(at, end - at);
        at = end + 1;
        const size_t tab = entry.find('\t');
        if (tab != std::string_view::npos && entry.starts_with("120000 "))
            links.push_back(support::path_from_utf8(folder) / support::path_from_utf8(entry.substr(tab + 1)));
    }
    return links;
}

}  // namespace

std::optional<support::Result> refuse_tracked_links_out(const std::vector<std::string>& agent_argv,
                                                        const Logger& logger) {
    std::vector<support::LinkOut> out;
    std::vector<std::string> looked_at;
    for (const auto& folder : handed_folders(agent_argv)) {
        if (std::find(looked_at.begin(), looked_at.end(), folder) != looked_at.end()) continue;
        looked_at.push_back(folder);
        for (const auto& link : tracked_links(folder)) {
            auto leads = fileIO::link_leading_out(link);
            if (!leads) continue;
            auto same = [&](const support::LinkOut& seen) { return seen.link == leads->link; };
            if (std::none_of(out.begin(), out.end(), same)) out.push_back(std::move(*leads));
        }
    }
    if (out.empty()) return std::nullopt;
    constexpr size_t named_at_most = 10;
    std::vector<std::string> named;
    for (size_t i = 0; i < out.size() && i < named_at_most; ++i)
        named.push_back(support::visible_line(support::generic_utf8_text(out[i].link)) + " → " +
                        support::visible_line(support::utf8_text(out[i].target)));
    std::string reason =
        "交給 AI 的資料夾中有 git 追蹤的符號連結指向工作目錄之外，AI 讀取資料夾時會跟著連結讀到外面的檔案，未執行 AI：" +
        support::join(named, "、");
    if (out.size() > named_at_most) reason += "，另有 " + std::to_string(out.size() - named_at_most) + " 個";
    logger.error("❌ " + reason);
    return support::Result::failure(reason);
}

support::Result editor_failed() { return support::Result::failure("編輯器未正常結束，程序中斷。"); }

support::Result no_file_chosen() { return support::Result::failure("❌ 未選取任何檔案或掃描失敗。"); }

support::Result produced(const std::string& file_name) { return support::Result::success("成功產出: " + file_name); }

std::string brief_output_request(const fs::path& output_path) {
    return "使用 `write_to_file` 寫入：`" + prompt_path(output_path) + "`。\n禁止解釋或 markdown，僅執行工具。";
}

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

std::string generate_requirement_marker(const std::string& document) {
    return "# 請在此輸入 " + document + " 生成需求 (例如: 著重說明特定模組，直接按 Enter 留空即可)。存檔並關閉編輯器以繼續。\n";
}

void log_prompt(const std::string& prompt, const Logger& logger) { logger.debug("🔍 Agy Prompt: " + prompt); }

void log_prompt_block(const std::string& prompt, const Logger& logger) { logger.debug("Prompt:\n" + prompt); }

bool plain_file_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

void remove_files(const std::vector<fs::path>& paths) {
    for (const auto& path : paths) fileIO::remove_file(path);
}

std::optional<fs::path> overwrite_target(const fs::path& out_path, const fs::path& output_dir, const Logger& logger) {
    if (!fs::exists(out_path)) return out_path;
    if (support::confirm("💬 檔案 " + support::utf8_text(out_path.filename()) + " 已存在，是否直接蓋寫？", true)) return out_path;
    auto free = fileIO::get_unique_path(output_dir, support::utf8_text(out_path.stem()), ".md", &logger);
    if (!free) return std::nullopt;
    fs::path target = fileIO::setup_output_file(output_dir, support::utf8_text(free->filename()), &logger);
    logger.info("✅ 將改為另存新檔：" + support::utf8_text(target.filename()));
    return target;
}

std::string today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
    return buffer;
}

std::optional<support::Result> list_project_folders(brenkit::fileIO::DirectoryList& folders, const Logger& logger) {
    folders = brenkit::fileIO::get_directory_list(".", {.exclude_prefixes = {".", "_"},
                                                        .exclude_names = {"build", "docs-gen", "dist"},
                                                        .exclude_suffixes = {".egg-info"}});
    if (!folders.paths.empty()) return std::nullopt;
    logger.error("❌ 目前目錄下找不到任何符合條件的專案資料夾。");
    return support::Result::failure("找不到符合條件的專案資料夾。");
}

std::optional<support::Result> choose_project_folder(const brenkit::fileIO::DirectoryList& folders, fs::path& chosen,
                                                     const Logger& logger) {
    logger.info("✅ 💡 提示：請選取一個專案資料夾作為目標");
    auto picked = brenkit::fileIO::interactive_select_files(folders.paths, folders.names, " (資料夾)",
                                                            brenkit::fileIO::Picks::one);
    if (picked.empty()) {
        logger.warning("⚠️ 未選取目標資料夾，程序中斷。");
        return support::Result::failure("未選取目標資料夾。");
    }
    chosen = picked.front().first;
    return std::nullopt;
}

}  // namespace vemtora::exchange
