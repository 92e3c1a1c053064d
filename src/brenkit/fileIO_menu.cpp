// File search and the numbered menus that let the user pick files or one option.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

namespace brenkit::fileIO {

namespace {

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::vector<std::string> normalized_extensions(const std::vector<std::string>& extensions) {
    std::vector<std::string> out;
    for (const auto& ext : extensions) {
        if (ext.empty()) continue;
        auto lowered = support::ascii_lower(ext);
        out.push_back(lowered[0] == '.' ? lowered : "." + lowered);
    }
    return out;
}

// A folder is left out when its name, or its path below the search root, is listed.
bool excluded(const fs::path& dir, const fs::path& root, const std::vector<std::string>& exclude_paths) {
    const fs::path name = dir.filename();
    auto relative = dir.lexically_relative(root).lexically_normal();
    for (const auto& ex : exclude_paths) {
        fs::path ex_path = support::path_from_utf8(ex).lexically_normal();
        if (ex_path.filename().empty()) ex_path = ex_path.parent_path();  // "build/" is "build"
        if (ex_path.empty()) continue;
        if (ex_path == name || ex_path == relative || ex_path == dir.lexically_normal()) return true;
    }
    return false;
}

bool file_matches(const std::string& name, const std::vector<std::string>& extensions,
                  const std::vector<std::string>& prefixes) {
    if (!prefixes.empty() &&
        std::none_of(prefixes.begin(), prefixes.end(), [&](const auto& p) { return starts_with(name, p); })) {
        return false;
    }
    if (extensions.empty()) return true;
    auto lowered = support::ascii_lower(name);
    return std::any_of(extensions.begin(), extensions.end(), [&](const auto& e) { return ends_with(lowered, e); });
}

// The name without the suffix that matched (".tar.gz" as a whole when it is listed).
std::string display_name(const fs::path& path, const std::vector<std::string>& extensions) {
    auto name = support::utf8_text(path.filename());
    auto lowered = support::ascii_lower(name);
    for (const auto& e : extensions) {
        if (ends_with(lowered, e) && lowered.size() > e.size()) return name.substr(0, name.size() - e.size());
    }
    return support::utf8_text(path.stem());
}

std::optional<size_t> parse_number(std::string_view s) {
    size_t value = 0;
    if (s.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::string ask(const std::string& question) {
    support::echo(question, support::Stream::out, false);
    return std::string(support::strip(support::read_answer()));
}

// One numbered line of a menu. An entry is a name from the working copy, so it stays on
// its line whatever it holds. An entry that already begins with its own number ("1. ...")
// is not numbered again.
void show_entry(size_t number, const std::string& entry) {
    const std::string own = std::to_string(number) + ".";
    const bool numbered = entry.starts_with(own) && (entry.size() == own.size() || entry[own.size()] == ' ');
    support::echo((numbered ? "  " : fmt::format("  {}. ", number)) + support::visible_line(entry));
}

// One number from 1 to `count`, or none for an empty answer; nothing when the answer is
// anything else.
std::optional<std::vector<size_t>> parse_one(const std::string& answer, size_t count) {
    auto text = support::strip(answer);
    if (text.empty()) return std::vector<size_t>{};
    auto number = parse_number(text);
    if (!number || *number < 1 || *number > count) return std::nullopt;
    return std::vector<size_t>{*number - 1};
}

// Shows the numbered entries under the title and returns the 0-based entries chosen. The
// question offers several picks only where they count.
std::vector<size_t> choose(const std::vector<std::string>& shown, const std::string& title, Picks picks) {
    support::echo(title);
    for (size_t i = 0; i < shown.size(); ++i) show_entry(i + 1, shown[i]);
    const bool several = picks == Picks::several;
    while (true) {
        auto answer = ask(several ? "請輸入編號（可多選，以空白或逗號分隔，範圍如 2-5，a 為全部，直接按 Enter 不選）: "
                                  : "請輸入編號（直接按 Enter 不選）: ");
        if (auto picked = several ? parse_selection(answer, shown.size()) : parse_one(answer, shown.size())) return *picked;
        support::echo(fmt::format("❌ 無效的選擇：「{}」，請輸入 1 到 {} 之間的編號。", answer, shown.size()));
    }
}

std::vector<Choice> choose_files(const std::vector<fs::path>& paths, const std::vector<std::string>& names,
                                 std::vector<std::string> shown, const std::string& title, Picks picks) {
    size_t count = std::min(paths.size(), names.size());
    if (count == 0) {
        support::echo("⚠️ 沒有可選擇的檔案。");
        return {};
    }
    shown.resize(count);
    std::vector<Choice> out;
    for (auto i : choose(shown, title, picks)) out.emplace_back(paths[i], names[i]);
    return out;
}

// The last component of the address's path, or nothing when it names no file.
std::optional<std::string> file_name_of_url(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    auto name = url.substr(url.rfind('/') + 1);
    if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string_view::npos) return std::nullopt;
    return std::string(name);
}

}  // namespace

std::vector<support::FolderEntry> walk_entries(const fs::path& folder, const Logger& log) {
    std::error_code ec;
    auto entries = support::list_folder(folder, ec);
    if (ec) {
        log.warning(fmt::format("⚠️ 讀取資料夾 {} 時發生錯誤: {}", support::utf8_text(folder), support::error_text(ec)));
        return {};
    }
    std::erase_if(entries, [&log](const support::FolderEntry& entry) {
        if (entry.kind == support::FolderEntry::Kind::unknown) {
            log.warning(fmt::format("⚠️ 讀取 {} 時發生錯誤: {}", support::utf8_text(entry.path), support::error_text(entry.error)));
            return true;
        }
        if (!support::valid_utf8_text(entry.path.filename())) {
            log.warning("⚠️ 名稱不是 UTF-8 文字，無法照原樣寫入設定、頁面或壓縮檔，已略過: " + support::message_text(entry.path));
            return true;
        }
        return false;
    });
    return entries;
}

FoundFiles find_files_with_extensions(const fs::path& folder, const FindOptions& options) {
    FoundFiles found;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        if (options.logger) options.logger->warning(fmt::format("⚠️ 找不到資料夾: {}", support::utf8_text(folder)));
        return found;
    }
    const Logger& log = options.logger ? *options.logger : library_log();
    // What is found here is the repository's: a file that a link takes out of the working
    // copy is not offered. The search does not descend into linked folders, so only the
    // folder searched and the files themselves can be such links.
    if (auto reason = leaves_working_copy(folder, Deed::offer)) {
        log.warning("⚠️ " + *reason);
        return found;
    }
    auto extensions = normalized_extensions(options.extensions);
    std::vector<fs::path> paths;
    auto consider = [&](const support::FolderEntry& entry) {
        if (entry.kind != support::FolderEntry::Kind::file ||
            !file_matches(support::utf8_text(entry.path.filename()), extensions, options.prefix))
            return;
        if (auto reason = entry.link ? leaves_working_copy(entry.path, Deed::offer) : std::nullopt) {
            log.warning("⚠️ " + *reason);
            return;
        }
        paths.push_back(entry.path);
    };
    // What cannot be read is named, and the search goes on with the rest: no file is left
    // out without a word.
    std::vector<fs::path> folders{folder};
    while (!folders.empty()) {
        const fs::path current = std::move(folders.back());
        folders.pop_back();
        for (const auto& entry : walk_entries(current, log)) {
            if (entry.kind != support::FolderEntry::Kind::folder) {
                consider(entry);
            } else if (options.recursive && !entry.link && !excluded(entry.path, folder, options.exclude_paths)) {
                folders.push_back(entry.path);
            }
        }
    }
    std::sort(paths.begin(), paths.end());
    for (auto& p : paths) {
        found.names.push_back(display_name(p, extensions));
        found.paths.push_back(std::move(p));
    }
    return found;
}

std::optional<std::vector<size_t>> parse_selection(const std::string& answer, size_t count) {
    auto text = support::strip(answer);
    std::vector<size_t> picked;
    if (text.empty()) return picked;
    if (support::ascii_lower(text) == "a" || support::ascii_lower(text) == "all") {
        for (size_t i = 0; i < count; ++i) picked.push_back(i);
        return picked;
    }
    auto add = [&](size_t number) {
        if (std::find(picked.begin(), picked.end(), number - 1) == picked.end()) picked.push_back(number - 1);
    };
    for (const auto& token : support::split_whitespace(support::replace_all(text, ",", " "))) {
        auto dash = token.find('-');
        auto first = parse_number(std::string_view(token).substr(0, dash));
        auto last = dash == std::string::npos ? first : parse_number(std::string_view(token).substr(dash + 1));
        if (!first || !last || *first < 1 || *last > count || *first > *last) return std::nullopt;
        for (size_t n = *first; n <= *last; ++n) add(n);
    }
    return picked;
}

std::vector<Choice> interactive_select_files(const std::vector<fs::path>& paths, const std::vector<std::string>& names,
                                             const std::string& extension, Picks picks) {
    std::vector<std::string> shown;
    for (const auto& name : names) shown.push_back(name + extension);
    return choose_files(paths, names, shown, "💬 請選擇檔案：", picks);
}

std::vector<Choice> scan_and_select_files(const fs::path& folder, const ScanOptions& options) {
    FindOptions find;
    find.extensions = options.extensions;
    find.recursive = true;
    find.exclude_paths = options.exclude_paths;
    find.logger = options.logger;
    auto found = find_files_with_extensions(folder, find);
    std::vector<fs::path> paths;
    std::vector<std::string> names;
    std::vector<std::string> shown;
    for (size_t i = 0; i < found.paths.size(); ++i) {
        const auto& excl = options.exclude_names;
        if (std::find(excl.begin(), excl.end(), found.names[i]) != excl.end()) continue;
        paths.push_back(found.paths[i]);
        names.push_back(found.names[i]);
        // Below the root several files may share a name, so the menu shows where each lies.
        shown.push_back(support::generic_utf8_text(found.paths[i].lexically_relative(folder)));
    }
    if (paths.empty()) {
        if (options.logger) {
            options.logger->warning(fmt::format("⚠️ 在 {} 中找不到任何{}。", support::utf8_text(folder), options.label));
        }
        return {};
    }
    if (paths.size() == 1 && options.auto_select_single) {
        if (options.logger) options.logger->info(fmt::format("✅ 自動選擇唯一的{}: {}", options.label, support::visible_line(shown[0])));
        return {{paths[0], names[0]}};
    }
    return choose_files(paths, names, shown, fmt::format("💬 請選擇{}：", options.label), options.picks);
}

std::string select_option(const std::string& prompt, const std::vector<std::string>& options,
                          const std::string& default_number, const std::string& title) {
    if (options.empty()) return "";
    if (!title.empty()) support::echo(title);
    for (size_t i = 0; i < options.size(); ++i) show_entry(i + 1, options[i]);
    std::optional<std::string> fallback;
    if (!default_number.empty()) fallback = default_number;
    while (true) {
        auto answer = support::prompt_stripped(prompt, fallback);
        auto number = parse_number(answer);
        if (number && *number >= 1 && *number <= options.size()) return options[*number - 1];
        support::echo(fmt::format("❌ 無效的選項：「{}」，請輸入 1 到 {} 之間的數字。", answer, options.size()));
    }
}

std::vector<fs::path> download_and_save_from_registry(const std::vector<RegistryEntry>& registry,
                                                     const fs::path& output_dir, const std::string& title,
                                                     const std::string& label_prefix, const Logger* logger) {
    if (registry.empty()) return {};
    std::vector<std::string> shown;
    for (const auto& entry : registry) shown.push_back(entry.display);
    std::vector<fs::path> saved;
    for (auto i : choose(shown, title.empty() ? "💬 請選擇要下載的文件：" : title, Picks::several)) {
        const auto& entry = registry[i];
        auto name = file_name_of_url(entry.url);
        if (!name) {
            if (logger) logger->error(fmt::format("❌ 下載位址沒有檔名，無法儲存{}{}: {}", label_prefix, entry.display, entry.url));
            continue;
        }
        auto path = output_dir / support::path_from_utf8(*name);
        load_or_download_content(path, entry.url, label_prefix + entry.display, logger);
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) saved.push_back(path);
    }
    return saved;
}

}  // namespace brenkit::fileIO
