#include "support/folder_lock.hpp"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <system_error>

namespace support {

namespace {

// The folder as the file system names it once links and short names are resolved, in
// upper case as the file system compares names.
std::optional<std::wstring> final_name(const std::filesystem::path& folder) {
    HANDLE h = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_DIRECTORY;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        throw std::filesystem::filesystem_error("cannot open the folder to lock", folder,
                                                std::error_code(static_cast<int>(error), std::system_category()));
    }
    std::wstring name(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= name.size()) return std::nullopt;
    name.resize(n);
    CharUpperBuffW(name.data(), n);
    return name;
}

}  // namespace

FolderLock::FolderLock(const std::filesystem::path& folder) {
    const auto name = final_name(folder);
    if (!name) return;
    // A mutex of the session named by a hash of the folder's name (FNV-1a, 64 bits): the
    // system closes it with the last process holding it.
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : *name)
        for (const unsigned byte : {static_cast<unsigned>(c) & 0xFFu, static_cast<unsigned>(c) >> 8}) {
            hash ^= byte;
            hash *= 1099511628211ull;
        }
    wchar_t object_name[64];
    std::swprintf(object_name, 64, L"Local\\vemtora-%016llx", static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, object_name);
    if (!mutex) return;
    const DWORD taken = WaitForSingleObject(mutex, 0);
    // A mutex abandoned by a process that ended without letting go is ours now.
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
        mutex_ = mutex;
        return;
    }
    CloseHandle(mutex);
    busy_ = taken == WAIT_TIMEOUT;
}

FolderLock::~FolderLock() {
    if (!mutex_) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

}  // namespace support
