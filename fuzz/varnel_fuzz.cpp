// Fuzzes the file-family rules of the documentation index: path splitting, clean names,
// version keys and their order, reading document entries from a flat configuration, and
// moving entries to the newest real files.
//
// Input: lines. A line "key: value" becomes a top-level configuration key; any other line
// is the path of a real file. The configuration is read in a small fixture folder, so the
// folder scan sees a few real files too.
#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace fs = std::filesystem;
namespace varnel = vemtora::varnel;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void exercise_name(std::string_view name) {
    for (bool windows : {false, true}) {
        auto parts = varnel::split_path(name, windows);
        auto normal = varnel::normalize_path(name, windows);
        // Normalising twice changes nothing (on Windows a colon inside a name, which Windows
        // forbids, may turn into a drive, so such names are left out).
        if (!windows || name.find(':') == std::string_view::npos) check(varnel::normalize_path(normal, windows) == normal);
        check(varnel::file_name_of(name, windows) == (parts.components.empty() ? "" : parts.components.back()));
    }
    auto [stem, extension] = varnel::split_extension(name);
    check(stem + extension == name);
    varnel::clean_version(name);
    auto key = varnel::get_version_key(name);
    check((key <=> key) == 0);
    varnel::parse_document_key(name);
    varnel::decimal_digits(name);
}

// A fixture folder of real files, one family with two versions among them.
fs::path fixture_folder() {
    static const fs::path folder = [] {
        auto path = fs::temp_directory_path() / "vemtora-fuzz-varnel";
        fs::create_directories(path);
        for (const char* name : {"guide-v1.2.html", "guide_v1.10.html", "notes.md", "package.zip", "config.yaml"}) {
            std::ofstream(path / name) << "x";
        }
        return path;
    }();
    return folder;
}

// The configuration is read in the current folder; the fuzzer's own paths stay relative
// to the folder it was started in.
struct InFolder {
    fs::path previous = fs::current_path();
    explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous); }
};

}  // namespace

// Every input is read whole, however long -max_len lets it grow: a large index (thousands
// of entries and files) is a case of its own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brenkit::app_logging::Capture quiet;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto lines = split_lines(text);

    YAML::Node config(YAML::NodeType::Map);
    std::vector<std::string> files;
    for (auto line : lines) {
        exercise_name(line);
        if (auto colon = line.find(": "); colon != std::string_view::npos) {
            config[std::string(line.substr(0, colon))] = brenkit::fileIO::quoted(std::string(line.substr(colon + 2)));
        } else {
            files.emplace_back(line);
        }
    }
    // The order of version keys is a strict weak order: antisymmetric and transitive.
    for (size_t i = 0; i + 2 < files.size() && i < 16; ++i) {
        auto a = varnel::get_version_key(files[i]);
        auto b = varnel::get_version_key(files[i + 1]);
        auto c = varnel::get_version_key(files[i + 2]);
        check((a <=> b) == (0 <=> (b <=> a)));
        if (a <= b && b <= c) check(a <= c);
    }

    InFolder in_fixture(fixture_folder());
    auto [docs, actual_files] = varnel::extract_docs_and_find_actual_files(config);
    actual_files.insert(actual_files.end(), files.begin(), files.end());
    auto unlisted = varnel::update_docs_to_latest_versions(docs, actual_files);
    check(unlisted.size() <= actual_files.size());
    for (const auto& entry : docs) varnel::render_card(entry, fixture_folder());
    return 0;
}
