// Version numbering from git tags. Numbers have no upper bound, so they are kept as
// decimal text and bumped digit by digit: no proposal is ever wrapped or truncated.
#include "support/regex.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace vemtora::quillary {

namespace {

// Digit runs may be any Unicode decimal digits (as a tag's \d matches them); their
// values are written out in ASCII without leading zeros.
std::string decimal_value(std::string_view digits) {
    std::string out;
    size_t pos = 0;
    while (pos < digits.size()) {
        char32_t c = support::next_code_point(digits, pos);
        int value = support::unicode::digit_value(c);
        if (value < 0) value = 0;  // unreachable for a \d run
        if (out.empty() && value == 0) continue;
        out.push_back(static_cast<char>('0' + value));
    }
    return out.empty() ? "0" : out;
}

std::string increment(std::string digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return digits;
        }
        *it = '0';
    }
    return "1" + digits;
}

const support::Regex& version_regex() {
    static const support::Regex re(R"(^(\d+\.\d+\.\d+)(?:rc(\d+))?$)");
    return re;
}

}  // namespace

ParsedVersion parse_version(const std::optional<std::string>& version_str) {
    if (!version_str || version_str->empty()) return {};
    std::string_view text = *version_str;
    if (text.starts_with("CICD-v")) text.remove_prefix(6);
    else if (text.starts_with("v")) text.remove_prefix(1);
    auto m = version_regex().match(text);
    if (!m) return {};
    ParsedVersion parsed;
    parsed.base = std::string(m->group(1));
    if (m->matched(2)) parsed.rc = decimal_value(m->group(2));
    return parsed;
}

std::pair<std::string, std::string> get_next_versions(const std::optional<std::string>& current_version) {
    auto parsed = parse_version(current_version);
    if (!parsed.base) return {"0.0.1", "0.0.1rc0"};
    const std::string& base = *parsed.base;
    if (parsed.rc) return {base, base + "rc" + increment(*parsed.rc)};

    auto parts = support::split(base, ".");
    std::string major = decimal_value(parts[0]);
    std::string minor = decimal_value(parts[1]);
    std::string patch = decimal_value(parts[2]);
    // Only the value 9 carries: 1.2.9 -> 1.3.0, but 1.2.10 -> 1.2.11.
    if (patch == "9") {
        patch = "0";
        if (minor == "9") {
            minor = "0";
            major = increment(major);
        } else {
            minor = increment(minor);
        }
    } else {
        patch = increment(patch);
    }
    std::string next = major + "." + minor + "." + patch;
    return {next, next + "rc0"};
}

bool is_version_string(std::string_view text) {
    static const support::Regex re(R"(\d+\.\d+\.\d+(?:rc\d+)?)");
    return re.full_match(text).has_value();
}

}  // namespace vemtora::quillary
