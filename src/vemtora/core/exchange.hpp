#pragma once
// The files that the AI commands exchange with the agent: the goal, skill and template
// files fetched from the maker's repository when they are missing, the references to
// files in a prompt, the output section that names the agent's output file, and the
// read and clean-up of that file.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/result.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/core/runwick.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

inline constexpr const char* goal_folder = "_agy/goal/";
inline constexpr const char* skill_folder = "_agy/skill/";
inline constexpr const char* template_folder = "template/";

// The download address of a local file: the repository folder followed by the file's
// own name, wherever the local file lives.
std::string download_url(const std::string& repo_folder, const fs::path& local_path);

// Makes the file's folder, with its parents; not where a link would put it outside the
// working copy (the save into it then says why). A folder that cannot be created throws.
void make_parent(const fs::path& path);

// Makes sure the file is present: downloads it from the repository folder under its own
// file name when it is missing. True when the file exists afterwards. The fetches below
// make a missing file's folders only once its download has succeeded, so a failed one
// leaves no empty folder in the working copy.
bool fetch(const fs::path& path, const std::string& repo_folder, const std::string& label, const Logger& logger);

// Fetches the goal file and then the skill file. Nothing when both exist afterwards;
// otherwise the error is logged and the failure result is returned.
std::optional<support::Result> fetch_goal_and_skill(const fs::path& goal_path, const fs::path& skill_path,
                                                    const Logger& logger);

// A local file and the repository file that fills it when it is missing, whatever
// the local file is called.
struct FixedSource {
    fs::path path;
    std::string repo_path;  // "_agy/goal/torvane.yaml"
    std::string label;
};
// Downloads each missing file from its own repository file. Nothing when all of them exist
// afterwards; otherwise the failure of fetch_goal_and_skill, its error logged.
std::optional<support::Result> fetch_fixed(const std::vector<FixedSource>& sources, const Logger& logger);

// Fetches an output template; a template that cannot be had is warned about and
// dropped (nothing returned), which is no failure. A present template is announced.
std::optional<fs::path> fetch_template(const fs::path& template_path, const Logger& logger);
std::optional<fs::path> fetch_template(const fs::path& template_path, const std::string& label, const Logger& logger);
// The same fetch from any repository folder, without the announcement.
std::optional<fs::path> fetch_optional_template(const fs::path& template_path, const std::string& repo_folder,
                                                const std::string& label, const Logger& logger);

// The prompt line that points the agent at a template, or "" without one.
std::string template_ref(const std::optional<fs::path>& template_path);

// A path as a prompt names it: absolute, with "/" separators. A path whose text could
// change what the prompt says (support::prompt_safe: a line feed that starts a new
// instruction, a backtick or bracket that ends the path's marks) is left out: "" is
// given, and a warning line names the path.
std::string prompt_path(const fs::path& path);

// "@[" + prompt_path(path) + "]".
std::string reference(const fs::path& path);

// The block that ends a prompt and names the output file; it follows the "]" of the
// last reference and ends with a line feed. An output file that prompt_path leaves out
// is refused by agent_pass before the agent runs.
std::string output_section(const fs::path& output_path);

// The output section itself: "【輸出要求】" + `colon` + the instruction to write `what`
// ("生成的手冊內容") to the output file, ending with a line feed.
std::string output_request(const std::string& colon, const std::string& what, const fs::path& output_path);
// The same for an output file that the caller has already named as prompt_path does.
std::string output_request_named(const std::string& colon, const std::string& what, const std::string& named_path);

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

// The files this program keeps under `_agy/` of the working folder (an agent's answer
// kept after a failed run, the scratch inputs of a run), as glob patterns: they are the
// tool's, never part of the user's work.
inline constexpr const char* own_files[] = {"_agy/generated-*", "_agy/current-*", "_agy/pipeline-result.md"};
// A git query's words followed by "--" and the pathspecs of the user's work: the whole
// working tree without the tool's own files. For queries only: an exclusion that names an
// ignored folder makes `git add` fail, so stage_users_work unstages them instead.
std::vector<std::string> over_users_work(std::vector<std::string> words);
// Stages with `git add` and the words given (`check` says how git runs and how its failure
// is named), then takes the tool's own files back out of the index, so that a commit holds
// the user's work only, whether or not the user's ignore rules name the tool's folder.
void stage_users_work(const std::vector<std::string>& add_words, const runwick::GitCheck& check);

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

