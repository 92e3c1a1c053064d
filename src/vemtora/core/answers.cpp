#include "vemtora/core/answers.hpp"

#include <memory>
#include <utility>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/folder_lock.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"

#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/staging.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/run_lines.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

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

support::Result save_document(const fs::path& path, const std::string& text, AnswerFile& answer,
                              const std::string& label, const std::string& done_line, const Logger& logger) {
    auto saved = save_answer(path, text, answer, label, logger);
    if (!saved.ok) return support::Result::failure(saved.text);
    logger.info(done_line + support::utf8_text(path));
    return produced(support::utf8_text(path.filename()));
}

}  // namespace vemtora::exchange
