// Document entries of the index configuration, the scan of the working folder and the
// offline package.
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <unordered_map>

#include "brenkit/fileIO.hpp"
#include "support/files.hpp"
#include "support/interrupt.hpp"
#include "support/library.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace vemtora::varnel {

namespace fileIO = brenkit::fileIO;

std::optional<DocumentKey> parse_document_key(std::string_view key) {
    static const support::Regex pattern(R"(document(\d+)_(title|file|description))");
    auto m = pattern.match(key);
    if (!m) return std::nullopt;
    auto number = decimal_digits(m->group(1));
    if (!number) return std::nullopt;
    return DocumentKey{*number, std::string(m->group(2))};
}

std::vector<std::string> find_actual_files(const fs::path& folder) {
    fileIO::FindOptions options;
    options.recursive = false;
    options.exclude_paths = {"index.html"};
    options.logger = &log();
    auto found = fileIO::find_files_with_extensions(folder, options);
    std::vector<std::string> names;
    for (const auto& path : found.paths) {
        auto name = support::utf8_text(path.filename());
        // Hidden files (.env, editor state) and links to elsewhere never belong in the package.
        if (name.empty() || name.starts_with(".") || name == "index.html") continue;
        if (fs::is_symlink(fs::symlink_status(path))) continue;
        auto extension = support::lower(split_extension(name).second);
        if (extension == ".yaml" || extension == ".yml") continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::vector<std::string> paths;
    for (const auto& name : names) paths.push_back(normalize_path(support::generic_utf8_text(folder / support::path_from_utf8(name))));
    return paths;
}

Extracted extract_docs_and_find_actual_files(const YAML::Node& config_dict) {
    Extracted result;
    std::unordered_map<std::string, size_t> entry_of;  // entry number -> its place in docs
    if (config_dict.IsMap()) {
        for (const auto& item : config_dict) {
            if (!item.first.IsScalar()) continue;
            auto key = parse_document_key(item.first.Scalar());
            if (!key) continue;
            auto [slot, added] = entry_of.try_emplace(key->number, result.docs.size());
            if (added) result.docs.push_back(DocEntry{key->number});
            auto it = result.docs.begin() + static_cast<std::ptrdiff_t>(slot->second);
            // Lists and mappings are no texts: the entry exists but the field stays unset.
            if (!item.second.IsScalar() && !item.second.IsNull()) continue;
            auto value = fileIO::text_or(item.second, "");
            const auto& field = key->field;
            (field == "title" ? it->title : field == "file" ? it->file : it->description) = value;
        }
    }
    try {
        result.actual_files = find_actual_files("./");
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ 尋找實體檔案失敗: ") + e.what());
        result.actual_files.clear();
    }
    auto link = fileIO::text_or(fileIO::child(config_dict, std::string(download_key)), "");
    if (!link.empty()) result.docs.push_back(DocEntry{std::string(download_key), std::nullopt, link, std::nullopt});
    return result;
}

namespace {

constexpr zip_uint32_t kDeflateLevel = 6;

// What packing calls in libzip.
struct Zip {
    decltype(&zip_open) open = nullptr;
    decltype(&zip_close) close = nullptr;
    decltype(&zip_discard) discard = nullptr;
    decltype(&zip_strerror) strerror = nullptr;
    decltype(&zip_error_strerror) error_strerror = nullptr;
    decltype(&zip_error_fini) error_fini = nullptr;
    decltype(&zip_source_file) source_file = nullptr;
    decltype(&zip_source_free) source_free = nullptr;
    decltype(&zip_file_add) file_add = nullptr;
    decltype(&zip_set_file_compression) set_file_compression = nullptr;
    decltype(&zip_register_cancel_callback_with_state) register_cancel_callback_with_state = nullptr;
    decltype(&zip_error_init) error_init = nullptr;
    decltype(&zip_source_buffer_create) source_buffer_create = nullptr;
    decltype(&zip_open_from_source) open_from_source = nullptr;
    decltype(&zip_source_keep) source_keep = nullptr;
    decltype(&zip_source_open) source_open = nullptr;
    decltype(&zip_source_read) source_read = nullptr;
    decltype(&zip_source_close) source_close = nullptr;
    decltype(&zip_source_error) source_error = nullptr;
};

// libzip; nothing when it cannot be had, and `reason` says why. It brings in OpenSSL's
// libcrypto, bzip2 and zlib, a third of what every start of the program would load, and
// only packing needs it: it is loaded when the first package is written. The Windows build
// links it into the program.
const Zip* zip_library(std::string& reason) {
#ifdef _WIN32
    (void)reason;
    static const Zip api{&zip_open,          &zip_close,           &zip_discard,
                         &zip_strerror,      &zip_error_strerror,  &zip_error_fini,
                         &zip_source_file,   &zip_source_free,     &zip_file_add,
                         &zip_set_file_compression, &zip_register_cancel_callback_with_state,
                         &zip_error_init,    &zip_source_buffer_create, &zip_open_from_source,
                         &zip_source_keep,   &zip_source_open,     &zip_source_read,
                         &zip_source_close,  &zip_source_error};
    return &api;
#else
    return support::load_once<Zip>(
        {"libzip.so.4", "libzip.so.5", "libzip.5.dylib", "libzip.4.dylib", "libzip.so", "libzip.dylib"},
        [](const support::Library& library, Zip& z) -> std::string {
            bool complete =
                library.function("zip_open", z.open) && library.function("zip_close", z.close) &&
                library.function("zip_discard", z.discard) && library.function("zip_strerror", z.strerror) &&
                library.function("zip_error_strerror", z.error_strerror) &&
                library.function("zip_error_fini", z.error_fini) && library.function("zip_source_file", z.source_file) &&
                library.function("zip_source_free", z.source_free) && library.function("zip_file_add", z.file_add) &&
                library.function("zip_set_file_compression", z.set_file_compression) &&
                library.function("zip_register_cancel_callback_with_state", z.register_cancel_callback_with_state) &&
                library.function("zip_error_init", z.error_init) &&
                library.function("zip_source_buffer_create", z.source_buffer_create) &&
                library.function("zip_open_from_source", z.open_from_source) &&
                library.function("zip_source_keep", z.source_keep) && library.function("zip_source_open", z.source_open) &&
                library.function("zip_source_read", z.source_read) && library.function("zip_source_close", z.source_close) &&
                library.function("zip_source_error", z.source_error);
            return complete ? "" : "libzip lacks a function that packing needs";
        },
        reason);
#endif
}

// Whether a file named like the archive writer's scratch copy can only be what a killed
// run left: empty, or the start of an archive without its end, which the writer writes
// last. A whole archive, or any other file of the user's that happens to be named so,
// is no such leftover.
bool unfinished_archive(const Zip& zip, const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) return false;
    const auto size = fs::file_size(path, ec);
    if (ec) return false;
    if (size == 0) return true;
    char head[4] = {};
    std::ifstream(path, std::ios::binary).read(head, sizeof head);
    if (std::string_view(head, sizeof head) != std::string_view("PK\3\4", 4)) return false;
    int error_code = 0;
    zip_t* archive = zip.open(support::utf8_text(path).c_str(), ZIP_RDONLY, &error_code);
    if (!archive) return true;
    zip.discard(archive);
    return false;
}

// A run killed while libzip wrote the archive's scratch copy beside it (as runs did before
// the archive was made in memory) left that copy there; it goes before the next archive
// is written there.
void remove_killed_runs_scratch(const Zip& zip, const fs::path& folder, const std::string& archive_name) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? fs::path(".") : folder, ec)) {
        const std::string name = support::utf8_text(entry.path().filename());
        if (!is_archive_scratch(name, archive_name) || !unfinished_archive(zip, entry.path())) continue;
        if (fs::remove(entry.path(), ec)) log().info("✅ 已移除先前中斷的打包暫存檔：" + name);
    }
}

