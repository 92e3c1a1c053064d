#pragma once
// PCRE2 with UTF and UCP (Unicode \w, \s, \d), line-feed newlines and JIT. Patterns
// are written with Python's `re` semantics in mind; replacement texts are literal.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace support {

class RegexError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct RegexCode;

class Regex {
  public:
    enum Flags : uint32_t {
        none = 0,
        ignore_case = 1u << 0,
        multiline = 1u << 1,   // ^ and $ at every line
        dotall = 1u << 2,      // . matches a line feed
        verbose = 1u << 3,     // Python's re.X
    };

    class Match {
      public:
        // Group 0 is the whole match. An unset group gives an empty view and
        // matched(i) false.
        std::string_view group(size_t i = 0) const;
        std::string_view group(std::string_view name) const;
        bool matched(size_t i) const;
        size_t start(size_t i = 0) const;
        size_t end(size_t i = 0) const;
        size_t group_count() const { return spans_.size(); }

      private:
        friend class Regex;
        std::string_view subject_;
        std::vector<std::pair<size_t, size_t>> spans_;
        std::shared_ptr<const struct RegexCode> code_;  // for group names; outlives the Regex
    };

    explicit Regex(std::string_view pattern, uint32_t flags = none);  // throws RegexError
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;

    // First match at or after `from` (Python's re.search).
    std::optional<Match> search(std::string_view s, size_t from = 0) const;
    // Match anchored at the start of `s` (Python's re.match).
    std::optional<Match> match(std::string_view s) const;
    // Match of the whole of `s` (Python's re.fullmatch).
    std::optional<Match> full_match(std::string_view s) const;
    bool contains(std::string_view s) const { return search(s).has_value(); }

    // Every non-overlapping match, left to right, stepping over empty matches the way
    // Python 3.7+ does.
    std::vector<Match> find_all(std::string_view s) const;
    // Replaces up to `count` matches (0 = all). The replacement is literal text.
    std::string replace(std::string_view s, std::string_view literal, size_t count = 0) const;
    std::string replace(std::string_view s, const std::function<std::string(const Match&)>& fn,
                        size_t count = 0) const;
    // Python's re.split (captured groups are not included).
    std::vector<std::string> split(std::string_view s) const;

    // Escapes every character that is not alphanumeric or underscore (re.escape).
    static std::string escape(std::string_view literal);

  private:
    std::optional<Match> run(std::string_view s, size_t from, uint32_t options) const;
    std::shared_ptr<RegexCode> code_;
};

}  // namespace support
