#include "support/regex.hpp"

#include <pcre2.h>

#include <string>

namespace support {

namespace {

// Large enough for the pathological-but-legal inputs a Markdown file can hold; a match
// that needs more is reported instead of hanging.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

struct MatchResources {
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jit_stack = nullptr;
    MatchResources() {
        context = pcre2_match_context_create(nullptr);
        pcre2_set_match_limit(context, kMatchLimit);
        jit_stack = pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr);
        if (jit_stack) pcre2_jit_stack_assign(context, nullptr, jit_stack);
    }
    ~MatchResources() {
        if (jit_stack) pcre2_jit_stack_free(jit_stack);
        pcre2_match_context_free(context);
    }
};

MatchResources& resources() {
    thread_local MatchResources r;
    return r;
}

std::string error_text(int code) {
    PCRE2_UCHAR buffer[256];
    pcre2_get_error_message(code, buffer, sizeof buffer);
    return reinterpret_cast<const char*>(buffer);
}

}  // namespace

struct RegexCode {
    pcre2_code* code = nullptr;
    pcre2_match_data* data = nullptr;
    ~RegexCode() {
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
};

Regex::Regex(std::string_view pattern, uint32_t flags) : code_(std::make_shared<RegexCode>()) {
    uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
    if (flags & ignore_case) options |= PCRE2_CASELESS;
    if (flags & multiline) options |= PCRE2_MULTILINE;
    if (flags & dotall) options |= PCRE2_DOTALL;
    if (flags & verbose) options |= PCRE2_EXTENDED;
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
    int err = 0;
    PCRE2_SIZE offset = 0;
    code_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &err,
                                &offset, cc);
    pcre2_compile_context_free(cc);
    if (!code_->code)
        throw RegexError("bad regular expression at offset " + std::to_string(offset) + ": " + error_text(err));
    pcre2_jit_compile(code_->code, PCRE2_JIT_COMPLETE);  // falls back to the interpreter when JIT is absent
    code_->data = pcre2_match_data_create_from_pattern(code_->code, nullptr);
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

std::optional<Regex::Match> Regex::run(std::string_view s, size_t from, uint32_t options) const {
    int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from, options, code_->data,
                         resources().context);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) {
        if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
            rc == PCRE2_ERROR_HEAPLIMIT)
            throw RegexError("regular expression match limit exceeded");
        throw RegexError("regular expression match failed: " + error_text(rc));
    }
    uint32_t pairs = pcre2_get_ovector_count(code_->data);
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(code_->data);
    Match m;
    m.subject_ = s;
    m.code_ = code_;
    uint32_t groups = 0;
    pcre2_pattern_info(code_->code, PCRE2_INFO_CAPTURECOUNT, &groups);
    m.spans_.resize(groups + 1, {std::string_view::npos, std::string_view::npos});
    for (uint32_t i = 0; i < pairs && i <= groups; ++i) {
        if (ov[2 * i] == PCRE2_UNSET) continue;
        m.spans_[i] = {ov[2 * i], ov[2 * i + 1]};
    }
    return m;
}

std::optional<Regex::Match> Regex::search(std::string_view s, size_t from) const {
    if (from > s.size()) return std::nullopt;
    return run(s, from, 0);
}

std::optional<Regex::Match> Regex::match(std::string_view s) const { return run(s, 0, PCRE2_ANCHORED); }

std::optional<Regex::Match> Regex::full_match(std::string_view s) const {
    return run(s, 0, PCRE2_ANCHORED | PCRE2_ENDANCHORED);
}

namespace {

size_t next_char(std::string_view s, size_t pos) {
    ++pos;
    while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) ++pos;
    return pos;
}

}  // namespace

std::vector<Regex::Match> Regex::find_all(std::string_view s) const {
    std::vector<Match> out;
    size_t pos = 0;
    bool last_empty = false;
    while (pos <= s.size()) {
        // After an empty match, look for a non-empty one at the same place first; when
        // there is none, step one character on. This is Python's stepping rule.
        std::optional<Match> m = last_empty ? run(s, pos, PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : search(s, pos);
        if (!m && last_empty) {
            if (pos >= s.size()) break;
            pos = next_char(s, pos);
            last_empty = false;
            continue;
        }
        if (!m) break;
        last_empty = m->start() == m->end();
        pos = m->end();
        out.push_back(std::move(*m));
    }
    return out;
}

std::string Regex::replace(std::string_view s, std::string_view literal, size_t count) const {
    return replace(s, [&](const Match&) { return std::string(literal); }, count);
}

std::string Regex::replace(std::string_view s, const std::function<std::string(const Match&)>& fn,
                           size_t count) const {
    std::string out;
    out.reserve(s.size());
    size_t copied = 0, done = 0;
    for (const auto& m : find_all(s)) {
        if (count && done == count) break;
        out.append(s.substr(copied, m.start() - copied));
        out.append(fn(m));
        copied = m.end();
        ++done;
    }
    out.append(s.substr(copied));
    return out;
}

std::vector<std::string> Regex::split(std::string_view s) const {
    std::vector<std::string> out;
    size_t copied = 0;
    for (const auto& m : find_all(s)) {
        out.emplace_back(s.substr(copied, m.start() - copied));
        copied = m.end();
    }
    out.emplace_back(s.substr(copied));
    return out;
}

std::string Regex::escape(std::string_view literal) {
    std::string out;
    for (char c : literal) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') {
            out += c;
        } else {
            out += '\\';
            out += c;
        }
    }
    return out;
}

std::string_view Regex::Match::group(size_t i) const {
    if (i >= spans_.size() || spans_[i].first == std::string_view::npos) return {};
    return subject_.substr(spans_[i].first, spans_[i].second - spans_[i].first);
}

std::string_view Regex::Match::group(std::string_view name) const {
    int n = pcre2_substring_number_from_name(code_->code,
                                             reinterpret_cast<PCRE2_SPTR>(std::string(name).c_str()));
    if (n < 0) throw RegexError("no group named " + std::string(name));
    return group(static_cast<size_t>(n));
}

bool Regex::Match::matched(size_t i) const { return i < spans_.size() && spans_[i].first != std::string_view::npos; }
size_t Regex::Match::start(size_t i) const { return i < spans_.size() ? spans_[i].first : std::string_view::npos; }
size_t Regex::Match::end(size_t i) const { return i < spans_.size() ? spans_[i].second : std::string_view::npos; }

}  // namespace support