// Makes the output folder before anything is asked or the agent runs, so a folder that
// cannot be made or written, or that a link takes out of the working copy, ends the run
// at once. Nothing when the folder is there and can be written; otherwise (the error line
// logged once) the failure result.
std::optional<support::Result> prepare_output_dir(const fs::path& folder, const Logger& logger);
// Tries an existing folder that a run will save into as the save would (the link rule,
// then support::try_save_in), before the agent runs: nothing when a save could go there,
// else the failure result of the line that says why (logged).
std::optional<support::Result> refuse_unwritable(const fs::path& folder, const Logger& logger);
// Checks a file that a run will save, or point the agent at, before the agent runs:
// nothing when the link rule lets it be, else the failure result of the line (logged).
std::optional<support::Result> refuse_link_out(const fs::path& path, brenkit::fileIO::Deed deed, const Logger& logger);
// Checks the folders that an agent's command line hands it, before the agent starts: each
// "--add-dir" value and each folder that an argument names as "@[" + path + "]". The agent
// reads them with the user's rights and follows their links, so a link in them that git
// tracks (one the repository brought) may not lead out of the working copy by the link
// rule. Nothing when none does; else the failure result of the line (logged) that names up
// to ten such links and where they lead. Links that git does not track (a virtual
// environment's interpreter) are the user's own and pass.
std::optional<support::Result> refuse_tracked_links_out(const std::vector<std::string>& agent_argv,
                                                        const Logger& logger);

// The failure result of an editor that did not end normally (its reason is logged).
support::Result editor_failed();
// The failure result of a file menu left without a choice, or of a scan that found nothing.
support::Result no_file_chosen();
// The success result of a run that wrote the file `file_name`: "成功產出: " + the name.
support::Result produced(const std::string& file_name);

// The short output request of the commands whose prompts are brief: write the answer to
// the output file with the tool, and nothing else (no line feed at the end).
std::string brief_output_request(const fs::path& output_path);

// The lines of a run that writes a new document or refactors one: the file it will write
// (`out_path`) or the one picked for refactoring (`picked`, as the command names it), the
// module name found for the prompt (debug) and the requirement the user typed.
void log_generate_mode(const fs::path& out_path, const Logger& logger);
void log_refactor_mode(const std::string& picked, const Logger& logger);
void log_module_name(const std::string& module_name, const Logger& logger);
void log_requirement(const std::string& requirement, const Logger& logger);
// The editor's opening text when the user may add a requirement for generating the
// document `document` ("API 手冊"), one line.
std::string generate_requirement_marker(const std::string& document);
// The debug line of the prompt an agent pass is given, after "🔍 Agy Prompt: " or, in
// the commands that show it as a block of its own, under "Prompt:".
void log_prompt(const std::string& prompt, const Logger& logger);
void log_prompt_block(const std::string& prompt, const Logger& logger);

// The question for a document's author when nothing names one, and the proposal where a
// command offers one.
inline constexpr const char* author_question = "💬 請手動輸入作者 (Author)";
inline constexpr const char* default_author = "Orlen Vask";

// Whether the name stays inside the folder it is joined to: one path component, not
// empty, not "." or "..", with no separator of any platform.
bool plain_file_name(const std::string& name);

// Removes every file, in order; absent files are no failure.
void remove_files(const std::vector<fs::path>& paths);

// Where a generated document is saved: `out_path`, unless it exists and the user
// declines to replace it; then a free name in `output_dir` with the same stem and ".md",
// so the old document is never lost. Nothing when no name is free (the line that says so
// is logged): the caller fails with fileIO::no_unique_path.
std::optional<fs::path> overwrite_target(const fs::path& out_path, const fs::path& output_dir, const Logger& logger);

// The sub-folders of "." that can hold a project (hidden and "_" folders, build output
// and packaging folders left out). Nothing when there is one at least; otherwise the
// error is logged and the failure result is returned.
std::optional<support::Result> list_project_folders(brenkit::fileIO::DirectoryList& folders, const Logger& logger);
// The folder menu with its hint line. Nothing when a folder was chosen (it is put in
// `chosen`); otherwise the warning is logged and the failure result is returned.
std::optional<support::Result> choose_project_folder(const brenkit::fileIO::DirectoryList& folders, fs::path& chosen,
                                                     const Logger& logger);

// Today's local date as year-month-day ("2025-01-31").
std::string today();

}  // namespace vemtora::exchange
