#include "vemtora/core/runwick.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"

namespace vemtora::runwick {

namespace fs = std::filesystem;

namespace {

bool is_shell_safe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
}

}  // namespace

std::string shell_quote(std::string_view word) {
    if (word.empty()) return "''";
    bool safe = true;
    for (char c : word) safe = safe && is_shell_safe(c);
    if (safe) return std::string(word);
    std::string quoted = "'";
    quoted += support::replace_all(word, "'", "'\"'\"'");
    quoted += '\'';
    return quoted;
}

support::Result run_alias_cmd_via_bash_interactive(const std::vector<std::string>& cmd_args, const std::string& label,
                                                   const Logger* logger) {
    const auto bash = support::find_executable("bash");
    std::vector<std::string> words;
    for (const auto& w : cmd_args) words.push_back(shell_quote(w));
    const std::vector<std::string> argv{bash ? support::utf8_text(*bash) : "bash", "-i", "-c", support::join(words, " ")};
    if (logger) logger->info("✅ 正在執行: " + support::join(argv, " "));

    std::string why;
    try {
        support::RunOptions shared_terminal;
        shared_terminal.out = support::Output::inherit;
        shared_terminal.err = support::Output::inherit;
        const auto run = support::run_process(argv, shared_terminal);
        if (run.status == 0) {
            if (logger) logger->info("🎉 成功執行 " + label + "！");
            return support::Result::success("成功執行 " + label);
        }
        why = support::status_description(argv, run.status);
    } catch (const support::ProcessError& e) {
        why = e.what();
    } catch (const std::system_error& e) {
        why = e.what();
    }
    if (logger) logger->error("❌ 執行 " + label + " 失敗: " + why);
    return support::Result::failure("執行 " + label + " 失敗: " + why);
}

// ---- git ----

namespace {

// The command as messages name it.
std::vector<std::string> git_argv(const std::vector<std::string>& words) {
    std::vector<std::string> argv{"git"};
    argv.insert(argv.end(), words.begin(), words.end());
    return argv;
}

// The command as it runs. The repository's own configuration came with it (a clone, an
// unpacked archive), so it must not choose a program for git to run while the tree is
// read: no file system monitor (core.fsmonitor) on any command that looks at the index,
// and for the commands that show a diff no external diff tool (diff.external,
// diff.<driver>.command), whose empty output would read as "no changes", and no text
// conversion (diff.<driver>.textconv). Hooks stay: they are how the user's own
// repository works.
std::vector<std::string> git_run_argv(const std::vector<std::string>& words) {
    std::vector<std::string> argv{"git", "-c", "core.fsmonitor=false"};
    // git's own options come before the command's name; -c and -C take the next word.
    size_t at = 0;
    while (at < words.size() && words[at].starts_with('-')) at += words[at] == "-c" || words[at] == "-C" ? 2 : 1;
    const auto command = words.begin() + static_cast<std::ptrdiff_t>(std::min(at, words.size()));
    argv.insert(argv.end(), words.begin(), command);
    if (command == words.end()) return argv;
    argv.push_back(*command);
    if (*command == "diff" || *command == "log" || *command == "show") argv.insert(argv.end(), {"--no-ext-diff", "--no-textconv"});
    argv.insert(argv.end(), command + 1, words.end());
    return argv;
}

}  // namespace

support::ProcessResult git(const std::vector<std::string>& words, support::Output output) {
    support::RunOptions options;
    options.out = options.err = output;
    return support::run_process(git_run_argv(words), options);
}

std::string command_failed(const std::string& command_line, int status) {
    return "Command '" + command_line + "' returned non-zero exit status " + std::to_string(status) + ".";
}

support::ProcessResult git_checked(const std::vector<std::string>& words, const GitCheck& check) {
    auto run = git(words, check.output);
    if (run.status == 0) return run;
    const std::vector<std::string> argv = git_argv(words);
    std::string why = check.naming == GitNaming::argument_list
                          ? support::status_description(argv, run.status)
                          : command_failed(support::join(argv, " "), run.status);
    const std::string said(support::strip(support::decode_replace(run.err)));
    if (check.explain && !said.empty()) why += " " + said;
    throw GitFailed(why);
}

std::string git_text(const support::ProcessResult& run) {
    return support::normalize_newlines(support::decode_ignore(run.out));
}

