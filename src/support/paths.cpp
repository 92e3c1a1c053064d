#include "support/paths.hpp"

#include <system_error>

#include "support/text.hpp"

namespace support {

namespace fs = std::filesystem;

fs::path path_from_utf8(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_text(const fs::path& p) {
    const std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
}

std::string generic_utf8_text(const fs::path& p) {
    const std::u8string text = p.generic_u8string();
    return std::string(text.begin(), text.end());
}

std::optional<std::string> valid_utf8_text(const fs::path& p) {
    try {
        std::string text = utf8_text(p);
        if (is_valid_utf8(text)) return text;
    } catch (const std::system_error&) {
        // a wide name that does not convert
    }
    return std::nullopt;
}

namespace {

// A name's units as UTF-8 for a message: bytes as they are; UTF-16 decoded, U+FFFD for each
// unpaired surrogate.
template <class Char>
std::string units_as_utf8(const std::basic_string<Char>& units) {
    if constexpr (sizeof(Char) == 1) {
        return std::string(units.begin(), units.end());
    } else {
        auto surrogate = [](char32_t unit, char32_t first) { return unit >= first && unit <= first + 0x3FF; };
        std::string out;
        for (size_t i = 0; i < units.size(); ++i) {
            const auto unit = static_cast<char32_t>(units[i]);
            const auto next = i + 1 < units.size() ? static_cast<char32_t>(units[i + 1]) : char32_t{0};
            if (surrogate(unit, 0xD800) && surrogate(next, 0xDC00)) {
                append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
            } else {
                append_utf8(out, surrogate(unit, 0xD800) || surrogate(unit, 0xDC00) ? char32_t{0xFFFD} : unit);
            }
        }
        return out;
    }
}

}  // namespace

std::string message_text(const fs::path& p) {
    if (auto text = valid_utf8_text(p)) return *text;
    return units_as_utf8(p.native());
}

namespace {

fs::path without_dot_parts(const fs::path& p) {
    fs::path out = p.root_path();
    for (const auto& part : p.relative_path()) {
        const auto& name = part.native();  // looked at as text: a path comparison costs more than the rest
        if (name.empty() || (name.size() == 1 && name[0] == '.')) continue;
        out /= part;
    }
    return out;
}

}  // namespace

std::string reference_form(const fs::path& p) {
    return generic_utf8_text(without_dot_parts(p.is_absolute() ? p : fs::current_path() / p));
}

fs::path lexical_path(const fs::path& p) {
    fs::path out = without_dot_parts(p);
    return out.empty() ? fs::path(".") : out;
}

std::string name_suffix(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
    return name.substr(dot);
}

fs::path parent_or_dot(const fs::path& p) {
    fs::path parent = p.parent_path();
    if (parent.empty() || p == ".") return ".";
    return parent;
}

}  // namespace support
