// Local files and folders, and what a project's setup.py says about it.
#include "brenkit/fileIO.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <stdexcept>
#include <system_error>

#include "brenkit/fileIO_internal.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "support/windows_paths.hpp"

namespace brenkit::fileIO {

namespace {

// The current folder without links; resolved again only when the folder changes, since a
// converter saves thousands of pages from one folder. Never destroyed: clean-ups that run
// as the program ends still ask.
std::optional<fs::path> working_copy() {
    static auto& seen = *new fs::path;
    static auto& real = *new fs::path;
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

// The places the user named, absolute and without "." parts, as they were written; never
// destroyed, as above.
std::vector<fs::path>& named_places() {
    static auto& places = *new std::vector<fs::path>;
    return places;
}

// The absolute path without empty and "." parts; ".." stays, since links decide where it
// leads. `current` is the current folder, for a path without any root.
fs::path spelled_out(const fs::path& p) {
    std::error_code ec;
    fs::path absolute = support::absolute_path(p, ec);
    return ec ? fs::path() : support::lexical_path(absolute);
}
fs::path spelled_out(const fs::path& p, const fs::path& current) {
    return p.root_path().empty() ? support::lexical_path(current / p) : spelled_out(p);
}

// The path as the rule sees it: a place the user named in front of it is replaced by
// where that place leads, so that only what lies below it is looked at.
fs::path below_named_place(const fs::path& path) {
    const fs::path spelled = spelled_out(path);
    const fs::path* longest = nullptr;
    size_t longest_parts = 0;
    for (const auto& place : named_places()) {
        auto [p, s] = std::mismatch(place.begin(), place.end(), spelled.begin(), spelled.end());
        const auto parts = static_cast<size_t>(std::distance(place.begin(), place.end()));
        if (p == place.end() && parts > longest_parts) {
            longest = &place;
            longest_parts = parts;
        }
    }
    if (!longest) return path;
    fs::path resolved = support::resolved_path(*longest);
    auto rest = spelled.begin();
    std::advance(rest, static_cast<std::ptrdiff_t>(longest_parts));
    for (; rest != spelled.end(); ++rest) resolved /= *rest;
    return resolved;
}

// While a SteadyFolders lives: the current folder and the working copy as they were when
// the outermost one began, and each folder met since, by the path it was given as: spelled
// out, with its verdict for the places named when it was found.
struct Folder {
    fs::path spelled;
    std::optional<support::LinkOut> verdict;
    std::vector<fs::path> named;  // the names in it of places named
    std::optional<bool> in_reach{};  // out_of_reach found nothing to refuse in the folder, once asked
};
struct Verdicts {
    int depth = 0;
    fs::path current;              // the current folder as the process names it
    std::optional<fs::path> real;  // the same without links
    std::unordered_map<fs::path::string_type, Folder> folders;
};
Verdicts& verdicts() {
    static auto& v = *new Verdicts;
    return v;
}

// The first link on the way to `path` that leads out of the working copy `here`.
std::optional<support::LinkOut> link_out(const fs::path& path, const std::optional<fs::path>& here) {
    if (!here) return std::nullopt;
    return support::link_out_of(below_named_place(path), *here);
}
std::optional<support::LinkOut> link_out(const fs::path& path) { return link_out(path, working_copy()); }

// A name that stands for a folder itself ("", ".", ".."): such a path is judged whole.
bool names_folder_itself(const fs::path& name) {
    const auto& n = name.native();
    return n.empty() || n == fs::path(".").native() || n == fs::path("..").native();
}

// The folder of `path` as it was given, judged by the link rule when first met.
Folder& steady_folder(const fs::path& path) {
    auto& v = verdicts();
    const fs::path given = path.parent_path();
    auto [found, added] = v.folders.try_emplace(given.native());
    Folder& folder = found->second;
    if (added) {
        folder.spelled = spelled_out(given, v.current);
        folder.verdict = link_out(folder.spelled, v.real);
        for (const auto& place : named_places())
            if (place.parent_path() == folder.spelled) folder.named.push_back(place.filename());
    }
    return folder;
}

// The first link out, with the folder's verdict found once: only the last name is looked
// at anew (a link there is followed as always). A named place, or a name such as "..", is
// judged whole.
std::optional<support::LinkOut> steady_link_out(const fs::path& path) {
    auto& v = verdicts();
    if (!v.real) return link_out(path);
    const fs::path name = path.filename();
    if (names_folder_itself(name)) return link_out(path, v.real);
    Folder& folder = steady_folder(path);
    if (std::find(folder.named.begin(), folder.named.end(), name) != folder.named.end()) return link_out(path, v.real);
    if (folder.verdict) return folder.verdict;
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(folder.spelled / name, ec))) return std::nullopt;
    return link_out(path, v.real);
}

// The path a save is given: while a SteadyFolders lives, a relative one is taken from the
// current folder it began in, so that the save need not ask the system for it each time.
// One with a root of any kind ("\\?\C:\x" and "\\server\share" too, which the file system
// library takes for relative on Windows) is the system's to read as it is.
fs::path steady_absolute(const fs::path& path) {
    const auto& v = verdicts();
    return v.depth > 0 && v.real && path.root_path().empty() ? v.current / path : path;
}

const char* refused_deed(Deed deed) {
    switch (deed) {
        case Deed::read: return "未讀取";
        case Deed::remove: return "未刪除";
        case Deed::offer: return "已略過";
        case Deed::write: break;
    }
    return "未寫入";
}

std::string link_refused(const support::LinkOut& out, Deed deed) {
    return "符號連結 " + support::generic_utf8_text(out.link) + " 指向工作目錄之外的 " + support::utf8_text(out.target) +
           "，" + refused_deed(deed);
}

}  // namespace

