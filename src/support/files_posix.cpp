// Files on POSIX systems: folders listed through the file system library, paths and error
// codes as they are, files read and saved through their descriptors, links followed by
// walking the path as the system resolves it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>
#include <system_error>

#include "support/files.hpp"
#include "support/files_internal.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"

namespace support {

namespace fs = std::filesystem;
using files_detail::refused;

std::string error_text(const std::error_code& ec) { return ec.message(); }

fs::path os_path(const fs::path& p) { return p; }
fs::path absolute_path(const fs::path& p, std::error_code& ec) { return fs::absolute(p, ec); }

fs::path resolved_path(const fs::path& p) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(p, ec);
    return ec ? p : resolved;
}

bool path_within(const fs::path& p, const fs::path& folder) {
    const fs::path rel = p.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

std::vector<FolderEntry> list_folder(const fs::path& folder, std::error_code& ec) {
    std::vector<FolderEntry> entries;
    auto it = fs::directory_iterator(folder, ec);
    for (auto end = fs::directory_iterator(); !ec && it != end; it.increment(ec)) {
        std::error_code e;
        FolderEntry entry{.path = it->path(), .link = it->is_symlink(e)};
        const auto status = it->status(e);
        if (fs::is_regular_file(status)) entry.kind = FolderEntry::Kind::file;
        else if (fs::is_directory(status)) entry.kind = FolderEntry::Kind::folder;
        else if (status.type() == fs::file_type::not_found) entry.kind = FolderEntry::Kind::missing;
        else if (e) entry = {.path = it->path(), .kind = FolderEntry::Kind::unknown, .error = e};
        entries.push_back(std::move(entry));
    }
    if (ec) entries.clear();
    return entries;
}

void remove_tree(const fs::path& p, std::error_code& ec) { fs::remove_all(p, ec); }

BoundedRead read_regular_file(const fs::path& p, std::uintmax_t limit, bool follow_links) {
    using Outcome = BoundedRead::Outcome;
    BoundedRead result{.outcome = Outcome::read};
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
    return result;
}

void files_detail::remove_unless_held(const fs::path& p, bool long_abandoned) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (long_abandoned) ::unlink(p.c_str());
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && long_abandoned)) ::unlink(p.c_str());
    ::close(fd);
}

namespace {

using namespace files_detail;

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

}  // namespace

void write_file_atomic(const fs::path& p, std::string_view data) {
    using namespace files_detail;
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
    using namespace files_detail;
    const fs::path probe = folder / probe_name;
    TempFile tmp(probe, folder_of(probe), 0600);
}

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

Executable make_executable(const fs::path& p, std::string* error) {
    std::error_code ec;
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace, ec);
    if (ec && error) *error = ec.message();
    return ec ? Executable::failed : Executable::made;
}

}  // namespace support
