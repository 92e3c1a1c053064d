#pragma once
// Shell and git services of the AI commands: a user's shell alias run through an
// interactive bash, git runs, the latest git tag, the diff since it, the commit log and
// a README's header fields.
// These functions keep nothing and write messages only through the logger they are
// given; without one they are silent.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/process.hpp"
#include "support/result.hpp"

namespace vemtora::runwick {

using Logger = brenkit::app_logging::Logger;

// A word quoted for a POSIX shell: unchanged when made only of ASCII letters, digits and
// _@%+=:,./- ; '' when empty; otherwise in single quotes, each ' written as '"'"'.
std::string shell_quote(std::string_view word);

// Runs the words as one command line in `bash -i -c`, so the user's aliases from the
// interactive start-up file are known; the terminal is shared, nothing is captured.
// (true, "成功執行 " + label) on exit status 0, else (false, "執行 " + label + " 失敗: " + why).
support::Result run_alias_cmd_via_bash_interactive(const std::vector<std::string>& cmd_args,
                                                   const std::string& label = "指令", const Logger* logger = nullptr);

// ---- git ----

// A git command that ended with a non-zero exit status; the text names the command and
// the status.
class GitFailed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How GitFailed names the command: as its argument list ("Command '['git', 'add', '.']'
// returned non-zero exit status 1.") or as its command line ("Command 'git add .'
// returned non-zero exit status 1.").
enum class GitNaming { argument_list, command_line };

struct GitCheck {
    support::Output output = support::Output::capture;  // standard output and error alike
    GitNaming naming = GitNaming::argument_list;
    bool explain = false;  // git's own complaint on standard error follows the description
};

// Runs git with the words, its standard output and error captured or shared with the
// terminal. Raises support::ProcessError when git cannot be started. No program that the
// repository's configuration names runs for it (no file system monitor; for diff, log
// and show no external diff tool and no text conversion); hooks do.
support::ProcessResult git(const std::vector<std::string>& words, support::Output output = support::Output::capture);
// The failure of a command named by its command line: "Command 'git add .' returned
// non-zero exit status 1."
std::string command_failed(const std::string& command_line, int status);
// As git(), and raises GitFailed on a non-zero exit status.
support::ProcessResult git_checked(const std::vector<std::string>& words, const GitCheck& check = {});
// Captured output as text: undecodable bytes dropped, line ends normalised.
std::string git_text(const support::ProcessResult& run);

// Names read from a repository (tags, branches) arrive with every clone and fetch, so git
// must never read one as an option: a revision goes to git as the commit id it names, and
// a branch only once git accepts it as a branch name.

// The id of the commit that `revision` names, as git resolves it; nothing when it names
// no commit. Raises support::ProcessError when git cannot be started.
std::optional<std::string> commit_id(const std::string& revision);
// Whether git takes `name` as it is for a branch name (a name that git would expand, such
// as "@{-1}", or read as an option, such as "--mirror", is not one).
bool is_branch_name(const std::string& name);

// The nearest tag reachable from HEAD without one leading "v"; nothing when git cannot
// give one (no tag, no repository, no git, output that is not UTF-8).
std::optional<std::string> get_latest_git_tag(const Logger* logger = nullptr);

// The diff of `source_dir` since the latest tag (else the first root commit, else
// HEAD~1) and the revision it was taken against; ("", nothing) when nothing compares.
// Raises GitFailed when the diff against a tag or root commit fails.
std::pair<std::string, std::optional<std::string>> get_git_diff_since_last_tag(
    const std::filesystem::path& source_dir);

// `git log` since `compare_target` (all of HEAD's history without one) with the date,
// refs, message and changed files of each commit; "" on any failure.
std::string get_git_commit_log(const std::optional<std::string>& compare_target = std::nullopt);

struct ReadmeInfo {
    std::optional<std::string> author;
    std::optional<std::string> project_name;
    std::optional<std::string> version;
};
// The bold Author, Project Name and Version fields of a Markdown README; a field that is
// not found stays empty. Never raises: a file that cannot be read gives a warning.
ReadmeInfo parse_readme_info(const std::filesystem::path& readme_path, const Logger* logger = nullptr);

}  // namespace vemtora::runwick
