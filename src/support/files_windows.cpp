// Files on Windows: error codes with the system's reasons, paths past MAX_PATH, folders
// listed with FindFirstFileExW (the C runtime's folder reading resolves paths into a
// MAX_PATH buffer), and links (symbolic links and junctions, which the file system library
// does not see here) followed to their final paths.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "support/files.hpp"
#include "support/files_internal.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "support/wide_text.hpp"
#include "support/windows_paths.hpp"

namespace support {

namespace fs = std::filesystem;
using files_detail::refused;

namespace {

// Codes without a portable condition read as the system's own message.
class WindowsCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override { return files_detail::system_message(static_cast<DWORD>(code)); }
};

const std::error_category& windows_category() {
    static const WindowsCategory category;
    return category;
}

// A sharing violation: another program has the file open and lets no one else in. The
// system's own text ("Sharing violation.", or one that names no program) does not tell
// the user what to do.
class InUseCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "in use"; }
    std::string message(int) const override { return "另一個程式正開啟這個檔案，請先關閉它再試一次"; }
    std::error_condition default_error_condition(int) const noexcept override {
        return std::errc::device_or_resource_busy;
    }
};

const std::error_category& in_use_category() {
    static const InUseCategory category;
    return category;
}

}  // namespace

std::string files_detail::system_message(unsigned long code, void* module) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD n = FormatMessageW(flags, module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text = n ? narrow(std::wstring_view(buffer, n)) : std::string();
    if (buffer) LocalFree(buffer);
    text = std::string(strip(text));
    if (text.empty() && !module) text = "error " + std::to_string(code);
    return text;
}

std::error_code files_detail::windows_error(unsigned long code) {
    if (code == ERROR_SHARING_VIOLATION) return {static_cast<int>(code), in_use_category()};
    if (auto condition = windows_error_condition(code)) return std::make_error_code(*condition);
    return {static_cast<int>(code), windows_category()};
}

std::string error_text(const std::error_code& ec) {
    // The runtime reads a system code as if it were an errno value ("Input/output error"
    // for ERROR_ACCESS_DENIED).
    if (ec.category() == std::system_category()) return files_detail::windows_error(static_cast<DWORD>(ec.value())).message();
    return ec.message();
}

fs::path absolute_path(const fs::path& p, std::error_code& ec) {
    ec.clear();
    if (p.empty()) return p;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(p.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) {
            ec = files_detail::windows_error(GetLastError());
            return {};
        }
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    if (!windows_prefixed_path(narrow(std::wstring_view(full).substr(0, 4)))) return fs::path(std::move(full));
    return path_from_utf8(windows_plain_path(narrow(full)));
}

// A path relative to a drive's current folder ("D:drel") is made absolute as the system
// reads it (GetFullPathNameW): the file system library cannot make its folders. One with
// a prefix is the system's as it is: prefixed again, or joined to the current drive, it
// would name nothing.
fs::path os_path(const fs::path& p) {
    const bool drive_relative = p.has_root_name() && !p.has_root_directory();
    if (!drive_relative && p.native().size() < 248 && p.is_absolute()) return p;
    const std::wstring_view head = std::wstring_view(p.native()).substr(0, 4);
    if (windows_prefixed_path(narrow(head))) return p;
    std::error_code ec;
    const fs::path absolute = absolute_path(p, ec);
    if (ec) return p;
    const std::string text = utf8_text(absolute);
    const std::string long_form = windows_long_path(text);
    return long_form == text && !drive_relative ? p : path_from_utf8(long_form);
}

namespace {

// Windows 10 1709's rename: the name goes over to the new file at once, and a program that
// holds the old one open keeps reading the old one. (The headers offer these names only
// to builds for that version.)
constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);  // FileRenameInfoEx
constexpr DWORD rename_replace_if_exists = 0x1;                                    // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
constexpr DWORD rename_posix_semantics = 0x2;                                      // FILE_RENAME_FLAG_POSIX_SEMANTICS

