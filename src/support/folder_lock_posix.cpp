#include "support/folder_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace support {

FolderLock::FolderLock(const std::filesystem::path& folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        throw std::filesystem::filesystem_error("cannot open the folder to lock", folder,
                                                std::error_code(errno, std::generic_category()));
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    busy_ = rc != 0 && errno == EWOULDBLOCK;
}

FolderLock::~FolderLock() {
    // Closing the only descriptor of the open folder drops the lock.
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace support
