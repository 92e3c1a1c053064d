// Files, the part that is the same on every platform: the names and the clean-up of a
// save's partial files, the final target of a save, temporary folders and the reasons
// of failures. What differs stands in files_posix.cpp and files_windows.cpp.
#include "support/files.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <string_view>
#include <system_error>

#include "support/files_internal.hpp"
#include "support/paths.hpp"

namespace support {

namespace fs = std::filesystem;

namespace files_detail {

constexpr size_t random_length = 10;

std::string random_suffix() {
    static std::mt19937_64 rng{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (size_t i = 0; i < random_length; ++i) s += digits[rng() % 36];
    return s;
}

void fail(const char* what, const fs::path& p, std::error_code ec) {
    throw fs::filesystem_error(what, p, ec);
}

fs::path final_target(const fs::path& p) {
    constexpr int max_links = 40;
    fs::path target = p;
    for (int links = 0;; ++links) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec)) || ec) return target;
        if (links == max_links) fail("cannot write", p, std::make_error_code(std::errc::too_many_symbolic_link_levels));
        fs::path next = fs::read_symlink(target, ec);
        if (ec) fail("cannot write", p, ec);
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

// A save's partial file is named "." + the target's name + partial_mark + random_length
// lower-case letters and digits.
constexpr std::string_view partial_mark = ".tmp-";

// Hidden, beside the target (a rename never crosses file systems), random; the target's
// name is shortened so that a name near the system's limit still leaves room.
fs::path temp_name_beside(const fs::path& target) {
    constexpr size_t max_name_part = 200;
    std::string name = support::utf8_text(target.filename());
    if (name.size() > max_name_part) {
        size_t cut = max_name_part;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
        name.resize(cut);
    }
    fs::path dir = target.parent_path();
    return (dir.empty() ? fs::path(".") : dir) / path_from_utf8("." + name + std::string(partial_mark) + random_suffix());
}

template <class Char>
bool is_partial_file_name(std::basic_string_view<Char> name) {
    if (name.size() < 2 + partial_mark.size() + random_length || name.front() != Char('.')) return false;
    const auto mark = name.substr(name.size() - random_length - partial_mark.size(), partial_mark.size());
    const auto random = name.substr(name.size() - random_length);
    return std::equal(mark.begin(), mark.end(), partial_mark.begin()) &&
           std::all_of(random.begin(), random.end(),
                       [](Char c) { return (c >= Char('0') && c <= Char('9')) || (c >= Char('a') && c <= Char('z')); });
}

SaveFolder folder_of(const fs::path& target) {
    SaveFolder folder{.given = target.parent_path().empty() ? fs::path(".") : target.parent_path()};
    std::error_code ec;
    folder.absolute = absolute_path(folder.given, ec);
    if (ec) folder.absolute.clear();
    return folder;
}
fs::path absolute_temp_path(const SaveFolder& folder, const fs::path& tmp) {
    return folder.absolute.empty() ? tmp : folder.absolute / tmp.filename();
}

// A save killed before its rename (SIGKILL, a crash, a power cut) leaves its partial file
// beside the target, and nothing else would ever remove it: the first save into a folder
// in a run removes those that no save still holds. One made in the last few seconds may
// belong to a save that has not taken its lock yet, and is left.
void remove_abandoned_partial_files(const SaveFolder& saved_into) {
    const fs::path& folder = saved_into.given;
    {
        static std::mutex guard;
        static std::set<fs::path> swept;
        static fs::path::string_type last;  // the folder of the last save, as it was spelled
        if (saved_into.absolute.empty()) return;
        std::lock_guard hold(guard);
        if (saved_into.absolute.native() == last) return;
        last = saved_into.absolute.native();
        if (!swept.insert(saved_into.absolute.lexically_normal()).second) return;
    }
    const auto now = fs::file_time_type::clock::now();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path::string_type name = it->path().filename().native();
        if (!is_partial_file_name(std::basic_string_view<fs::path::value_type>(name))) continue;
        std::error_code e;
        if (!fs::is_regular_file(it->symlink_status(e)) || e) continue;
        const auto age = now - fs::last_write_time(it->path(), e);
        if (!e && age >= std::chrono::seconds(10)) remove_unless_held(it->path(), age >= std::chrono::minutes(5));
    }
}

}  // namespace files_detail

fs::path absolute_path(const fs::path& p) {
    std::error_code ec;
    fs::path absolute = absolute_path(p, ec);
    if (ec) throw fs::filesystem_error("cannot make absolute", p, ec);
    return absolute;
}

std::string failure_reason(const std::exception& e) {
    if (auto* system = dynamic_cast<const std::system_error*>(&e)) return error_text(system->code());
    // Memory that ran out, in the system's words rather than the exception's type name.
    if (dynamic_cast<const std::bad_alloc*>(&e)) return error_text(std::make_error_code(std::errc::not_enough_memory));
    return e.what();
}

fs::path make_temp_dir(std::string_view prefix) {
    const fs::path folder = fs::temp_directory_path();
    // A name that is taken is tried again under another; any other failure (a read-only
    // file system, a folder the user may not write in) would be the answer of every try.
    std::error_code ec;
    for (int i = 0; i < 100; ++i) {
        fs::path candidate = folder / path_from_utf8(std::string(prefix) + files_detail::random_suffix());
        if (fs::create_directory(candidate, ec)) return candidate;
        if (ec && ec != std::errc::file_exists) break;
        // A folder of that name is there already: no error is given for it.
        if (!ec) ec = std::make_error_code(std::errc::file_exists);
    }
    throw fs::filesystem_error("cannot create a temporary folder", folder, ec);
}

}  // namespace support