std::optional<std::string> commit_id(const std::string& revision) {
    auto run = git({"rev-parse", "--verify", "--quiet", "--end-of-options", revision + "^{commit}"});
    if (run.status != 0) return std::nullopt;
    std::string id(support::strip(git_text(run)));
    if (id.empty()) return std::nullopt;
    return id;
}

bool is_branch_name(const std::string& name) {
    if (name.empty()) return false;
    auto run = git({"check-ref-format", "--branch", name});
    return run.status == 0 && support::strip(git_text(run)) == name;
}

std::pair<std::string, std::optional<std::string>> get_git_diff_since_last_tag(const fs::path& source_dir) {
    const std::string source = support::utf8_text(source_dir);
    std::optional<std::string> base;
    // Failing to start git at all is not a missing tag: that reaches the caller.
    auto tag = git({"describe", "--tags", "--abbrev=0"});
    if (tag.status == 0) {
        base = std::string(support::strip(git_text(tag)));
    } else {
        try {
            auto roots = git({"rev-list", "--max-parents=0", "HEAD"});
            if (roots.status == 0) {
                std::string first = std::string(support::strip(git_text(roots)));
                base = first.substr(0, first.find('\n'));
            }
        } catch (const std::exception&) {
        }
    }
    // The folder is one of the working copy's own, taken as a path and nothing else.
    if (base && !base->empty()) {
        auto id = commit_id(*base);
        if (!id) throw GitFailed("'" + *base + "' names no commit.");
        return {git_text(git_checked({"--literal-pathspecs", "diff", "--end-of-options", *id, "--", source})), base};
    }
    try {
        auto diff = git({"--literal-pathspecs", "diff", "HEAD~1", "--", source});
        if (diff.status == 0) return {git_text(diff), "HEAD~1"};
    } catch (const std::exception&) {
    }
    return {"", std::nullopt};
}

std::optional<std::string> get_latest_git_tag(const Logger* logger) {
    const std::vector<std::string> argv{"git", "describe", "--tags", "--abbrev=0"};
    std::string why;
    try {
        const auto run = support::run_process(argv);
        if (run.status != 0) {
            why = support::status_description(argv, run.status);
        } else if (!support::is_valid_utf8(run.out) || !support::is_valid_utf8(run.err)) {
            why = "git's output is not valid UTF-8";
        } else {
            std::string tag(support::strip(run.out));
            if (tag.starts_with('v')) tag.erase(0, 1);
            if (logger) logger->info("✅ 從 git tag 偵測到目前最新版本號: " + tag);
            return tag;
        }
    } catch (const support::ProcessError& e) {
        why = e.what();
    } catch (const std::system_error& e) {
        why = e.what();
    }
    if (logger) logger->warning("⚠️ 無法從 git tag 中偵測到版本資訊: " + why);
    return std::nullopt;
}

std::string get_git_commit_log(const std::optional<std::string>& compare_target) {
    std::vector<std::string> words{"log", "--date=short", "--format=format:---%n%h %d  (%ad) %nMessage: %B",
                                   "--name-status"};
    try {
        if (compare_target && !compare_target->empty()) {
            auto since = commit_id(*compare_target);
            if (!since) return "";
            words.insert(words.end(), {"--end-of-options", *since + ".."});
        }
        const auto run = git(words);
        if (run.status != 0) return "";
        return std::string(support::strip(support::decode_ignore(run.out)));
    } catch (const support::ProcessError&) {
        return "";
    } catch (const std::system_error&) {
        return "";
    }
}

ReadmeInfo parse_readme_info(const fs::path& readme_path, const Logger* logger) {
    ReadmeInfo info;
    try {
        if (!fs::exists(readme_path)) return info;
        const std::string text =
            support::normalize_newlines(support::decode_ignore(brenkit::fileIO::read_or_throw(readme_path)));

        auto find = [&text](const char* pattern) -> std::optional<std::string> {
            const support::Regex re(pattern, support::Regex::ignore_case);
            const auto m = re.search(text);
            if (!m) return std::nullopt;
            return std::string(support::strip(m->group(1)));
        };
        info.author = find(R"(\*\*Author:\*\*\s*`?([^`\n\r&]+)`?)");
        info.project_name = find(R"(\*\*Project\s*Name:\*\*\s*`?([^`\n\r&]+)`?)");
        info.version = find(R"(\*\*Version:\*\*\s*`?[vV]?([^`\n\r&]+)`?)");
    } catch (const std::exception& e) {
        if (logger) logger->warning(std::string("⚠️ 解析 README.md 失敗: ") + e.what());
    }
    return info;
}

}  // namespace vemtora::runwick
