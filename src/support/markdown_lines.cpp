#include "support/markdown_lines.hpp"

#include <algorithm>

namespace support::markdown {

LineIndex::LineIndex(std::string_view text, std::vector<size_t> origin)
    : text_(text), origin_(std::move(origin)), bom_(text.starts_with("\xEF\xBB\xBF") ? 3 : 0) {
    const bool has_cr = text.find('\r') != std::string_view::npos;
    auto next_break = [&](size_t from) { return has_cr ? text.find_first_of("\r\n", from) : text.find('\n', from); };
    for (size_t i = next_break(0); i != std::string_view::npos; i = next_break(i)) {
        i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        starts_.push_back(i);
    }
}

size_t LineIndex::line_of(int parsed) const {
    size_t k = parsed > 0 ? static_cast<size_t>(parsed - 1) : 0;
    if (origin_.empty()) return std::min(k, starts_.size() - 1);
    k = std::min(k, origin_.size() - 1);
    while (k > 0 && origin_[k] == std::string::npos) --k;
    return origin_[k] == std::string::npos ? 0 : std::min(origin_[k], starts_.size() - 1);
}

size_t LineIndex::line_end(size_t line) const {
    if (line + 1 >= starts_.size()) return text_.size();
    size_t end = starts_[line + 1] - 1;
    return (text_[end] == '\n' && end > starts_[line] && text_[end - 1] == '\r') ? end - 1 : end;
}

std::string_view LineIndex::line_break(size_t line) const {
    if (line + 1 >= starts_.size()) return "\n";
    return text_.substr(line_end(line), starts_[line + 1] - line_end(line));
}

size_t LineIndex::position(size_t line, int column) const {
    size_t offset = starts_[line] + (line == 0 ? bom_ : 0) + static_cast<size_t>(std::max(column, 0));
    return std::min(offset, line_end(line));
}

}  // namespace support::markdown
