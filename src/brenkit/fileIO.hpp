#pragma once
// File, YAML, menu, editor and download services shared by every command.
#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/files.hpp"
#include "support/result.hpp"

namespace brenkit::fileIO {

namespace fs = std::filesystem;
using Logger = app_logging::Logger;

// ---- YAML ----------------------------------------------------------------------
// Writes the template text to `file_name` in the current folder; returns its path.
fs::path save_yaml_template(const std::string& yaml_text, const std::string& file_name);
// Parses YAML text. Nothing (std::nullopt) when the text does not parse; the reason is
// logged under `label`. A document that is empty or `null` gives a Null node.
std::optional<YAML::Node> load_yaml_string(const std::string& yaml_text, const std::string& label = "YAML");
// The largest configuration or command set that is read (16 MiB): far beyond any real
// one, small enough that a wrong path cannot exhaust the memory.
inline constexpr std::uintmax_t max_config_bytes = std::uintmax_t{16} << 20;
// Loads a YAML file that must hold a mapping; nothing (with the reason logged) when it
// is missing, unreadable, a folder or another file that is not a regular one (device,
// FIFO), larger than max_config_bytes, refused by the working copy's link rule (below),
// malformed, not a mapping, or holding a value with a NUL character (the line names its
// key). With `empty_is_null` an empty or null document is no error: it gives a Null
// node, without a message. A key
// given twice in a mapping is taken from its later copy, with a warning naming its line.
std::optional<YAML::Node> load_yaml_config(const fs::path& path, bool empty_is_null = false);
// Writes the mapping as YAML over the file (temporary file, then rename): key order
// kept, UTF-8 as is, every text value quoted so that it reads back as a text (a value
// set in code from a plain string counts by its look, "3" as a number: use quoted()).
// The working copy's link rule (below) holds. A key or a value that is not UTF-8 text is
// refused (the failure names it) rather than written with U+FFFD in its place.
support::Result save_yaml_config(const fs::path& path, const YAML::Node& data, const Logger* logger = nullptr);

// How a YAML 1.1 safe loader reads a plain scalar: null/~/empty, booleans
// (true/false/yes/no/on/off in their usual cases), integers, floats; quoted
// scalars are always texts.
enum class ScalarKind { null, boolean, integer, floating, text };
ScalarKind scalar_kind(const YAML::Node& node);
// A text node that stays a text whatever it holds ("1.0", "yes", "null"): nodes built in
// code from a plain string are otherwise read like plain scalars.
YAML::Node quoted(const std::string& text);
// A mapping value by key, or an undefined node when `map` is not a mapping.
YAML::Node child(const YAML::Node& map, const std::string& key);
// Python truth of a loaded value: none, false, 0, 0.0, "" and empty collections are false.
bool truthy(const YAML::Node& node);
// The value as a text when it is a non-null scalar (as written, for numbers), else `fallback`.
std::string text_or(const YAML::Node& node, const std::string& fallback);
// The value's text when it is truthy, else the fallback: `config.get(key) or default`.
std::string text_or_default(const YAML::Node& node, const std::string& fallback);
bool bool_or(const YAML::Node& node, bool fallback);

// A text setting of a configuration mapping: the value of `key` when it is a scalar
// (numbers and booleans as written), `fallback` when the key is missing. A key that is
// present but holds no text (a list, a mapping, no value) takes `fallback` too, with
// one warning line that names the key, the kind expected and the default used.
std::string text_setting(const YAML::Node& map, const std::string& key, const std::string& fallback);
// That warning for `key`, whose `value` is not `expected` ("a text"): `used` says what
// is taken instead ("the default './out' is used").
void warn_wrong_kind(const std::string& key, const YAML::Node& value, const std::string& expected,
                     const std::string& used);
// How a warning names the default text `fallback`: "the default './out' is used".
std::string default_used(const std::string& fallback);

// ---- file search and menus -------------------------------------------------------
struct FoundFiles {
    std::vector<fs::path> paths{};
    std::vector<std::string> names{};  // file names without their suffix
};
struct FindOptions {
    std::vector<std::string> extensions{};   // ".yaml", ".md", ... (case-insensitive); empty = every file
    bool recursive = false;
    std::vector<std::string> prefix{};       // name beginnings; empty = any name
    std::vector<std::string> exclude_paths{};  // folder names (or paths) not descended into
    const Logger* logger = nullptr;
};
// Matching regular files, sorted by path so that results are reproducible. A file (or
// the folder searched) whose link leads out of the working copy is left out, with a
// warning that names it.
FoundFiles find_files_with_extensions(const fs::path& folder, const FindOptions& options = {});

using Choice = std::pair<fs::path, std::string>;
// The 0-based entries that a menu answer names, in the order given and each once:
// numbers from 1 and ranges such as 2-5, separated by blanks or commas, or "a" for all.
// An empty answer names none; nothing when the answer is not valid for `count` entries.
std::optional<std::vector<size_t>> parse_selection(const std::string& answer, size_t count);
// How many entries of a file menu count: several (numbers, ranges, "a") or one number.
enum class Picks { several, one };
// A numbered menu of the names (each followed by `extension`); with Picks::several the
// answer may hold several numbers, ranges such as 2-5, or "a" for all, with Picks::one a
// single number. Enter alone chooses nothing.
std::vector<Choice> interactive_select_files(const std::vector<fs::path>& paths,
                                             const std::vector<std::string>& names,
                                             const std::string& extension = "", Picks picks = Picks::several);
struct ScanOptions {
    std::vector<std::string> extensions{};
    std::vector<std::string> exclude_names{};  // stems left out
    std::vector<std::string> exclude_paths{};  // folder names not descended into
    std::string label = "檔案";
    const Logger* logger = nullptr;
    bool auto_select_single = false;
    Picks picks = Picks::several;
};
// Finds matching files below `folder` (recursively) and lets the user choose.
std::vector<Choice> scan_and_select_files(const fs::path& folder, const ScanOptions& options = {});

// A numbered list of options under `title`; Enter takes the default (a 1-based number
// as text). Returns the chosen option's text.
// The question of most such menus.
inline constexpr const char* number_prompt = "💬 請輸入編號";
std::string select_option(const std::string& prompt, const std::vector<std::string>& options,
                          const std::string& default_number = "1", const std::string& title = "");

// Documents offered for download: the menu text and the file's address.
struct RegistryEntry {
    std::string display{};
    std::string url{};
};
// A numbered menu of the entries under `title`; each chosen document is saved in
// `output_dir` under the last component of its address (a present file is kept).
// Returns the paths of the chosen documents that are there afterwards.
std::vector<fs::path> download_and_save_from_registry(const std::vector<RegistryEntry>& registry,
                                                      const fs::path& output_dir, const std::string& title = "",
                                                      const std::string& label_prefix = "",
                                                      const Logger* logger = nullptr);

// ---- editor ----------------------------------------------------------------------
// Opens $VISUAL, else $EDITOR, else vi on the initial text; returns what was saved
// (a leading byte-order mark dropped) without the lines that begin with "#", stripped;
// "" when nothing was entered. Nothing (the reason logged) when the editor could not be
// run or ended with a non-zero status (vim's :cq, a crash): what the file held then is
// no answer. The file of a text that is not empty stays on disk until the command
// settles it with settle_typed_input. A file for the text that cannot be made throws
// std::filesystem::filesystem_error with the system's reason: no editor has run then.
std::optional<std::string> get_user_input_via_editor(const std::string& initial_text,
                                                     const std::string& label = "輸入",
                                                     const Logger* logger = nullptr);
// What the user typed in the editor so far: with `keep` (the command failed after it)
// each file stays, and one line through the editor's logger says where; otherwise the
// files go. Files never settled go when the program ends.
void settle_typed_input(bool keep);

// ---- local files and downloads -----------------------------------------------------
// The maker's repository base address: $VEMTORA_REPO_BASE_URL (through base_url_of), else
// the built-in one.
std::string repo_base_url();
// A base address as the user gives it: an absolute folder path ("/home/me/agy-files"; on
// Windows also "C:\agy-files" or "C:/agy-files") is the file address of that folder, each
// name percent-encoded; anything else is taken as an address, as it is.
std::string base_url_of(std::string_view value, bool windows);
// The address of a file of the maker's repository by its relative path ("_agy/goal/x.yaml").
std::string repo_url(const std::string& relative_path);

// The file's text; a missing file is first downloaded from `url` and saved at `path`
// (written to a temporary name, then renamed; an HTTP error leaves no file). "" when
// the file cannot be had. Never raises for a failed download. The link rule below holds.
std::string load_or_download_content(const fs::path& path, const std::string& url,
                                     const std::string& label = "檔案", const Logger* logger = nullptr);

// ---- the working copy's links ----------------------------------------------------
// A cloned repository chooses the symbolic links it holds, so one rule serves every
// read, write, deletion and search: a path inside the working copy (the current folder)
// whose final target, after every link, lies outside it is refused. What the refusal says
// was not done:
enum class Deed { read, write, remove, offer };
// The one line that refuses `path` for `deed`, naming the link and where it leads;
// nothing when every link on the way stays inside, or when `path` names a place outside
// by itself (absolute elsewhere, or leaving through ".."). A deletion looks at the folders
// on the way only: a link itself may go. A place the user named (NamedPlaces) is the
// user's wherever its links lead; what lies below it follows the rule from there. On
// Windows the line also refuses a read or a write of a name kept for a device, and a
// write of a name that ends in a blank or a dot, whoever named it.
std::optional<std::string> leaves_working_copy(const fs::path& path, Deed deed);
// The link that this rule finds on the way to `path` (relative to the working copy)
// and the place it leads to; nothing when the rule lets the path be.
std::optional<support::LinkOut> link_leading_out(const fs::path& path);
// A path that the repository gives, for a place of its own choosing (a picture a page
// shows, a place that a configuration found by the bare -c search sets), may reach no
// further than the working copy and the places the user named: by its own words (made
// absolute, ".." taken with the part before it) and by where it leads once every link on
// the way is followed. The one line that refuses it for `deed`; nothing when it stays
// there. A place outside is judged by its words alone and never opened.
std::optional<std::string> out_of_reach(const fs::path& path, Deed deed);

// The places the user named for a run (a configuration given with -c PATH and the
// settings in it, a folder given with -o, a file given on the command line), for as long
// as the object lives.
class NamedPlaces {
  public:
    NamedPlaces() = default;
    NamedPlaces(const NamedPlaces&) = delete;
    NamedPlaces& operator=(const NamedPlaces&) = delete;
    ~NamedPlaces();
    void add(const fs::path& place);

