#include "support/files.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "support/files_internal.hpp"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/interrupt.hpp"
#include "support/paths.hpp"

namespace support {

namespace fs = std::filesystem;

namespace {

BoundedRead refused(BoundedRead::Outcome outcome, std::string reason = {}) {
    return {.outcome = outcome, .reason = std::move(reason)};
}

}  // namespace

BoundedRead read_regular_file(const fs::path& p, std::uintmax_t limit, bool follow_links) {
    using Outcome = BoundedRead::Outcome;
    BoundedRead result{.outcome = Outcome::read};
#ifdef _WIN32
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
#else
    std::error_code ec;
    const fs::file_status status = follow_links ? fs::status(p, ec) : fs::symlink_status(p, ec);
    if (status.type() == fs::file_type::not_found) return refused(Outcome::missing);
    if (ec) return refused(Outcome::failed, ec.message());
    if (fs::is_symlink(status)) return refused(Outcome::link);
    if (!fs::is_regular_file(status)) return refused(Outcome::not_regular);
    // Opened without blocking and checked again on the open file, in case something else
    // took the name's place since the look above.
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (follow_links ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        if (errno == ELOOP && !follow_links) return refused(Outcome::link);
        if (errno == ENOENT) return refused(Outcome::missing);
        return refused(Outcome::failed, std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return refused(Outcome::failed, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refused(Outcome::not_regular);
    if (!follow_links && st.st_nlink > 1) return refused(Outcome::hard_link);
    if (static_cast<std::uintmax_t>(st.st_size) > limit) return refused(Outcome::too_large);
    result.bytes.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refused(Outcome::failed, std::strerror(errno));
        if (n == 0) break;
        result.bytes.append(chunk, static_cast<size_t>(n));
        if (result.bytes.size() > limit) return refused(Outcome::too_large);
    }
#endif
    return result;
}

namespace {

constexpr size_t random_length = 10;

std::string random_suffix() {
    static std::mt19937_64 rng{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (size_t i = 0; i < random_length; ++i) s += digits[rng() % 36];
    return s;
}

[[noreturn]] void fail(const char* what, const fs::path& p, std::error_code ec) {
    throw fs::filesystem_error(what, p, ec);
}

// The file that a save of `p` replaces: symbolic links are followed to their final target,
// so a link stays a link and the file it names gets the new text. A link to nothing yet
// gives the file it names.
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
// The name of the target that try_save_in's partial file is named after.
constexpr const char* probe_name = "write-check";

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

// Removes the partial file unless a save still at work holds it. A save holds its partial
// file's lock while it writes, and the system drops the lock with the process, however
// that ends; where the file system has no such locks, only a file `long_abandoned` is
// taken for a dead save's. (Windows: an open file cannot be removed, which tells the same.)
void remove_unless_held(const fs::path& p, [[maybe_unused]] bool long_abandoned) {
#ifdef _WIN32
    DeleteFileW(p.c_str());
#else
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (long_abandoned) ::unlink(p.c_str());
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && long_abandoned)) ::unlink(p.c_str());
    ::close(fd);
#endif
}

// The folder of a save's target, as given and made absolute (empty when it cannot be): the
// clean-up below and the signal handler both need the absolute form, found once per save.
struct SaveFolder {
    fs::path given;
    fs::path absolute;
};
SaveFolder folder_of(const fs::path& target) {
    SaveFolder folder{.given = target.parent_path().empty() ? fs::path(".") : target.parent_path()};
    std::error_code ec;
    folder.absolute = absolute_path(folder.given, ec);
    if (ec) folder.absolute.clear();
    return folder;
}
// The temporary file at `tmp` (in `folder`), as the signal handler is told it.
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

#ifndef _WIN32

std::error_code last_error() { return {errno, std::generic_category()}; }

// The temporary file of a save, open for writing; removed when the save does not reach its
// rename. Every save makes its temporary file here and nowhere else.
class TempFile {
  public:
    TempFile(const fs::path& target, const SaveFolder& folder, mode_t mode) {
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            path_ = temp_name_beside(target);
            // A signal that ends the program mid-write takes the file along.
            on_signal_.reset();
            on_signal_.emplace(absolute_temp_path(folder, path_));
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) fail("cannot write", target, last_error());
        // Held while the save lives, so that another run's save into this folder leaves it
        // (remove_abandoned_partial_files); a file system without locks holds nothing.
        ::flock(fd_, LOCK_EX | LOCK_NB);
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!renamed_) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    // Closes the file; the error of a write that the system finished late shows here.
    std::error_code close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? std::error_code{} : last_error();
    }
    std::error_code rename_to(const fs::path& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return last_error();
        renamed_ = true;
        return {};
    }

  private:
    fs::path path_;
    std::optional<RemoveOnSignal> on_signal_;
    int fd_ = -1;
    bool renamed_ = false;
};

// No fsync: the rename already keeps a crashed run from leaving half a file, and a sync
// per page would cost the converter more than its rendering (milliseconds per file).
std::error_code write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

#endif

}  // namespace

#ifndef _WIN32

