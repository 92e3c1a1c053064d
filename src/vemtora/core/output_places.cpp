#include "vemtora/core/output_places.hpp"

#include <algorithm>
#include <memory>
#include <utility>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/staging.hpp"
#include "vemtora/core/run_lines.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

void make_parent(const fs::path& path) {
    fs::path parent = path.parent_path();
    if (!parent.empty() && !fileIO::leaves_working_copy(path, fileIO::Deed::write)) fs::create_directories(parent);
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

}  // namespace vemtora::exchange
