// File-name families, version keys and the move of index entries to their newest files.
#include <unordered_map>
#include <unordered_set>

#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace vemtora::varnel {

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Varnel"); }

// ---- paths ----

std::string PathParts::text() const { return root + support::join(components, "/"); }

PathParts split_path(std::string_view path, bool windows) {
    auto is_sep = [windows](char c) { return c == '/' || (windows && c == '\\'); };
    PathParts parts;
    size_t pos = 0;
    if (windows && path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        parts.root = std::string(path.substr(0, 2));
        pos = 2;
    }
    if (pos < path.size() && is_sep(path[pos])) parts.root += '/';
    while (pos < path.size()) {
        while (pos < path.size() && is_sep(path[pos])) ++pos;
        size_t end = pos;
        while (end < path.size() && !is_sep(path[end])) ++end;
        auto component = path.substr(pos, end - pos);
        if (!component.empty() && component != ".") parts.components.emplace_back(component);
        pos = end;
    }
    return parts;
}

std::string normalize_path(std::string_view path, bool windows) { return split_path(path, windows).text(); }

std::string file_name_of(std::string_view path, bool windows) {
    auto parts = split_path(path, windows);
    return parts.components.empty() ? std::string() : parts.components.back();
}

std::pair<std::string, std::string> split_extension(std::string_view file_name) {
    auto dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == file_name.size())
        return {std::string(file_name), std::string()};
    return {std::string(file_name.substr(0, dot)), std::string(file_name.substr(dot))};
}

// ---- versions ----

std::optional<std::string> decimal_digits(std::string_view digits) {
    std::string ascii;
    size_t pos = 0;
    while (pos < digits.size()) {
        int value = support::unicode::digit_value(support::next_code_point(digits, pos));
        if (value < 0 || value > 9) return std::nullopt;
        if (ascii.empty() && value == 0) continue;
        ascii += static_cast<char>('0' + value);
    }
    if (ascii.empty()) {
        if (digits.empty()) return std::nullopt;
        ascii.push_back('0');  // every digit was a zero
    }
    return ascii;
}

std::strong_ordering compare_decimal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return a.size() <=> b.size();
    int c = a.compare(b);
    return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::strong_ordering operator<=>(const VersionKey& a, const VersionKey& b) {
    size_t n = std::min(a.pieces.size(), b.pieces.size());
    for (size_t i = 0; i < n; ++i) {
        if (auto c = compare_decimal(a.pieces[i], b.pieces[i]); c != 0) return c;
    }
    return a.pieces.size() <=> b.pieces.size();
}

namespace {

const support::Regex& tag_pattern() {
    static const support::Regex re(R"([-_]v\d+(?:\.\d+)*)", support::Regex::ignore_case);
    return re;
}

const support::Regex& key_pattern() {
    static const support::Regex re(R"([-_]v(\d+(?:\.\d+)*))", support::Regex::ignore_case);
    return re;
}

bool is_web_link(std::string_view path) { return path.starts_with("http://") || path.starts_with("https://"); }

}  // namespace

std::string clean_version(std::string_view name) {
    auto [stem, extension] = split_extension(file_name_of(name));
    return support::lower(tag_pattern().replace(stem, "") + extension);
}

VersionKey get_version_key(std::string_view name) {
    VersionKey key;
    if (auto m = key_pattern().search(name)) {
        for (const auto& piece : support::split(m->group(1), ".")) {
            auto digits = decimal_digits(piece);
            if (!digits) return VersionKey{{"0"}};
            key.pieces.push_back(*digits);
        }
        return key;
    }
    return VersionKey{{"0"}};
}

// ---- newest-file matching ----

namespace {

bool is_local(const std::optional<std::string>& file) { return file && names_local_file(*file); }

// The scan sees only the index page's own folder: a file that exists elsewhere (in a
// sub-folder, say) keeps its entry as it is.
bool exists_elsewhere(const std::string& entry_path) {
    std::error_code ec;
    return fs::is_regular_file(support::path_from_utf8(entry_path), ec);
}

// The newest real file of each family, worked out once for the whole index: of files
// with equal versions, the first in the list.
struct Newest {
    const std::string* path;
    VersionKey key;
};
using Families = std::unordered_map<std::string, Newest>;

struct Matcher {
    const Families& newest;
    bool keep_unmatched;

