#pragma once
// The documentation index: every entry of a flat YAML configuration is moved to the
// newest version of its document, the newest file of every family is packed into an
// offline zip, and index.html gets one card per document.
#include <yaml-cpp/yaml.h>

#include <compare>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"
#include "vemtora/core/frame.hpp"

namespace vemtora::varnel {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log();

extern const std::string_view DEFAULT_YAML_CONTENT;
extern const std::string_view INDEX_TEMPLATE;
extern const std::string_view CARD_TEMPLATE;
// Files under a folder of this name are published on the documentation site.
inline constexpr std::string_view site_folder_name = "pelsite";
inline constexpr std::string_view site_base_url = "https://pelsite.example.org";

#ifdef _WIN32
inline constexpr bool windows_paths = true;
#else
inline constexpr bool windows_paths = false;
#endif

// ---- file names and versions ------------------------------------------------------

// A path taken apart: a root ("/", or on Windows a drive such as "C:" or "C:/") and the
// components left after repeated separators and "." components are dropped.
struct PathParts {
    std::string root;
    std::vector<std::string> components;
    std::string text() const;  // written with "/"
};
PathParts split_path(std::string_view path, bool windows = windows_paths);
std::string normalize_path(std::string_view path, bool windows = windows_paths);
std::string file_name_of(std::string_view path, bool windows = windows_paths);
// Stem and extension: the extension starts at the last dot that is neither the first
// nor the last character of the name.
std::pair<std::string, std::string> split_extension(std::string_view file_name);

// The family name: the stem without its version tags, then the extension, lower-cased.
std::string clean_version(std::string_view name);

// The numbers of a file name's first version tag, each kept as decimal digits without
// leading zeros, so that a piece of any size compares by its value.
struct VersionKey {
    std::vector<std::string> pieces;
    friend std::strong_ordering operator<=>(const VersionKey& a, const VersionKey& b);
    friend bool operator==(const VersionKey& a, const VersionKey& b) = default;
};
VersionKey get_version_key(std::string_view name);

// Decimal digits of any script as ASCII without leading zeros ("0" for zero); nothing
// when a character is not a decimal digit.
std::optional<std::string> decimal_digits(std::string_view digits);
// Order of two texts made by decimal_digits, by numeric value.
std::strong_ordering compare_decimal(std::string_view a, std::string_view b);

// ---- document entries -------------------------------------------------------------

inline constexpr std::string_view download_key = "download_link";

struct DocEntry {
    std::string key;  // the entry number in decimal, or "download_link"
    std::optional<std::string> title = std::nullopt;
    std::optional<std::string> file = std::nullopt;
    std::optional<std::string> description = std::nullopt;
    bool is_download() const { return key == download_key; }
};
// A top-level key "document<N>_<field>..." read as (N in decimal, field); text after the
// field word is ignored.
struct DocumentKey {
    std::string number;
    std::string field;  // "title", "file" or "description"
};
std::optional<DocumentKey> parse_document_key(std::string_view key);

// Whether an entry's file value names a local file: not empty, "#" or a web link.
bool names_local_file(std::string_view value);

// In the order each entry first occurs in the configuration, the download entry last.
using Docs = std::vector<DocEntry>;

// Moves every local entry to the newest real file of its family (within the entry's own
// folder where that file is there too, else to the file matched); the download entry
// stays on the package it names while that file is there. Drops entries whose
// family has no real file, unless not one numbered entry finds its family: then the
// folder or the scan is wrong and nothing is dropped. Returns the real files whose family no
// entry names, in list order.
std::vector<std::string> update_docs_to_latest_versions(Docs& docs, const std::vector<std::string>& actual_files);

// The regular, visible files directly in `folder` (no links, no index.html, no YAML),
// sorted by file name.
std::vector<std::string> find_actual_files(const fs::path& folder);

struct Extracted {
    Docs docs;
    std::vector<std::string> actual_files;
};
Extracted extract_docs_and_find_actual_files(const YAML::Node& config_dict);

// Packs the newest file of every family into output_dir/<file name of zip_name>, but for
// the archive's own family (the archive and earlier releases of it). Returns
// the archive's path with "/" separators, or nothing when no archive was written (a
// failed packing leaves no archive behind, and an older archive as it was). When the
// packing failed, as opposed to finding nothing to pack, `error_out` receives the reason.
// An ending signal while the archive is written cancels the writing (the same way) and
// raises support::Interrupted. A scratch copy that a killed run left is removed first.
std::optional<std::string> zip_latest_version_files(const std::vector<std::string>& actual_files,
                                                    std::string_view zip_name, std::string_view output_dir = "./",
                                                    std::string* error_out = nullptr);

// Whether `name` is a scratch copy that the archive writer makes beside the archive
// `archive_name` while it writes it ("package.zip.XXXXXX"); an interrupted run leaves one.
bool is_archive_scratch(std::string_view name, std::string_view archive_name);

// ---- index page --------------------------------------------------------------------

// Escapes & < > " ' so the text is safe as element text and as a quoted attribute value.
std::string html_escape(std::string_view text);
// Replaces each "{name}" of `values` in one pass; inserted values are not scanned again.
std::string fill_template(std::string_view tmpl, const std::vector<std::pair<std::string_view, std::string>>& values);
std::string choose_icon(std::string_view title, std::string_view description, std::string_view file);
// The link as an href: a link that a browser would read with a scheme other than http
// or https ("javascript:", "data:") is made a relative path by a leading "./".
std::string safe_href(std::string link);
// The card's link: a local file under the site folder becomes a site address.
std::string site_link(std::string_view file_value, const fs::path& working_folder);
std::string render_card(const DocEntry& entry, const fs::path& working_folder);

class VarnelApp {
  public:
    explicit VarnelApp(YAML::Node config_dict, std::optional<fs::path> config_path = std::nullopt)
        : config(std::move(config_dict)), config_path(std::move(config_path)) {}
    support::Result run();

    YAML::Node config;  // shares its data with the caller's node
    std::optional<fs::path> config_path;

  private:
    // The steps of run(), in order.
    // Packs the newest file of every family where the download link says (in the
    // working folder when it points outside it); the reason the packing failed, or "".
    std::string pack_latest_versions();
    // Matches the entries to the newest files and offers the files no entry lists;
    // whether there is a configuration file to write back.
    bool match_files(bool packing_failed);
    void add_unlisted_files(Docs& docs, const std::vector<std::string>& unlisted_files);
    void sync_config(Docs& docs);
    // The index page of the entries, in the order of their numbers.
    std::string index_page();

    Docs docs_;
    std::vector<std::string> files_;  // the folder's files, the new package among them
    bool package_there_ = false;      // a package stands where the download button would lead
};

// ---- command ---------------------------------------------------------------------

// A -c or --config that is last or followed by an argument beginning with "-" gets an
// empty value, so that a bare -c asks for the configuration.
void rewrite_arguments(std::vector<std::string>& args);
vemtora::CommandDecl cmd_varnel();

}  // namespace vemtora::varnel
