// Files on POSIX systems: folders listed through the file system library, paths and error
// codes as they are.
#include <system_error>

#include "support/files.hpp"

namespace support {

namespace fs = std::filesystem;

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

}  // namespace support