  private:
    std::vector<fs::path> added_;
};

// While one lives, the rule judges each folder once and then looks only at a file's own
// name: for a run that reads and writes many files in a few folders (pages, images, an
// index) and runs nothing that could change those folders meanwhile (no agent, no other
// program, no change of the current folder: the one it began in is the working copy until
// it ends). The verdicts go when it ends, or when the places named change.
class SteadyFolders {
  public:
    SteadyFolders();
    SteadyFolders(const SteadyFolders&) = delete;
    SteadyFolders& operator=(const SteadyFolders&) = delete;
    ~SteadyFolders();
};

// ---- local files -------------------------------------------------------------------
// The largest text file of a project that is read whole (16 MiB: README, setup.py,
// sources, manuals, scripts): far beyond any real one, small enough that a wrong file
// cannot exhaust the memory.
inline constexpr std::uintmax_t max_text_bytes = std::uintmax_t{16} << 20;
// The largest answer of the agent that is read (8 MiB): far beyond any document or
// program it writes.
inline constexpr std::uintmax_t max_answer_bytes = std::uintmax_t{8} << 20;

struct ReadOptions {
    std::uintmax_t limit = max_text_bytes;
    bool follow_links = true;  // false: a path that is a link itself, or a hard link, is refused
};
// A file read whole, as every file of the working copy is read: the link rule above, then
// a regular file (no folder, device, FIFO or socket) of at most `limit` bytes.
struct LocalFile {
    enum class Outcome { read, missing, refused };
    Outcome outcome = Outcome::missing;
    std::string bytes{};
    std::string reason{};  // why it was refused, as the user reads it
    bool by_rule = false;  // refused by the rule above, before the file itself was looked at
};
LocalFile read_local_file(const fs::path& path, const ReadOptions& options = {});
// The bytes of a file that the command cannot do without, as read_local_file reads them:
// a folder, or a file it does not read, raises std::runtime_error ("Is a directory: 'x'",
// "cannot read 'x': reason"), which ends the command with the runtime's error report.
std::string read_or_throw(const fs::path& path);
// The line of a refused read: "無法讀取" + label + ": " + path + ": " + reason.
std::string read_refused(const std::string& label, const fs::path& path, const std::string& reason);

// The file's text as read_local_file reads it; "" when it is missing (a warning) or
// refused (an error that says why). Bytes that are not UTF-8 become U+FFFD (a warning).
std::string load_local_file_content(const fs::path& path, const std::string& label = "檔案",
                                    const Logger* logger = nullptr);
// The text without a leading UTF-8 byte-order mark, which some editors (Notepad did by
// default) and agents write.
std::string without_byte_order_mark(std::string text);
// How local_text takes the bytes: as UTF-8, or as an editor or an agent's tools save text
// (support::decode_saved_text: a UTF-8 mark dropped, UTF-16 with its mark decoded).
enum class TextForm { utf8, as_saved };
// The same text of what read_local_file gave for `path`.
std::string local_text(LocalFile file, const fs::path& path, const std::string& label, const Logger* logger,
                       TextForm form = TextForm::utf8);
// Saves through write_file_atomic, after the link rule.
support::Result save_local_file_content(const fs::path& path, const std::string& text,
                                        const std::string& label = "檔案", const Logger* logger = nullptr);
// Deletes the file (never a folder); an absent file is no failure. Nothing is deleted
// through a linked folder that leads out of the working copy (a warning says so when
// something is there).
void remove_file(const fs::path& path);
void remove_directory(const fs::path& path);

// The folder exists afterwards (with its parents); false when it cannot be made or the
// link rule refuses it.
bool setup_output_dir(const fs::path& folder, const Logger* logger = nullptr);
fs::path setup_output_file(const fs::path& folder, const std::string& file_name, const Logger* logger = nullptr);
// folder/stem+suffix, or folder/stem_1+suffix, _2, ... whichever is free. The search gives
// up, with an error line, after max_unique_path_tries names, and at once for a name holding
// a NUL (the system would read it cut short there): nothing is given then, and the caller
// fails with no_unique_path.
inline constexpr int max_unique_path_tries = 10000;
inline constexpr const char* no_unique_path = "找不到可用的檔名";
std::optional<fs::path> get_unique_path(const fs::path& folder, const std::string& stem, const std::string& suffix,
                                        const Logger* logger = nullptr);
// 0 for an existing folder, 1 for an existing file, -1 when nothing is there.
int get_path_type(const fs::path& path, const Logger* logger = nullptr);

struct DirectoryList {
    std::vector<fs::path> paths{};
    std::vector<std::string> names{};
};
struct DirectoryOptions {
    std::vector<std::string> exclude_prefixes{};
    std::vector<std::string> exclude_names{};
    std::vector<std::string> exclude_suffixes{};
};
// Sub-folders of `root_path` that no exclusion hits, sorted by name; a linked one that
// leads out of the working copy is left out, with a warning.
DirectoryList get_directory_list(const fs::path& root_path, const DirectoryOptions& options = {});

struct PackageInfo {
    std::string name = "unknown";
    std::string version = "unknown";
    std::optional<std::string> author{};
};
// name= / version= / author= of ./setup.py; "unknown" for what is not found.
PackageInfo get_package_name_version();
// The console command that setup.py declares (entry_points console_scripts), else `fallback`.
std::string get_cli_name(const fs::path& setup_py, const std::string& fallback);

}  // namespace brenkit::fileIO
