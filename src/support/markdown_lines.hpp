#pragma once
// The lines of a text as the Markdown renderer counts them, so that the line and column
// numbers it reports for a block become byte offsets of the text.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace support::markdown {

class LineIndex {
  public:
    // Lines end where the renderer ends them: at a line feed, a carriage return, or both.
    // `origin` gives, for each line of the text the renderer parsed (counted from 0), the
    // line of `text` it stands for, std::string::npos for a line added to it; empty when
    // the renderer parsed `text` itself. The text must outlive the index.
    explicit LineIndex(std::string_view text, std::vector<size_t> origin = {});

    // The number of lines: one more than the line breaks.
    size_t lines() const { return starts_.size(); }
    // The byte offset of the line's first character.
    size_t start(size_t line) const { return starts_[line]; }
    // A line of the parsed text (counted from 1) as a line of the text (from 0); an added
    // line counts as the line before it, a number past the end as the last line.
    size_t line_of(int parsed) const;
    // The byte offset just past the line's last character, before its line break.
    size_t line_end(size_t line) const;
    // The line's line break as the text has it; "\n" for the last line, which has none.
    std::string_view line_break(size_t line) const;
    // The byte offset of a column (counted from 0) of the line, at most the line's end.
    // The renderer skips a byte-order mark, so the columns of the first line start after it.
    size_t position(size_t line, int column) const;

  private:
    std::string_view text_;
    std::vector<size_t> origin_;
    std::vector<size_t> starts_{0};
    size_t bom_ = 0;
};

}  // namespace support::markdown
