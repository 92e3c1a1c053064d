// Windows paths as pure text functions, so that they are tested everywhere.
#include "support/windows_paths.hpp"

#include <vector>

#include "support/text.hpp"

namespace support {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The components of a path after its root, split at either separator.
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !is_separator(path[i])) continue;
        if (i > start) parts.push_back(path.substr(start, i - start));
        start = i + 1;
    }
    return parts;
}

constexpr std::string_view long_prefix = "\\\\?\\";
constexpr std::string_view long_unc_prefix = "\\\\?\\UNC\\";

}  // namespace

bool windows_reserved_name(std::string_view name) {
    // The system drops blanks and dots at a name's end, and the extension counts for nothing.
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.remove_suffix(1);
    std::string base = ascii_lower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
    if (!base.starts_with("com") && !base.starts_with("lpt")) return false;
    const std::string_view digit = std::string_view(base).substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
           digit == "\xC2\xB3";
}

std::optional<std::string> windows_reserved_component(std::string_view path) {
    for (const auto part : components(path))
        if (windows_reserved_name(part)) return std::string(part);
    return std::nullopt;
}

std::optional<std::string> windows_trimmed_component(std::string_view path) {
    auto parts = components(path);
    // The prefix's "?" or "." is no name.
    if (windows_prefixed_path(path) && !parts.empty()) parts.erase(parts.begin());
    for (const auto part : parts)
        if (part != "." && part != ".." && (part.back() == ' ' || part.back() == '.')) return std::string(part);
    return std::nullopt;
}

bool windows_prefixed_path(std::string_view path) {
    return path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) && (path[2] == '?' || path[2] == '.') &&
           is_separator(path[3]);
}

std::string windows_long_path(std::string_view absolute, size_t limit) {
    const bool unc = absolute.size() > 2 && is_separator(absolute[0]) && is_separator(absolute[1]);
    const bool drive = absolute.size() > 2 && absolute[1] == ':' && is_separator(absolute[2]);
    if (absolute.size() < limit || windows_prefixed_path(absolute) || (!unc && !drive)) return std::string(absolute);
    std::vector<std::string_view> parts = components(absolute);
    std::string out(unc ? long_unc_prefix : long_prefix);
    // The root stays: the drive, or the server and its share.
    const size_t root_parts = unc ? 2 : 1;
    std::vector<std::string_view> kept;
    for (size_t i = root_parts; i < parts.size(); ++i) {
        if (parts[i] == ".") continue;
        if (parts[i] == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(parts[i]);
    }
    for (size_t i = 0; i < root_parts && i < parts.size(); ++i) out.append(parts[i]).push_back('\\');
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i) out.push_back('\\');
        out.append(kept[i]);
    }
    return out;
}

std::string windows_plain_path(std::string_view final_path) {
    if (!windows_prefixed_path(final_path)) return std::string(final_path);
    const std::string_view rest = final_path.substr(4);
    const bool drive = rest.size() >= 2 && rest[1] == ':' && (rest.size() == 2 || is_separator(rest[2])) &&
                       ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'));
    if (drive) return std::string(rest);
    if (rest.size() > 4 && ascii_lower(rest.substr(0, 3)) == "unc" && is_separator(rest[3]))
        return "\\\\" + std::string(rest.substr(4));
    return std::string(final_path);
}

bool windows_path_within(std::string_view path, std::string_view folder) {
    const std::string path_text = lower(windows_plain_path(path)), folder_text = lower(windows_plain_path(folder));
    const auto path_parts = components(path_text), folder_parts = components(folder_text);
    if (path_parts.size() < folder_parts.size()) return false;
    for (size_t i = 0; i < folder_parts.size(); ++i)
        if (path_parts[i] != folder_parts[i]) return false;
    return true;
}

std::optional<std::errc> windows_error_condition(unsigned long code) {
    switch (code) {
        case 2:     // ERROR_FILE_NOT_FOUND
        case 3:     // ERROR_PATH_NOT_FOUND
        case 15:    // ERROR_INVALID_DRIVE
        case 53:    // ERROR_BAD_NETPATH
        case 67:    // ERROR_BAD_NET_NAME
            return std::errc::no_such_file_or_directory;
        case 5:     // ERROR_ACCESS_DENIED
        case 1920:  // ERROR_CANT_ACCESS_FILE
            return std::errc::permission_denied;
        case 80:    // ERROR_FILE_EXISTS
        case 183:   // ERROR_ALREADY_EXISTS
            return std::errc::file_exists;
        case 32:    // ERROR_SHARING_VIOLATION
        case 33:    // ERROR_LOCK_VIOLATION
            return std::errc::device_or_resource_busy;
        case 39:    // ERROR_HANDLE_DISK_FULL
        case 112:   // ERROR_DISK_FULL
            return std::errc::no_space_on_device;
        case 206:   // ERROR_FILENAME_EXCED_RANGE
            return std::errc::filename_too_long;
        case 87:    // ERROR_INVALID_PARAMETER
        case 123:   // ERROR_INVALID_NAME
        case 161:   // ERROR_BAD_PATHNAME
            return std::errc::invalid_argument;
        case 267:   // ERROR_DIRECTORY
            return std::errc::not_a_directory;
        case 145:   // ERROR_DIR_NOT_EMPTY
            return std::errc::directory_not_empty;
        case 19:    // ERROR_WRITE_PROTECT
            return std::errc::read_only_file_system;
        case 17:    // ERROR_NOT_SAME_DEVICE
            return std::errc::cross_device_link;
        case 1921:  // ERROR_CANT_RESOLVE_FILENAME
            return std::errc::too_many_symbolic_link_levels;
        case 8:     // ERROR_NOT_ENOUGH_MEMORY
        case 14:    // ERROR_OUTOFMEMORY
            return std::errc::not_enough_memory;
        case 6:     // ERROR_INVALID_HANDLE
            return std::errc::bad_file_descriptor;
        case 23:    // ERROR_CRC
        case 30:    // ERROR_READ_FAULT
        case 29:    // ERROR_WRITE_FAULT
            return std::errc::io_error;
        default:
            return std::nullopt;
    }
}

}  // namespace support