// Whether the system has no such rename for this file: an older Windows, a file system
// without it (FAT, many network shares), wine.
bool no_posix_rename(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Whether another program holds `p` open without letting it be deleted, which is what
// refuses its replacement (the system says "Access denied" for it, too).
bool held_without_delete_sharing(const fs::path& p) {
    HANDLE h = CreateFileW(os_path(p).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// The error of a replacement that failed: a refusal by a program that holds the target is
// the sharing violation, whatever code the call gave.
std::error_code replace_error(DWORD error, const fs::path& to) {
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
    return files_detail::windows_error(refused && held_without_delete_sharing(to) ? ERROR_SHARING_VIOLATION : error);
}

}  // namespace

std::error_code files_detail::replace_file(void* handle, const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const std::wstring target = os_path(absolute_path(to, ec)).native();
    if (ec) {
        CloseHandle(handle);
        return ec;
    }
    // FILE_RENAME_INFO: the flags (where older headers have a BOOLEAN), no root folder, the
    // name's length in bytes without its NUL, the name.
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    const DWORD flags = rename_replace_if_exists | rename_posix_semantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    const bool renamed =
        SetFileInformationByHandle(handle, file_rename_info_ex, info, static_cast<DWORD>(buffer.size()));
    const DWORD error = renamed ? 0 : GetLastError();
    CloseHandle(handle);
    if (renamed) return {};
    if (!no_posix_rename(error)) return replace_error(error, to);
    // Without it, a move replaces a file that no program holds; one that a program holds
    // open while it lets others delete it is replaced by ReplaceFileW, which moves it out
    // of the way first (tried only then: it leaves a file of its own behind when it fails).
    if (MoveFileExW(os_path(from).c_str(), os_path(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
    const DWORD moved = GetLastError();
    if ((moved == ERROR_ACCESS_DENIED || moved == ERROR_SHARING_VIOLATION) && !held_without_delete_sharing(to) &&
        ReplaceFileW(os_path(to).c_str(), os_path(from).c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr))
        return {};
    return replace_error(moved, to);
}

namespace {

// What a link names, followed: its kind, or `missing` when nothing is there.
FolderEntry::Kind followed_kind(const fs::path& link) {
    HANDLE h = CreateFileW(os_path(link).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FolderEntry::Kind::missing;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    if (!known || type != FILE_TYPE_DISK) return FolderEntry::Kind::other;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderEntry::Kind::folder : FolderEntry::Kind::file;
}

// A symbolic link or a junction; wine shows a Unix link to a folder as a reparse point
// without a tag.
bool is_link(DWORD attributes, DWORD reparse_tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (reparse_tag == IO_REPARSE_TAG_SYMLINK || reparse_tag == IO_REPARSE_TAG_MOUNT_POINT || reparse_tag == 0);
}

}  // namespace

namespace {

// What is at `p` itself: whether it is a folder and whether it is a link; nothing when
// nothing is there.
std::optional<std::pair<bool, bool>> link_at_path(const fs::path& p) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(os_path(p).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(search);
    return std::pair{(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                     is_link(found.dwFileAttributes, found.dwReserved0)};
}

}  // namespace

std::vector<FolderEntry> list_folder(const fs::path& folder, std::error_code& ec) {
    ec.clear();
    std::vector<FolderEntry> entries;
    const fs::path pattern = os_path(folder) / L"*";
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        ec = files_detail::windows_error(GetLastError());
        return entries;
    }
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        FolderEntry entry{.path = folder / fs::path(std::wstring(name))};
        // A reparse point that is no link (a file kept in the cloud, a deduplicated one)
        // is the file it stands for.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.link = is_link(found.dwFileAttributes, found.dwReserved0);
            entry.kind = followed_kind(entry.path);
        } else {
            entry.kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderEntry::Kind::folder
                                                                            : FolderEntry::Kind::file;
        }
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        ec = files_detail::windows_error(error);
        entries.clear();
    }
    return entries;
}

void remove_tree(const fs::path& p, std::error_code& ec) {
    ec.clear();
    auto removed = [&](BOOL ok) {
        const DWORD error = GetLastError();
        if (!ok && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && !ec)
            ec = files_detail::windows_error(error);
    };
    // A read-only file (git marks its object files so) is made writable first.
    auto remove_file = [&](const fs::path& file) {
        SetFileAttributesW(os_path(file).c_str(), FILE_ATTRIBUTE_NORMAL);
        removed(DeleteFileW(os_path(file).c_str()));
    };
    const auto top = link_at_path(p);
    if (!top) return;
    if (top->second || !top->first) {
        // A link goes as a link: a folder's one (a junction) with RemoveDirectoryW.
        if (top->first && RemoveDirectoryW(os_path(p).c_str())) return;
        remove_file(p);
        return;
    }
    std::error_code listed;
    for (const auto& entry : list_folder(p, listed)) {
        if (entry.kind == FolderEntry::Kind::folder && !entry.link) {
            std::error_code inner;
            remove_tree(entry.path, inner);
            if (inner && !ec) ec = inner;
        } else if (entry.link && entry.kind == FolderEntry::Kind::folder && RemoveDirectoryW(os_path(entry.path).c_str())) {
        } else {
            remove_file(entry.path);
        }
    }
    if (listed && !ec) ec = listed;
    SetFileAttributesW(os_path(p).c_str(), FILE_ATTRIBUTE_NORMAL);
    removed(RemoveDirectoryW(os_path(p).c_str()));
}

namespace {

// The final path of what is at `p` once every link is followed, or nothing when nothing
// can be opened there.
std::optional<std::string> final_path(const fs::path& p) {
    HANDLE h = CreateFileW(os_path(p).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::wstring buffer(1024, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= buffer.size()) return std::nullopt;
    return narrow(std::wstring_view(buffer.data(), n));
}

}  // namespace

fs::path resolved_path(const fs::path& p) {
    std::error_code ec;
    const fs::path absolute = absolute_path(p, ec);
    if (ec) return p;
    // The longest part of the path that is there, then the rest as it is.
    fs::path there = absolute, rest;
    for (; !there.empty() && there != there.root_path(); there = there.parent_path()) {
        if (auto final = final_path(there)) {
            fs::path out = path_from_utf8(windows_plain_path(*final));
            for (const auto& part : rest) out /= part;
            return out;
        }
        rest = rest.empty() ? there.filename() : there.filename() / rest;
    }
    return absolute;
}

bool path_within(const fs::path& p, const fs::path& folder) {
    return windows_path_within(utf8_text(p), utf8_text(folder));
}

// The system resolves ".." in the text before it follows any link, so the path is made
// absolute first (GetFullPathNameW). Then each component below the working copy is opened
// and its final path, every link on the way followed, must lie in the working copy's own:
// the first that does not is the link that leads out. This sees every kind of link, those
// that show no attribute of their own too.
std::optional<LinkOut> link_out_of(const fs::path& p, const fs::path& root) {
    std::error_code ec;
    const fs::path named = absolute_path(p, ec);
    if (ec || !windows_path_within(utf8_text(named), utf8_text(root))) return std::nullopt;
    const auto root_final = final_path(root);
    if (!root_final) return std::nullopt;
    auto part = named.begin();
    for (auto r = root.begin(); r != root.end() && part != named.end(); ++r) ++part;
    fs::path at = root, link;
    for (; part != named.end(); ++part) {
        if (part->empty() || *part == ".") continue;
        at /= *part;
        link /= *part;
        const auto target = final_path(at);
        if (!target) {
            const auto there = link_at_path(at);
            if (!there) break;            // nothing there: made inside from here on
            if (!there->second) continue;  // no link (wine gives no final path past MAX_PATH)
            // A link that cannot be followed, such as one to nothing, leads to a place
            // that cannot be told: it is refused.
            return LinkOut{link, path_from_utf8("?")};
        }
        if (!windows_path_within(*target, *root_final)) return LinkOut{link, path_from_utf8(windows_plain_path(*target))};
    }
    return std::nullopt;
}

BoundedRead read_regular_file(const fs::path& p, std::uintmax_t limit, bool follow_links) {
    using Outcome = BoundedRead::Outcome;
    BoundedRead result{.outcome = Outcome::read};
    // Everything is told by the open file: the file system library does not see links
    // here. Without following links the reparse point itself is opened; a folder opens
    // only with backup semantics, and is then refused like any other file that is not a
    // regular one (a device, a pipe).
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(os_path(p).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    auto system_reason = [] { return files_detail::windows_error(GetLastError()).message(); };
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return refused(Outcome::missing);
        return refused(Outcome::failed, files_detail::windows_error(error).message());
    }
    struct Closer {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{h};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK) return refused(Outcome::not_regular);
    if (!GetFileInformationByHandle(h, &info)) return refused(Outcome::failed, system_reason());
    // Only a reparse point opened as itself shows here (a followed link shows its target).
    if (!follow_links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return refused(Outcome::link);
    if (!follow_links && info.nNumberOfLinks > 1) return refused(Outcome::hard_link);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return refused(Outcome::not_regular);
    const std::uintmax_t size = (std::uintmax_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > limit) return refused(Outcome::too_large);
    result.bytes.reserve(static_cast<size_t>(size));
    char chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) return refused(Outcome::failed, system_reason());
        if (n == 0) break;
        result.bytes.append(chunk, n);
        if (result.bytes.size() > limit) return refused(Outcome::too_large);
    }
    return result;
}

void files_detail::remove_unless_held(const fs::path& p, bool) {
    DeleteFileW(p.c_str());
}

void write_file_atomic(const fs::path& p, std::string_view data) {
    using namespace files_detail;
    const fs::path target = final_target(p);
    // Each call is told the long form past MAX_PATH, and each failure the system's reason.
    WIN32_FILE_ATTRIBUTE_DATA old{};
    if (GetFileAttributesExW(os_path(target).c_str(), GetFileExInfoStandard, &old)) {
        if (old.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            fail("cannot write", p, std::make_error_code(std::errc::is_a_directory));
        // A read-only file: what opening it for writing would refuse.
        if (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            fail("cannot write", p, std::make_error_code(std::errc::permission_denied));
    } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
        fail("cannot write", p, windows_error(error));
    }
    const SaveFolder folder = folder_of(target);
    remove_abandoned_partial_files(folder);
    const fs::path tmp = temp_name_beside(target);
    // A signal that ends the program mid-write takes it along.
    const RemoveOnSignal interrupted_write(absolute_temp_path(folder, tmp));
    // Opened to be renamed as well: the rename goes by the open file.
    HANDLE h = CreateFileW(os_path(tmp).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("cannot write", p, windows_error(GetLastError()));
    DWORD error = 0;
    for (std::string_view rest = data; !rest.empty() && !error;) {
        DWORD n = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(rest.size(), 1u << 30));
        if (!WriteFile(h, rest.data(), chunk, &n, nullptr)) error = GetLastError();
        rest.remove_prefix(n);
    }
    if (error) {
        CloseHandle(h);
        DeleteFileW(os_path(tmp).c_str());
        fail("cannot write", p, windows_error(error));
    }
    if (auto replaced = files_detail::replace_file(h, tmp, target)) {
        DeleteFileW(os_path(tmp).c_str());
        fail("cannot replace", p, replaced);
    }
}

void try_save_in(const fs::path& folder) {
    using namespace files_detail;
    const fs::path probe = folder / probe_name;
    const fs::path tmp = temp_name_beside(probe);
    const RemoveOnSignal interrupted(absolute_temp_path(folder_of(probe), tmp));
    HANDLE h = CreateFileW(os_path(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("cannot write", folder, windows_error(GetLastError()));
    CloseHandle(h);
    DeleteFileW(os_path(tmp).c_str());
}

Executable make_executable(const fs::path& p, std::string* error) {
    (void)p;
    (void)error;
    return Executable::not_needed;
}

}  // namespace support
