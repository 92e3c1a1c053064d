// Local files and folders, and what a project's setup.py says about it.
#include "brenkit/fileIO.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <system_error>

#include "brenkit/fileIO_internal.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"

namespace brenkit::fileIO {

std::string load_local_file_content(const fs::path& path, const std::string& label, const Logger* logger) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        if (logger) logger->warning(fmt::format("⚠️ 找不到{}: {}", label, support::utf8_text(path)));
        return "";
    }
    auto text = support::read_file(path);
    if (!text) {
        if (logger) logger->error(fmt::format("❌ 無法讀取{}: {}", label, support::utf8_text(path)));
        return "";
    }
    if (!support::is_valid_utf8(*text)) {
        if (logger) logger->warning(fmt::format("⚠️ {} 含有非 UTF-8 的位元組，已替換為 U+FFFD: {}", label, support::utf8_text(path)));
        return support::decode_replace(*text);
    }
    return std::move(*text);
}

namespace {

// The current folder without links; resolved again only when the folder changes, since a
// converter saves thousands of pages from one folder.
std::optional<fs::path> working_copy() {
    static fs::path seen, real;
    std::error_code ec;
    fs::path here = fs::current_path(ec);
    if (ec) return std::nullopt;
    if (here != seen || real.empty()) {
        real = fs::canonical(here, ec);
        if (ec) return std::nullopt;
        seen = std::move(here);
    }
    return real;
}

}  // namespace

std::optional<std::string> write_leaves_working_copy(const fs::path& path) {
    const auto here = working_copy();
    if (!here) return std::nullopt;
    auto out = support::link_out_of(path, *here);
    if (!out) return std::nullopt;
    return "符號連結 " + support::generic_utf8_text(out->link) + " 指向工作目錄之外的 " + support::utf8_text(out->target) +
           "，未寫入";
}

void refuse_write_out_of_working_copy(const fs::path& path) {
    if (auto reason = write_leaves_working_copy(path)) throw std::runtime_error(*reason);
}

support::Result save_local_file_content(const fs::path& path, const std::string& text, const std::string& label,
                                        const Logger* logger, Reach reach) {
    try {
        if (reach == Reach::working_copy) refuse_write_out_of_working_copy(path);
        if (path.has_parent_path()) fs::create_directories(path.parent_path());
        support::write_file_atomic(path, text);
    } catch (const std::exception& e) {
        auto message = fmt::format("無法寫入{} {}: {}", label, support::utf8_text(path), support::failure_reason(e));
        if (logger) logger->error("❌ " + message);
        return support::Result::failure(message);
    }
    auto message = fmt::format("已儲存{}: {}", label, support::utf8_text(path));
    if (logger) logger->debug("🔍 " + message);
    return support::Result::success(message);
}

void remove_file(const fs::path& path) {
    std::error_code ec;
    auto status = fs::symlink_status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status)) return;
    fs::remove(path, ec);
}

void remove_directory(const fs::path& path) {
    std::error_code ec;
#ifdef _WIN32
    // Windows refuses to delete read-only files, and git marks its object files so:
    // make everything below the folder writable first.
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    ec.clear();
#endif
    fs::remove_all(path, ec);
}

bool setup_output_dir(const fs::path& folder, const Logger* logger) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        if (logger) logger->error(fmt::format("❌ 無法建立輸出資料夾 {}: {}", support::utf8_text(folder), ec ? ec.message() : "路徑已被檔案佔用"));
        return false;
    }
    if (logger) logger->debug(fmt::format("🔍 已建立輸出資料夾: {}", support::utf8_text(folder)));
    return true;
}

fs::path setup_output_file(const fs::path& folder, const std::string& file_name, const Logger* logger) {
    setup_output_dir(folder, logger);
    return folder / support::path_from_utf8(file_name);
}

fs::path get_unique_path(const fs::path& folder, const std::string& stem, const std::string& suffix) {
    auto taken = [](const fs::path& p) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec));
    };
    auto candidate = folder / support::path_from_utf8(stem + suffix);
    for (int n = 1; taken(candidate); ++n) candidate = folder / support::path_from_utf8(fmt::format("{}_{}{}", stem, n, suffix));
    return candidate;
}

int get_path_type(const fs::path& path, const Logger* logger) {
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (fs::is_directory(status)) return 0;
    if (fs::exists(status)) return 1;
    if (logger) logger->debug(fmt::format("🔍 路徑不存在: {}", support::utf8_text(path)));
    return -1;
}

DirectoryList get_directory_list(const fs::path& root_path, const DirectoryOptions& options) {
    auto hit = [&](const std::string& name) {
        auto any = [&](const std::vector<std::string>& list, auto pred) {
            return std::any_of(list.begin(), list.end(), pred);
        };
        return any(options.exclude_prefixes, [&](const auto& p) { return name.rfind(p, 0) == 0; }) ||
               any(options.exclude_names, [&](const auto& n) { return name == n; }) ||
               any(options.exclude_suffixes, [&](const auto& s) {
                   return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
               });
    };
    std::vector<std::pair<std::string, fs::path>> found;
    std::error_code ec;
    auto it = fs::directory_iterator(root_path, fs::directory_options::skip_permission_denied, ec);
    for (auto end = fs::directory_iterator(); !ec && it != end; it.increment(ec)) {
        std::error_code e;
        auto name = support::utf8_text(it->path().filename());
        if (it->is_directory(e) && !hit(name)) found.emplace_back(name, it->path());
    }
    std::sort(found.begin(), found.end());
    DirectoryList list;
    for (auto& [name, path] : found) {
        list.names.push_back(name);
        list.paths.push_back(path);
    }
    return list;
}

namespace {

// The string literal assigned to a keyword argument such as name="demo" or version='1.0'.
std::optional<std::string> keyword_literal(const std::string& text, const std::string& keyword) {
    support::Regex re("\\b" + keyword + "\\s*=\\s*(?:\"([^\"\\n]*)\"|'([^'\\n]*)')");
    auto m = re.search(text);
    if (!m) return std::nullopt;
    return std::string(m->matched(1) ? m->group(1) : m->group(2));
}

}  // namespace

PackageInfo get_package_name_version() {
    PackageInfo info;
    auto text = support::read_file("setup.py");
    if (!text) return info;
    if (auto name = keyword_literal(*text, "name")) info.name = *name;
    if (auto version = keyword_literal(*text, "version")) info.version = *version;
    info.author = keyword_literal(*text, "author");
    return info;
}

std::string get_cli_name(const fs::path& setup_py, const std::string& fallback) {
    auto text = support::read_file(setup_py);
    if (!text) return fallback;
    // "console_scripts": ["name = package.module:function", ...]
    static const support::Regex re("console_scripts['\"]?\\s*[:=]\\s*\\[\\s*['\"]\\s*([^'\"=\\s]+)\\s*=");
    auto m = re.search(*text);
    if (!m) return fallback;
    return std::string(m->group(1));
}

}  // namespace brenkit::fileIO