    // The path the entry is to hold, or nothing when it is to be dropped. The download
    // entry names the package that the run wrote, so it is never matched to another file
    // of its family: those are the user's earlier releases, and the next run would write
    // its package over the one the entry moved to.
    std::optional<std::string> best(const std::string& entry_path, std::string_view label, bool download) const {
        if (!names_local_file(entry_path)) return entry_path;
        auto found = download ? newest.end() : newest.find(clean_version(entry_path));
        if (found == newest.end()) {
            if (exists_elsewhere(entry_path)) return entry_path;
            if (keep_unmatched) {
                log().warning("⚠️ 找不到與 " + entry_path + " 匹配的實體檔案；資料夾中沒有任何索引記載的檔案，保留此項目。");
                return entry_path;
            }
            log().warning("⚠️ 找不到與 " + entry_path + " 匹配的實體檔案，將其自索引中移除。");
            return std::nullopt;
        }
        const std::string& matched = *found->second.path;
        auto new_name = file_name_of(matched);
        auto parts = split_path(entry_path);
        std::string new_path = new_name;
        if (!parts.root.empty() || parts.components.size() > 1) {
            // A bare root such as "/" has no file name to swap: the new name goes below it.
            if (parts.components.empty()) {
                parts.components.push_back(new_name);
            } else {
                parts.components.back() = new_name;
            }
            new_path = parts.text();
            // The newer file was seen beside the index page. The entry moves within its own
            // folder where that file is there too; an entry whose own file exists stays;
            // any other links to the file that was matched, not to a path that is not there.
            if (!exists_elsewhere(new_path)) {
                if (exists_elsewhere(entry_path)) return entry_path;
                new_path = normalize_path(matched);
            }
        }
        if (new_path != entry_path) {
            log().info("✅ 自動匹配" + std::string(label) + "：將 " + entry_path + " 更新為最新版本 " + new_path);
        }
        return new_path;
    }
};

}  // namespace

bool names_local_file(std::string_view value) { return !value.empty() && value != "#" && !is_web_link(value); }

std::vector<std::string> update_docs_to_latest_versions(Docs& docs, const std::vector<std::string>& actual_files) {
    std::unordered_set<std::string> configured;
    for (const auto& entry : docs) {
        if (entry.file && !entry.file->empty() && *entry.file != "#") configured.insert(clean_version(*entry.file));
    }

    std::vector<std::string> families;
    families.reserve(actual_files.size());
    Families newest;
    for (const auto& path : actual_files) {
        auto name = file_name_of(path);
        families.push_back(clean_version(name));
        auto key = get_version_key(name);
        auto [it, added] = newest.try_emplace(families.back(), Newest{&path, key});
        if (!added && key > it->second.key) it->second = {&path, std::move(key)};
    }

    // When not one numbered entry finds its family, the folder is the wrong one or the
    // scan failed: dropping everything would empty the configuration, so keep it all.
    bool any_found = false;
    for (const auto& entry : docs) {
        if (!entry.is_download() && is_local(entry.file))
            any_found = any_found || newest.count(clean_version(*entry.file)) > 0 || exists_elsewhere(*entry.file);
    }

    Matcher matcher{newest, !any_found};
    std::unordered_set<std::string> removed;
    for (auto& entry : docs) {
        if (!entry.file || entry.file->empty()) continue;
        auto result = matcher.best(*entry.file, entry.is_download() ? "下載檔案" : "檔案", entry.is_download());
        if (!result) {
            removed.insert(entry.key);
        } else if (*result != *entry.file) {
            entry.file = *result;
        }
    }
    std::erase_if(docs, [&](const DocEntry& e) { return removed.count(e.key) > 0; });

    std::vector<std::string> unlisted;
    for (size_t i = 0; i < actual_files.size(); ++i) {
        if (!configured.count(families[i])) unlisted.push_back(actual_files[i]);
    }
    return unlisted;
}

}  // namespace vemtora::varnel
