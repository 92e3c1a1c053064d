// Messages and questions, alike on every platform; what the terminal or console itself
// does is in console_posix.cpp and console_windows.cpp.
#include "support/console.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "support/console_internal.hpp"
#include "support/text.hpp"

namespace support {

using console_detail::file_of;

namespace {

const char* ansi(Color c) {
    switch (c) {
        case Color::red: return "\x1b[31m";
        case Color::green: return "\x1b[32m";
        case Color::yellow: return "\x1b[33m";
        case Color::blue: return "\x1b[34m";
        case Color::magenta: return "\x1b[35m";
        case Color::cyan: return "\x1b[36m";
        case Color::none: break;
    }
    return "";
}

// Standard input is read through one buffer of our own so that every question sees
// the answers in order, whatever reads them.
struct InputBuffer {
    std::string pending;
    bool eof = false;
    bool started = false;  // the start of the input has been seen (and a mark dropped)
    ConsoleInput console;  // Windows: what a console gives
};
InputBuffer& input() {
    static InputBuffer b;
    return b;
}

// The system's error of the first write to standard output that failed; 0 while all went.
// It is taken when the write fails: the stream only keeps that one did, and errno goes
// with the next call.
int output_error = 0;
void note_output_error() {
    if (output_error == 0) output_error = errno != 0 ? errno : EIO;
}

void flush_output() {
    if (std::fflush(stdout) != 0) note_output_error();
}

void write_out(std::string_view text, Stream stream, bool newline) {
    FILE* f = file_of(stream);
    if (stream == Stream::err) flush_output();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
                         (!newline || std::fputc('\n', f) != EOF);
    if (stream == Stream::err) {
        std::fflush(f);
        return;
    }
    if (!written) note_output_error();
    flush_output();
}

}  // namespace

void echo(std::string_view text, Stream stream, bool newline) { write_out(visible(text), stream, newline); }

std::optional<std::string> output_failure() {
    flush_output();
    if (output_error == 0 && std::ferror(stdout)) output_error = EIO;  // a write that failed elsewhere
    // A reader that has gone (a closed pipe) only missed what was shown: the work stands.
    if (output_error == 0 || output_error == EPIPE) return std::nullopt;
    return std::error_code(output_error, std::generic_category()).message();
}

std::string style(std::string_view text, Color fg, bool bold) {
    std::string out;
    if (bold) out += "\x1b[1m";
    out += ansi(fg);
    out += text;
    out += "\x1b[0m";
    return out;
}

std::optional<std::string> ConsoleInput::decode(std::u16string_view read) {
    if (line_start_ && !high_surrogate_ && !read.empty() && read.front() == u'\x1A') return std::nullopt;
    constexpr char32_t replacement = 0xFFFD;
    std::string text;
    for (const char16_t unit : read) {
        const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high_surrogate_ && low) {
            append_utf8(text, 0x10000 + ((char32_t(high_surrogate_) - 0xD800) << 10) + (unit - 0xDC00));
            high_surrogate_ = 0;
            continue;
        }
        if (high_surrogate_) append_utf8(text, replacement);
        high_surrogate_ = high ? unit : 0;
        if (!high) append_utf8(text, low ? replacement : char32_t(unit));
    }
    if (!read.empty()) line_start_ = read.back() == u'\n';
    return text;
}

void secho(std::string_view text, Color fg, Stream stream, bool bold) {
    if (shows_colours(stream) && (fg != Color::none || bold)) write_out(style(visible(text), fg, bold), stream, true);
    else echo(text, stream);
}

std::string read_line() {
    auto& in = input();
    flush_output();
    constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
    while (true) {
        // Answers piped from a file that an editor saved with a byte-order mark: the mark
        // is no part of the first answer.
        if (!in.started && !in.eof && in.pending.size() < byte_order_mark.size() &&
            byte_order_mark.starts_with(in.pending)) {
            if (!console_detail::read_more(in.pending, in.console)) in.eof = true;
            continue;
        }
        if (!in.started) {
            if (in.pending.starts_with(byte_order_mark)) in.pending.erase(0, byte_order_mark.size());
            in.started = true;
        }
        auto nl = in.pending.find('\n');
        if (nl != std::string::npos) {
            std::string line = in.pending.substr(0, nl);
            in.pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (in.eof) {
            if (in.pending.empty()) throw Aborted();
            std::string line = std::move(in.pending);
            in.pending.clear();
            return line;
        }
        if (!console_detail::read_more(in.pending, in.console)) in.eof = true;
    }
}

std::string read_answer() {
    std::string answer = read_line();
    if (!console_detail::input_is_terminal()) echo("", Stream::out);
    return answer;
}

void discard_buffered_input() { input() = InputBuffer(); }

namespace {

std::string ask(std::string_view text) {
    echo(text, Stream::out, false);
    try {
        return read_answer();
    } catch (const Aborted&) {
        echo("", Stream::out);  // finish the question's line before the report
        throw;
    }
}

}  // namespace

std::string prompt(std::string_view text, const std::optional<std::string>& default_value) {
    std::string shown(text);
    if (default_value) shown += " [" + *default_value + "]";
    shown += ": ";
    while (true) {
        std::string value = ask(shown);
        if (!value.empty()) return value;
        if (default_value) return *default_value;
    }
}

std::string prompt_stripped(std::string_view text, const std::optional<std::string>& default_value) {
    return std::string(strip(prompt(text, default_value)));
}

bool confirm(std::string_view text, bool default_value) {
    std::string shown = std::string(text) + (default_value ? " [Y/n]: " : " [y/N]: ");
    while (true) {
        std::string value = ascii_lower(std::string(strip(ask(shown))));
        if (value == "y" || value == "yes") return true;
        if (value == "n" || value == "no") return false;
        if (value.empty()) return default_value;
        echo("Error: invalid input", Stream::err);
    }
}

std::string prompt_choice(std::string_view text, const std::vector<std::string>& choices,
                          const std::optional<std::string>& default_value, bool case_sensitive) {
    std::string shown = std::string(text) + " (" + join(choices, ", ") + ")";
    if (default_value) shown += " [" + *default_value + "]";
    shown += ": ";
    while (true) {
        std::string value = ask(shown);
        if (value.empty() && default_value) value = *default_value;
        if (value.empty()) continue;
        for (const auto& c : choices)
            if (c == value || (!case_sensitive && ascii_lower(c) == ascii_lower(value))) return c;
        std::string quoted;
        for (size_t i = 0; i < choices.size(); ++i) quoted += (i ? ", '" : "'") + choices[i] + "'";
        echo("Error: '" + value + "' is not one of " + quoted + ".", Stream::err);
    }
}

}  // namespace support