void write_file_atomic(const fs::path& p, std::string_view data) {
    // One look at the name serves a target that is no link, or nothing there; a link is
    // followed to the file it names, and that file is looked at.
    fs::path target = p;
    struct stat old {};
    bool exists = ::lstat(p.c_str(), &old) == 0;
    if (exists && S_ISLNK(old.st_mode)) {
        target = final_target(p);
        exists = ::stat(target.c_str(), &old) == 0;
    }
    if (!exists && errno != ENOENT) fail("cannot write", p, last_error());
    if (exists) {
        if (S_ISDIR(old.st_mode)) fail("cannot write", p, std::make_error_code(std::errc::is_a_directory));
        if (!S_ISREG(old.st_mode)) fail("not a regular file", p, std::make_error_code(std::errc::invalid_argument));
        // The rename needs only the folder; refuse what opening the file itself would refuse.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) fail("cannot write", p, last_error());
    }

    const SaveFolder folder = folder_of(target);
    remove_abandoned_partial_files(folder);
    // A new file gets the mode a plain open gives it; a replaced one keeps its mode and,
    // where the process may, its owner and group. Both are set before any byte is written.
    TempFile tmp(target, folder, exists ? 0600 : 0666);
    if (exists) {
        if (::fchown(tmp.fd(), old.st_uid, old.st_gid) != 0 &&
            ::fchown(tmp.fd(), static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither is the process's to give: the file is the saving user's, as a new one is.
        }
        if (::fchmod(tmp.fd(), old.st_mode & 07777) != 0) fail("cannot write", p, last_error());
    }
    if (auto ec = write_all(tmp.fd(), data)) fail("cannot write", p, ec);
    if (auto ec = tmp.close()) fail("cannot write", p, ec);
    if (auto ec = tmp.rename_to(target)) fail("cannot replace", p, ec);
}

void try_save_in(const fs::path& folder) {
    const fs::path probe = folder / probe_name;
    TempFile tmp(probe, folder_of(probe), 0600);
}

#else

void write_file_atomic(const fs::path& p, std::string_view data) {
    using files_detail::windows_error;
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
    const fs::path probe = folder / probe_name;
    const fs::path tmp = temp_name_beside(probe);
    const RemoveOnSignal interrupted(absolute_temp_path(folder_of(probe), tmp));
    HANDLE h = CreateFileW(os_path(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("cannot write", folder, files_detail::windows_error(GetLastError()));
    CloseHandle(h);
    DeleteFileW(os_path(tmp).c_str());
}

#endif

#ifndef _WIN32

namespace {

// Where the link at `link` leads once it and every link it names are followed; a link to
// nothing yet gives the place it names.
fs::path followed(fs::path link) {
    constexpr int max_links = 40;
    for (int n = 0; n < max_links; ++n) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(link, ec)) || ec) break;
        fs::path next = fs::read_symlink(link, ec);
        if (ec) break;
        link = next.is_absolute() ? next : link.parent_path() / next;
    }
    std::error_code ec;
    fs::path real = fs::weakly_canonical(link, ec);
    return ec ? link.lexically_normal() : real;
}

}  // namespace

std::optional<LinkOut> link_out_of(const fs::path& p, const fs::path& root) {
    std::error_code ec;
    const fs::path named = fs::absolute(p, ec);
    if (ec || !path_within(named.lexically_normal(), root)) return std::nullopt;
    // Walked the way the system resolves it: a ".." goes up from where a link led.
    fs::path at = named.root_path();
    auto part = named.begin();
    if (auto [r, n] = std::mismatch(root.begin(), root.end(), named.begin(), named.end()); r == root.end()) {
        at = root;  // it has no links of its own
        part = n;
    } else {
        std::advance(part, std::distance(named.root_path().begin(), named.root_path().end()));
    }
    for (; part != named.end(); ++part) {
        if (part->empty() || *part == ".") continue;
        if (*part == "..") {
            at = at.parent_path();
            continue;
        }
        at /= *part;
        const auto status = fs::symlink_status(at, ec);
        if (ec || status.type() == fs::file_type::not_found) break;  // made inside from here on
        if (!fs::is_symlink(status)) continue;
        const bool inside = path_within(at, root);
        fs::path target = followed(at);
        if (inside && !path_within(target, root)) return LinkOut{at.lexically_relative(root), target};
        at = std::move(target);
    }
    return std::nullopt;
}

#endif

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

Executable make_executable(const fs::path& p, std::string* error) {
#ifdef _WIN32
    (void)p;
    (void)error;
    return Executable::not_needed;
#else
    std::error_code ec;
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace, ec);
    if (ec && error) *error = ec.message();
    return ec ? Executable::failed : Executable::made;
#endif
}

fs::path make_temp_dir(std::string_view prefix) {
    const fs::path folder = fs::temp_directory_path();
    // A name that is taken is tried again under another; any other failure (a read-only
    // file system, a folder the user may not write in) would be the answer of every try.
    std::error_code ec;
    for (int i = 0; i < 100; ++i) {
        fs::path candidate = folder / path_from_utf8(std::string(prefix) + random_suffix());
        if (fs::create_directory(candidate, ec)) return candidate;
        if (ec && ec != std::errc::file_exists) break;
        // A folder of that name is there already: no error is given for it.
        if (!ec) ec = std::make_error_code(std::errc::file_exists);
    }
    throw fs::filesystem_error("cannot create a temporary folder", folder, ec);
}

}  // namespace support
