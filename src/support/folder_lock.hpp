#pragma once
// An advisory lock on a folder between processes. It creates no file, and the system
// drops it when the process ends in any way, a crash included. (POSIX: flock on the open
// folder; Windows: a named mutex for the folder's final path, in any letters' case.)
#include <filesystem>

namespace support {

class FolderLock {
  public:
    // Tries once, without waiting, to take the folder's exclusive lock. `busy()` tells
    // that another process holds it. Where the file system cannot lock a folder (some
    // network file systems) nothing is held and the folder is not busy either. A folder
    // that cannot be opened throws std::filesystem::filesystem_error.
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool busy() const { return busy_; }

  private:
#ifdef _WIN32
    void* mutex_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool busy_ = false;
};

}  // namespace support
