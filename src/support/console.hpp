#pragma once
// Terminal output and input with the wording and behaviour of click: echo, colours,
// prompt, confirm and choice. End of input or an interrupt at a question raises
// Aborted, which the host turns into "Aborted!" and exit status 1.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace support {

class Aborted : public std::runtime_error {
  public:
    Aborted() : std::runtime_error("Aborted!") {}
};

enum class Stream { out, err };
enum class Color { none, red, green, yellow, blue, magenta, cyan };

// Writes the text and a line feed (unless `newline` is false) and flushes, so lines
// keep their order with child processes that share the terminal. The text is written in
// its visible form (support::visible): what it took from outside cannot drive the
// terminal.
void echo(std::string_view text, Stream stream = Stream::out, bool newline = true);
// Why not all of the program's standard output could be written (a full disk, a device
// error), once what is still buffered is flushed: the system's reason of the first write
// that failed. Nothing when all of it was written, and nothing when the reader of a pipe
// has gone: what it missed was only to be shown.
std::optional<std::string> output_failure();
// Colour only where the stream shows it (shows_colours); the colour codes are the only
// ones written.
void secho(std::string_view text, Color fg, Stream stream = Stream::out, bool bold = false);
bool is_terminal(Stream stream);
// Whether colour sequences written to the stream show as colours: a terminal; on Windows a
// console that handles them (enable_console_colours), since an older console prints them
// as they are.
bool shows_colours(Stream stream);
// The width of the terminal that standard output shows on, when it is one.
std::optional<int> terminal_columns();
// Makes the console show standard output and standard error as UTF-8 (Windows console
// code page; POSIX streams are bytes already, so nothing to do there).
void use_utf8_output();
// Makes the console read and show UTF-8 (Windows input and output code pages). The code
// pages the console had are put back when the program exits, so the user's console is
// left as it was found. Nothing to do on POSIX.
void use_utf8_console();
// Has the console handle colour sequences (Windows: virtual terminal processing on the
// consoles of standard output and standard error; where a console refuses it, nothing
// is coloured there). Its mode is put back when the program exits. Nothing to do on POSIX.
void enable_console_colours();
// Puts back the console code pages and modes seen before the first change (the exit
// handler of use_utf8_console and enable_console_colours; callable earlier).
void restore_console();
// Opens the null device on each of standard input, output and error that the program was
// started without, as git and daemons do, so that no descriptor the program opens later
// takes a standard stream's number: a question would otherwise wait on a pipe of the
// program's own, and messages could land in a file being saved. Called first of all at
// start-up. Windows has no such reuse (a missing standard handle stays missing, and files
// are opened as handles): nothing to do there.
void open_missing_standard_streams();
// The program's arguments after its name, as UTF-8: on Windows read from the wide
// command line, whatever the console's code page; elsewhere argv as given.
std::vector<std::string> program_arguments(int argc, char** argv);
std::string style(std::string_view text, Color fg, bool bold = false);

// One line from standard input without its line end; raises Aborted at end of input
// or on an interrupt (SIGINT) while waiting, and Interrupted on the other ending signals.
std::string read_line();
// The answer to a question just written without a line end: read_line(), then, when the
// answer did not come from a terminal (which shows the line end typed), a line feed on
// standard output, so that what follows starts a line of its own.
std::string read_answer();
// Forgets input read ahead and a seen end of input (for tests that swap standard input).
void discard_buffered_input();

// A console gives its input as UTF-16, one read at a time (a line, or a part of a long
// one). Each read becomes UTF-8 text: a character split between two reads is joined, a
// lone surrogate becomes U+FFFD. Ctrl-Z typed at the start of a line is the end of input,
// as consoles have it: nothing is given then.
class ConsoleInput {
  public:
    std::optional<std::string> decode(std::u16string_view read);

  private:
    char16_t high_surrogate_ = 0;
    bool line_start_ = true;
};

// "text [default]: " (or "text: "); an empty answer gives the default, or asks again
// when there is none.
std::string prompt(std::string_view text, const std::optional<std::string>& default_value = std::nullopt);
// The same answer without the white space around it.
std::string prompt_stripped(std::string_view text, const std::optional<std::string>& default_value = std::nullopt);
// "text [Y/n]: " or "text [y/N]: "; y, yes, n, no in any case; Enter gives the default.
bool confirm(std::string_view text, bool default_value = false);
// "text (a, b, c) [default]: "; the answer must be one of the choices (in any case of
// ASCII letters when `case_sensitive` is false); the matching choice is returned.
std::string prompt_choice(std::string_view text, const std::vector<std::string>& choices,
                          const std::optional<std::string>& default_value = std::nullopt,
                          bool case_sensitive = true);

}  // namespace support