// The folders' verdicts are kept while a SteadyFolders lives.
std::optional<support::LinkOut> link_leading_out(const fs::path& path) {
    if (path.empty()) return std::nullopt;
    return verdicts().depth > 0 ? steady_link_out(path) : link_out(path);
}

std::optional<std::string> leaves_working_copy(const fs::path& path, Deed deed) {
    if (support::is_windows() && (deed == Deed::write || deed == Deed::read)) {
        // A name that Windows keeps for a device opens the device: nothing is written there,
        // and what is read there is no file.
        const std::string text = support::utf8_text(path);
        if (auto device = support::windows_reserved_component(text))
            return "「" + *device + "」是 Windows 保留的裝置名稱，無法作為檔名或資料夾名稱，" + refused_deed(deed);
        // A name that the system would shorten is made under another name, where nothing
        // would find it again.
        if (deed == Deed::write)
            if (auto trimmed = support::windows_trimmed_component(text))
                return "「" + *trimmed + "」的結尾是空白或句點，Windows 會將它去掉，無法作為檔名或資料夾名稱，未寫入";
    }
    auto out = link_leading_out(deed == Deed::remove ? path.parent_path() : path);
    if (!out) return std::nullopt;
    return link_refused(*out, deed);
}

namespace {

// out_of_reach, judged afresh.
std::optional<std::string> judged_reach(const fs::path& path, Deed deed) {
    const auto real = working_copy();
    const fs::path spelled = spelled_out(path);
    const fs::path words = spelled.lexically_normal();
    const auto& named = named_places();
    // First by its words, so that a place elsewhere (a network share on Windows) is never
    // opened: the working copy as the process names it, or without links, or a named place.
    const fs::path current = spelled_out(".");
    const bool said_inside =
        !words.empty() && ((real && support::path_within(words, *real)) ||
                           (!current.empty() && support::path_within(words, current)) ||
                           std::any_of(named.begin(), named.end(), [&words](const fs::path& place) {
                               return support::path_within(words, place.lexically_normal());
                           }));
    if (!said_inside) return support::utf8_text(words.empty() ? path : words) + " 位於工作目錄之外，" + refused_deed(deed);
    // A link of the working copy that leads out is named as the link rule names it.
    if (auto out = link_leading_out(path)) return link_refused(*out, deed);
    // Then where it leads, every link followed, ".." taken where a link led: links below a
    // named place are the user's, but their targets must still lie in one of these places.
    const fs::path target = support::resolved_path(spelled);
    if (real && support::path_within(target, support::resolved_path(*real))) return std::nullopt;
    for (const auto& place : named)
        if (support::path_within(target, support::resolved_path(place))) return std::nullopt;
    return support::utf8_text(path) + " 指向工作目錄之外的 " + support::utf8_text(target) + "，" + refused_deed(deed);
}

}  // namespace

std::optional<std::string> out_of_reach(const fs::path& path, Deed deed) {
    // While a SteadyFolders lives a folder in reach is judged once: a name in it that is no
    // link lies where the folder leads, by its words too. Anything else is judged whole.
    if (verdicts().depth > 0 && verdicts().real && !names_folder_itself(path.filename())) {
        Folder& folder = steady_folder(path);
        if (!folder.in_reach) folder.in_reach = !judged_reach(folder.spelled, deed);
        std::error_code ec;
        if (*folder.in_reach && !fs::is_symlink(fs::symlink_status(folder.spelled / path.filename(), ec)))
            return std::nullopt;
    }
    return judged_reach(path, deed);
}

SteadyFolders::SteadyFolders() {
    auto& v = verdicts();
    if (v.depth++ > 0) return;
    // Asked once: a run that saves thousands of pages would ask the system for each.
    std::error_code ec;
    v.current = fs::current_path(ec);
    v.real = ec ? std::nullopt : working_copy();
}