// The archive's writing asks this between its pieces: an ending signal stops it.
int cancel_on_interrupt(zip_t*, void* watch) { return static_cast<const support::InterruptWatch*>(watch)->signal() != 0; }

}  // namespace

bool is_archive_scratch(std::string_view name, std::string_view archive_name) {
    constexpr size_t random_part = 6;
    if (name.size() != archive_name.size() + 1 + random_part) return false;
    if (support::lower(name.substr(0, archive_name.size())) != support::lower(archive_name)) return false;
    if (name[archive_name.size()] != '.') return false;
    auto tail = name.substr(archive_name.size() + 1);
    return std::all_of(tail.begin(), tail.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

std::optional<std::string> zip_latest_version_files(const std::vector<std::string>& actual_files,
                                                    std::string_view zip_name, std::string_view output_dir,
                                                    std::string* error_out) {
    // Newest member of every family, families in order of first appearance.
    std::vector<std::string> families;
    std::map<std::string, std::pair<std::string, VersionKey>> newest;
    for (const auto& path : actual_files) {
        auto name = file_name_of(path);
        auto family = clean_version(name);
        auto key = get_version_key(name);
        auto it = newest.find(family);
        if (it == newest.end()) {
            families.push_back(family);
            newest.emplace(family, std::pair{path, std::move(key)});
        } else if (key > it->second.second) {
            it->second = {path, std::move(key)};
        }
    }
    // The archive's own family holds the archive and the user's earlier releases of it:
    // none of them belongs in the new one.
    auto archive_name = file_name_of(zip_name);
    auto archive_family = clean_version(archive_name);
    std::vector<std::string> files;
    for (const auto& family : families) {
        if (family != archive_family) files.push_back(newest.at(family).first);
    }
    if (files.empty()) {
        log().warning("⚠️ 沒有任何需要打包的檔案。");
        return std::nullopt;
    }

    auto archive_path = normalize_path(std::string(output_dir) + "/" + archive_name);
    fs::path native = support::path_from_utf8(archive_path).make_preferred();
    // The archive, its writer's scratch copy and the clean-up of an older one stay in the
    // working copy: a link there is the repository's choice, not the user's.
    if (auto reason = fileIO::leaves_working_copy(native, fileIO::Deed::write)) {
        log().error("❌ 打包壓縮檔失敗: " + *reason);
        if (error_out) *error_out = *reason;
        return std::nullopt;
    }
    std::string unavailable;
    const Zip* zip = zip_library(unavailable);
    if (!zip) {
        log().error("❌ 打包壓縮檔失敗: " + unavailable);
        if (error_out) *error_out = unavailable;
        return std::nullopt;
    }
    if (native.has_parent_path()) fs::create_directories(native.parent_path());

    remove_killed_runs_scratch(*zip, native.parent_path(), archive_name);

    log().info("📦 正在打包最新檔案至壓縮檔：" + support::utf8_text(native) + " ...");
    auto refuse = [&](const std::string& reason) -> std::optional<std::string> {
        log().error("❌ 打包壓縮檔失敗: " + reason);
        if (error_out) *error_out = reason;
        return std::nullopt;
    };
    // The archive is written into memory and then saved like every other file: the save
    // replaces an older package that a viewer holds open, where libzip's own rename of its
    // scratch copy would be refused, and it names the reason of a failed one.
    zip_error_t error;
    zip->error_init(&error);
    zip_source_t* buffer = zip->source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = buffer ? zip->open_from_source(buffer, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) {
        if (buffer) zip->source_free(buffer);
        std::string reason = zip->error_strerror(&error);
        zip->error_fini(&error);
        return refuse(reason);
    }
    zip->error_fini(&error);
    // The buffer outlives the archive, which hands it the finished archive as it closes.
    zip->source_keep(buffer);
    struct Freed {
        const Zip* zip;
        zip_source_t* buffer;
        ~Freed() { zip->source_free(buffer); }
    } freed{zip, buffer};
    // An interrupt does not end the program while the archive is written: it cancels the
    // writing, and the run unwinds with the older package as it was.
    support::InterruptWatch interrupt;
    // libzip writes the archive only at zip_close; discarding it on any failure leaves
    // no half-written package (and an older one untouched).
    auto fail = [&](const std::string& reason) -> std::optional<std::string> {
        zip->discard(archive);
        interrupt.check();
        return refuse(reason);
    };
    for (const auto& path : files) {
        zip_source_t* source = zip->source_file(archive, support::utf8_text(support::path_from_utf8(path).make_preferred()).c_str(), 0, -1);
        if (!source) return fail(path + ": " + zip->strerror(archive));
        auto index = zip->file_add(archive, file_name_of(path).c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip->source_free(source);
            return fail(path + ": " + zip->strerror(archive));
        }
        // zlib's own default level, the one zip and Python's zipfile use; libzip's default
        // (9) costs about twice the time for an archive a few percent smaller.
        if (zip->set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kDeflateLevel) != 0)
            return fail(path + ": " + zip->strerror(archive));
        log().info("✅ 已加入壓縮包: " + path);
    }
    zip->register_cancel_callback_with_state(archive, cancel_on_interrupt, nullptr, &interrupt);
    if (zip->close(archive) != 0) return fail(zip->strerror(archive));
    interrupt.check();
    std::string bytes;
    if (zip->source_open(buffer) < 0) return refuse(zip->error_strerror(zip->source_error(buffer)));
    char chunk[65536];
    zip_int64_t n = 0;
    while ((n = zip->source_read(buffer, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(n));
    zip->source_close(buffer);
    if (n < 0) return refuse(zip->error_strerror(zip->source_error(buffer)));
    try {
        support::write_file_atomic(native, bytes);
    } catch (const std::exception& e) {
        return refuse(support::utf8_text(native) + ": " + support::failure_reason(e));
    }
    log().info("🎉 成功建立壓縮包，共打包 " + std::to_string(files.size()) + " 個檔案！");
    return archive_path;
}

}  // namespace vemtora::varnel
