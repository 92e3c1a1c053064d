// The git queries of the README assistant.
#include "support/process.hpp"
#include "support/text.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace vemtora::quillary {

namespace {

struct Captured {
    int status = 0;
    std::string out;
};

Captured git_capture(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"git"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = support::run_process(argv);
    return {r.status, support::normalize_newlines(support::decode_ignore(r.out))};
}

}  // namespace

std::string git_checked(const std::vector<std::string>& args, bool capture) {
    std::vector<std::string> argv{"git"};
    argv.insert(argv.end(), args.begin(), args.end());
    support::RunOptions options;
    if (!capture) options.out = options.err = support::Output::inherit;
    auto r = support::run_process(argv, options);
    if (r.status != 0) throw CommandFailed(support::status_description(argv, r.status));
    return support::normalize_newlines(support::decode_ignore(r.out));
}

std::pair<std::string, std::optional<std::string>> get_git_diff_since_last_tag(
    const std::filesystem::path& source_dir) {
    const std::string source = source_dir.string();
    std::optional<std::string> base;
    // Failing to start git at all is not a missing tag: that reaches the caller.
    auto tag = git_capture({"describe", "--tags", "--abbrev=0"});
    if (tag.status == 0) {
        base = std::string(support::strip(tag.out));
    } else {
        try {
            auto roots = git_capture({"rev-list", "--max-parents=0", "HEAD"});
            if (roots.status == 0) {
                std::string first = std::string(support::strip(roots.out));
                base = first.substr(0, first.find('\n'));
            }
        } catch (const std::exception&) {
        }
    }
    if (base && !base->empty()) return {git_checked({"diff", *base, "--", source}), base};
    try {
        auto diff = git_capture({"diff", "HEAD~1", "--", source});
        if (diff.status == 0) return {diff.out, "HEAD~1"};
    } catch (const std::exception&) {
    }
    return {"", std::nullopt};
}

}  // namespace vemtora::quillary