SteadyFolders::~SteadyFolders() {
    auto& v = verdicts();
    if (--v.depth > 0) return;
    v.folders.clear();
    v.real.reset();
}

NamedPlaces::~NamedPlaces() {
    verdicts().folders.clear();
    auto& places = named_places();
    for (const auto& place : added_)
        if (auto it = std::find(places.rbegin(), places.rend(), place); it != places.rend())
            places.erase(std::next(it).base());
}

void NamedPlaces::add(const fs::path& place) {
    fs::path spelled = spelled_out(place);
    if (spelled.empty()) return;
    verdicts().folders.clear();
    named_places().push_back(spelled);
    added_.push_back(std::move(spelled));
}

void refuse_write_out_of_working_copy(const fs::path& path) {
    if (auto reason = leaves_working_copy(path, Deed::write)) throw std::runtime_error(*reason);
}

LocalFile read_local_file(const fs::path& path, const ReadOptions& options) {
    using Outcome = support::BoundedRead::Outcome;
    auto refused = [](std::string reason) {
        return LocalFile{.outcome = LocalFile::Outcome::refused, .reason = std::move(reason)};
    };
    if (auto reason = leaves_working_copy(path, Deed::read)) {
        LocalFile file = refused(*reason);
        file.by_rule = true;
        return file;
    }
    auto read = support::read_regular_file(path, options.limit, options.follow_links);
    switch (read.outcome) {
        case Outcome::read: return {.outcome = LocalFile::Outcome::read, .bytes = std::move(read.bytes)};
        case Outcome::missing: return {};
        case Outcome::link: return refused("是符號連結");
        case Outcome::hard_link: return refused("是硬連結");
        case Outcome::not_regular: return refused("不是一般檔案");
        case Outcome::too_large: return refused(fmt::format("超過 {} MiB 上限", options.limit >> 20));
        case Outcome::failed: break;
    }
    return refused(read.reason);
}

std::string read_or_throw(const fs::path& path) {
    if (fs::is_directory(path)) throw std::runtime_error("Is a directory: '" + support::utf8_text(path) + "'");
    auto file = read_local_file(path);
    if (file.outcome != LocalFile::Outcome::read)
        throw std::runtime_error("cannot read '" + support::utf8_text(path) + "': " + file.reason);
    return std::move(file.bytes);
}

std::string read_refused(const std::string& label, const fs::path& path, const std::string& reason) {
    return fmt::format("無法讀取{}: {}: {}", label, support::utf8_text(path), reason);
}

std::string load_local_file_content(const fs::path& path, const std::string& label, const Logger* logger) {
    return local_text(read_local_file(path), path, label, logger);
}

std::string without_byte_order_mark(std::string text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return text;
}

std::string local_text(LocalFile file, const fs::path& path, const std::string& label, const Logger* logger,
                       TextForm form) {
    if (file.outcome == LocalFile::Outcome::missing) {
        if (logger) logger->warning(fmt::format("⚠️ 找不到{}: {}", label, support::utf8_text(path)));
        return "";
    }
    if (file.outcome == LocalFile::Outcome::refused) {
        if (logger) logger->error("❌ " + read_refused(label, path, file.reason));
        return "";
    }
    auto warn_not_utf8 = [&] {
        if (logger) logger->warning(fmt::format("⚠️ {} 含有非 UTF-8 的位元組，已替換為 U+FFFD: {}", label, support::utf8_text(path)));
    };
    if (form == TextForm::as_saved) {
        auto saved = support::decode_saved_text(file.bytes);
        if (!saved.well_formed) warn_not_utf8();
        return std::move(saved.text);
    }
    if (!support::is_valid_utf8(file.bytes)) {
        warn_not_utf8();
        return support::decode_replace(file.bytes);
    }
    return std::move(file.bytes);
}

support::Result save_local_file_content(const fs::path& path, const std::string& text, const std::string& label,
                                        const Logger* logger) {
    try {
        refuse_write_out_of_working_copy(path);
        // The folder is made when the save finds it missing: a run saves most files into
        // folders that are there, and the save looks at its folder anyway.
        const fs::path saved = steady_absolute(path);
        try {
            support::write_file_atomic(saved, text);
        } catch (const std::exception&) {
            std::error_code ec;
            if (!path.has_parent_path() || fs::is_directory(support::os_path(path.parent_path()), ec)) throw;
            fs::create_directories(support::os_path(path.parent_path()));
            support::write_file_atomic(saved, text);
        }
    } catch (const std::exception& e) {
        auto message = fmt::format("無法寫入{} {}: {}", label, support::utf8_text(path), support::failure_reason(e));
        if (logger) logger->error("❌ " + message);
        return support::Result::failure(message);
    }
    auto message = fmt::format("已儲存{}: {}", label, support::utf8_text(path));
    if (logger) logger->debug("🔍 " + message);
    return support::Result::success(message);
}

