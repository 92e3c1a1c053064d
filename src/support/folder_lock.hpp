#pragma once
// An advisory lock on a folder between processes. It creates no file, and the system
// drops it when the process ends in any way, a crash included.
#include <filesystem>

namespace support {

class FolderLock {
  public:
    // Tries once, without waiting, to take the folder's exclusive lock; `held()` tells
    // whether it was had. A folder that cannot be opened throws
    // std::filesystem::filesystem_error. On Windows no lock is taken: held() is true.
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace support
