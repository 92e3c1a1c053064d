#pragma once
// The agent's answer: one pass of the agent whose answer is a file, the run's hold on the
// answer's folder, the answer file until it is settled, and the saves of an answer.
#include <filesystem>
#include <optional>
#include <string>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// The output file's text, stripped, without a byte-order mark and with every CRLF made
// LF; "" when the agent wrote nothing. The file is read
// without following a link, as a regular file of at most fileIO::max_answer_bytes; an
// answer that is anything else is refused: the failure is the line that says why and
// where the file is, which is logged.
support::Result read_output(const fs::path& output_path, const std::string& label, const Logger& logger);

// One run's hold on the folder that keeps the agent's answer files (`_agy`), for as long
// as the object lives: the folder's advisory lock, so that a second run in the same
// working copy is refused at once instead of reading, replacing or removing this run's
// answer and scratch files. No file is created for it, and the system drops it when the
// process ends, however it ends; on Linux not before the agent it started has ended with
// all that it started (support::RunOptions::contained). Holds of one folder nest within
// a run. A folder that cannot be made, opened or locked (some network file systems) is
// not held; the run goes on as it did before.
class AnswerLock {
  public:
    AnswerLock() = default;  // holds nothing
    AnswerLock(const fs::path& answer_path, const Logger& logger);
    AnswerLock(AnswerLock&& other) noexcept;
    AnswerLock& operator=(AnswerLock&& other) noexcept;
    AnswerLock(const AnswerLock&) = delete;
    AnswerLock& operator=(const AnswerLock&) = delete;
    ~AnswerLock();
    // Set when another run holds the folder; its error line has been logged.
    const std::optional<support::Result>& refused() const { return refused_; }

  private:
    void release();
    std::string held_;  // the folder whose hold this is; empty when none
    std::optional<support::Result> refused_;
};

// The file in which the agent left its answer, which is all there is of the agent's paid
// work until the answer has been saved. The caller removes it with `saved()` once the
// answer is where it belongs, or with `discard()` when the answer is not wanted (another
// pass follows, the user declined it). Dropped without either (a failed save, a question
// ended by end of input, an exception) the file stays and one line says where it is.
// It keeps the run's hold on the answer's folder (AnswerLock) as long as it lives.
class AnswerFile {
  public:
    AnswerFile() = default;
    AnswerFile(fs::path path, const Logger& logger, AnswerLock lock = {})
        : path_(std::move(path)), logger_(&logger), lock_(std::move(lock)) {}
    AnswerFile(AnswerFile&& other) noexcept;
    AnswerFile& operator=(AnswerFile&& other) noexcept;
    AnswerFile(const AnswerFile&) = delete;
    AnswerFile& operator=(const AnswerFile&) = delete;
    ~AnswerFile();

    void saved() { remove(); }
    void discard() {
        if (!held_) remove();
    }
    // The answer was refused as it is: it stays where it is, whatever the caller does,
    // unless another pass is to write the same file (`replaced`).
    void hold() { held_ = true; }
    // Another pass writes the same file and removes it first: it goes now, held or not,
    // so that no line says it stays.
    void replaced() { remove(); }
    // Takes the file out of the tree while the caller holds the answer's text (a commit of
    // the whole tree must not hold it). Unless the answer is saved or discarded after
    // all, the text is written back on the way out and the same line says where.
    void set_aside(std::string text);

  private:
    void remove();
    void keep();
    std::optional<fs::path> path_;
    std::optional<std::string> aside_;
    const Logger* logger_ = nullptr;
    AnswerLock lock_;
    bool held_ = false;
};

// One agent pass: a failure with the run's reason, or success with the answer as
// `read_output` gives it ("" when the agent wrote nothing); and the answer's file.
struct AgentAnswer : support::Result {
    AnswerFile file;
};

// One agent pass whose answer is the file it writes to `output_path`. A stale file is
// removed first, so an old answer is never taken for a new one. The file stays until the
// caller settles it (see AnswerFile); an answer that is empty is removed at once, one that
// read_output refuses stays whatever the caller does, and the pass fails with its reason.
// The answer's folder is held from before the run (a refused hold gives its failure), an
// answer path that a link takes out of the working copy is refused before the run, and
// an interrupt that ends the agent leaves what it wrote so far, with the line that says
// where. An output file that no prompt can name safely (see prompt_path) is a failure
// before anything runs.
AgentAnswer agent_pass(const fs::path& output_path, const mindrel::RunAgyArgs& args, const std::string& label,
                       const Logger& logger);

// How the lines of a saved answer end: as in the file it replaces (LF for a new file), or
// always LF (a script that bash reads, on Windows too).
enum class LineEnds { of_replaced_file, lf };
// The answer's text (as read_output gives it: without a byte-order mark, its lines ended
// by LF) as it is saved at `path`: with CRLF where the file it replaces ends every line so.
std::string saved_form(const fs::path& path, const std::string& text, LineEnds ends = LineEnds::of_replaced_file);
// Saves an answer at `path` in its saved form; on success the answer's file goes. The
// save's result (a failure keeps the answer's file).
support::Result save_answer(const fs::path& path, const std::string& text, AnswerFile& answer,
                            const std::string& label, const Logger& logger,
                            LineEnds ends = LineEnds::of_replaced_file);

// Saves a generated document: on success removes the agent's answer file, logs
// `done_line` followed by the path and gives produced() of the file's name; a failed
// save gives the save's message and keeps the answer file.
support::Result save_document(const fs::path& path, const std::string& text, AnswerFile& answer,
                              const std::string& label, const std::string& done_line, const Logger& logger);

}  // namespace vemtora::exchange