namespace {

// Whether a deletion of `path` may go ahead as far as links decide; one warning when it
// may not and something is there.
bool may_remove(const fs::path& path) {
    auto reason = leaves_working_copy(path, Deed::remove);
    if (!reason) return true;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)))
        library_log().warning(fmt::format("⚠️ 無法刪除 {}: {}", support::utf8_text(path), *reason));
    return false;
}

}  // namespace

void remove_file(const fs::path& path) {
    std::error_code ec;
    auto status = fs::symlink_status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status) || !may_remove(path)) return;
    fs::remove(path, ec);
}

void remove_directory(const fs::path& path) {
    if (!may_remove(path)) return;
    std::error_code ec;
    support::remove_tree(path, ec);
}

bool setup_output_dir(const fs::path& folder, const Logger* logger) {
    auto refused = [&](const std::string& reason) {
        if (logger) logger->error(fmt::format("❌ 無法建立輸出資料夾 {}: {}", support::utf8_text(folder), reason));
        return false;
    };
    if (auto reason = leaves_working_copy(folder, Deed::write)) return refused(*reason);
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    fs::create_directories(support::os_path(folder), ec);
    if (ec || !fs::is_directory(folder)) return refused(ec ? support::error_text(ec) : "路徑已被檔案佔用");
    if (logger) logger->debug(fmt::format("🔍 已建立輸出資料夾: {}", support::utf8_text(folder)));
    return true;
}

fs::path setup_output_file(const fs::path& folder, const std::string& file_name, const Logger* logger) {
    setup_output_dir(folder, logger);
    return folder / support::path_from_utf8(file_name);
}

std::optional<fs::path> get_unique_path(const fs::path& folder, const std::string& stem, const std::string& suffix,
                                        const Logger* logger) {
    auto taken = [](const fs::path& p) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec));
    };
    auto give_up = [&](const std::string& reason) -> std::optional<fs::path> {
        if (logger)
            logger->error(fmt::format("❌ {} {}: {}", no_unique_path,
                                      support::visible_line(support::utf8_text(folder / support::path_from_utf8(stem + suffix))),
                                      reason));
        return std::nullopt;
    };
    const std::string folder_text = support::utf8_text(folder);
    if ((folder_text + stem + suffix).find('\0') != std::string::npos) return give_up("含有 NUL 字元");
    auto candidate = folder / support::path_from_utf8(stem + suffix);
    for (int n = 1; taken(candidate); ++n) {
        if (n == max_unique_path_tries)
            return give_up(fmt::format("{}{} 與 {}_1{} 到 {}_{}{} 都已存在", stem, suffix, stem, suffix, stem,
                                       max_unique_path_tries - 1, suffix));
        candidate = folder / support::path_from_utf8(fmt::format("{}_{}{}", stem, n, suffix));
    }
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
    for (const auto& entry : walk_entries(root_path, library_log())) {
        auto name = support::utf8_text(entry.path.filename());
        if (entry.kind != support::FolderEntry::Kind::folder || hit(name)) continue;
        if (auto reason = entry.link ? leaves_working_copy(entry.path, Deed::offer) : std::nullopt) {
            library_log().warning("⚠️ " + *reason);
            continue;
        }
        found.emplace_back(name, entry.path);
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

// What setup.py says, read as any file of the working copy; nothing when it is missing
// or refused (which a warning says).
std::optional<std::string> setup_py_text(const fs::path& setup_py) {
    auto file = read_local_file(setup_py);
    if (file.outcome == LocalFile::Outcome::refused)
        library_log().warning("⚠️ " + read_refused("setup.py", setup_py, file.reason));
    if (file.outcome != LocalFile::Outcome::read) return std::nullopt;
    return std::move(file.bytes);
}

}  // namespace

PackageInfo get_package_name_version() {
    PackageInfo info;
    auto text = setup_py_text("setup.py");
    if (!text) return info;
    if (auto name = keyword_literal(*text, "name")) info.name = *name;
    if (auto version = keyword_literal(*text, "version")) info.version = *version;
    info.author = keyword_literal(*text, "author");
    return info;
}

std::string get_cli_name(const fs::path& setup_py, const std::string& fallback) {
    auto text = setup_py_text(setup_py);
    if (!text) return fallback;
    // "console_scripts": ["name = package.module:function", ...]
    static const support::Regex re("console_scripts['\"]?\\s*[:=]\\s*\\[\\s*['\"]\\s*([^'\"=\\s]+)\\s*=");
    auto m = re.search(*text);
    if (!m) return fallback;
    return std::string(m->group(1));
}

}  // namespace brenkit::fileIO
