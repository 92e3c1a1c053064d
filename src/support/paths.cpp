#include "support/paths.hpp"

namespace support {

namespace fs = std::filesystem;

std::string reference_form(const fs::path& p) {
    fs::path absolute = p.is_absolute() ? p : fs::current_path() / p;
    fs::path out = absolute.root_path();
    for (const auto& part : absolute.relative_path()) {
        if (part.empty() || part == ".") continue;
        out /= part;
    }
    std::string text = out.generic_string();
    return text;
}

std::string native_text(const fs::path& p) { return p.string(); }

fs::path parent_or_dot(const fs::path& p) {
    fs::path parent = p.parent_path();
    if (parent.empty() || p == ".") return ".";
    return parent;
}

}  // namespace support
