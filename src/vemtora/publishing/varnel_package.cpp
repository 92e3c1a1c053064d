// Document entries of the index configuration, the scan of the working folder and the
// offline package.
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

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

// zlib's own default level, the one zip and Python's zipfile use; libzip's default (9)
// costs about twice the time for an archive a few percent smaller.
constexpr int kDeflateLevel = 6;

// What packing calls in libzip, as (function, field of Zip).
#define VEMTORA_ZIP_FUNCTIONS(X)                                                                                \
    X(zip_open, open) X(zip_close, close) X(zip_discard, discard) X(zip_strerror, strerror)                    \
    X(zip_error_init, error_init) X(zip_error_strerror, error_strerror) X(zip_error_fini, error_fini)           \
    X(zip_error_set, error_set) X(zip_error_to_data, error_to_data) X(zip_error_code_zip, error_code_zip)        \
    X(zip_error_code_system, error_code_system) X(zip_source_file, source_file)                                \
    X(zip_source_function, source_function) X(zip_source_buffer_create, source_buffer_create)                  \
    X(zip_open_from_source, open_from_source) X(zip_source_keep, source_keep) X(zip_source_free, source_free)   \
    X(zip_source_open, source_open) X(zip_source_read, source_read) X(zip_source_close, source_close)           \
    X(zip_source_stat, source_stat) X(zip_source_error, source_error)                                          \
    X(zip_source_get_file_attributes, source_get_file_attributes) X(zip_file_add, file_add)                    \
    X(zip_set_file_compression, set_file_compression)                                                          \
    X(zip_register_cancel_callback_with_state, register_cancel_callback_with_state)

struct Zip {
#define VEMTORA_ZIP_FIELD(name, field) decltype(&name) field = nullptr;
    VEMTORA_ZIP_FUNCTIONS(VEMTORA_ZIP_FIELD)
#undef VEMTORA_ZIP_FIELD
};

// What packing calls in zlib: one deflate stream for every member of the package.
struct Zlib {
    decltype(&::deflateInit2_) init = nullptr;
    decltype(&::deflate) compress = nullptr;
    decltype(&::deflateReset) reset = nullptr;
    decltype(&::deflateEnd) end = nullptr;
    decltype(&::crc32) checksum = nullptr;
};

// libzip; nothing when it cannot be had, and `reason` says why. It brings in OpenSSL's
// libcrypto, bzip2 and zlib, a third of what every start of the program would load, and
// only packing needs it: it is loaded when the first package is written. The Windows build
// links it into the program.
const Zip* zip_library(std::string& reason) {
#ifdef _WIN32
    (void)reason;
    static const Zip api = [] {
        Zip z;
#define VEMTORA_ZIP_LINKED(name, field) z.field = &name;
        VEMTORA_ZIP_FUNCTIONS(VEMTORA_ZIP_LINKED)
#undef VEMTORA_ZIP_LINKED
        return z;
    }();
    return &api;
#else
    return support::load_once<Zip>(
        {"libzip.so.4", "libzip.so.5", "libzip.5.dylib", "libzip.4.dylib", "libzip.so", "libzip.dylib"},
        [](const support::Library& library, Zip& z) -> std::string {
            bool complete = true;
#define VEMTORA_ZIP_LOADED(name, field) complete = complete && library.function(#name, z.field);
            VEMTORA_ZIP_FUNCTIONS(VEMTORA_ZIP_LOADED)
#undef VEMTORA_ZIP_LOADED
            return complete ? "" : "libzip lacks a function that packing needs";
        },
        reason);
#endif
}

// zlib, which libzip brings in: loaded with it (the Windows build links it in).
const Zlib* zlib_library(std::string& reason) {
#ifdef _WIN32
    (void)reason;
    static const Zlib api{&deflateInit2_, &deflate, &deflateReset, &deflateEnd, &crc32};
    return &api;
#else
    return support::load_once<Zlib>(
        {"libz.so.1", "libz.1.dylib", "libz.so", "libz.dylib"},
        [](const support::Library& library, Zlib& z) -> std::string {
            bool complete = library.function("deflateInit2_", z.init) && library.function("deflate", z.compress) &&
                            library.function("deflateReset", z.reset) && library.function("deflateEnd", z.end) &&
                            library.function("crc32", z.checksum);
            return complete ? "" : "zlib lacks a function that packing needs";
        },
        reason);
#endif
}

// Kinds of file whose content is compressed already (pictures, sound, video, archives,
// office documents, fonts): deflate would spend most of the packing's time on them and
// make them no smaller, so they are stored as they are, as zip's -n list of suffixes does.
bool already_compressed(std::string_view file_name) {
    static const std::unordered_set<std::string_view> kinds = {
        ".7z",  ".aac",  ".apk",  ".avif", ".br",   ".bz2",  ".cab",  ".docx", ".epub", ".flac", ".gif",
        ".gz",  ".heic", ".jar",  ".jpeg", ".jpg",  ".lz",   ".lz4",  ".lzma", ".m4a",  ".m4v",  ".mkv",
        ".mov", ".mp3",  ".mp4",  ".odp",  ".ods",  ".odt",  ".oga",  ".ogg",  ".ogv",  ".opus", ".png",
        ".pptx", ".rar", ".tbz2", ".tgz",  ".txz",  ".webm", ".webp", ".whl",  ".woff", ".woff2", ".xlsx",
        ".xz",  ".z",    ".zip",  ".zst"};
    return kinds.count(support::ascii_lower(split_extension(file_name).second)) > 0;
}

// A deflate stream at zip's own level, set up once for the package and reset for each
// member it compresses: its state is allocated once, not once per file.
class Compressor {
  public:
    Compressor(const Zlib& zlib, int window_bits, int memory_level) : zlib(zlib), input(size_t{1} << window_bits) {
        ready_ = zlib.init(&stream, kDeflateLevel, Z_DEFLATED, -window_bits, memory_level, Z_DEFAULT_STRATEGY,
                           ZLIB_VERSION, static_cast<int>(sizeof stream)) == Z_OK;
    }
    ~Compressor() {
        if (ready_) zlib.end(&stream);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    bool ready() const { return ready_; }

    const Zlib& zlib;
    z_stream stream{};
    std::vector<unsigned char> input;  // as large as the window
    bool in_use = false;               // a member is being deflated

  private:
    bool ready_ = false;
};

// The package's compressors. A reset clears the stream's hash table, 64 KB at zip's
// sizes, which costs a file of a few bytes far more than its deflating: a file that fits
// in a 4 KB window goes to a stream sized for such files, whose table is a quarter of
// that and which finds the same matches in it.
struct Compressors {
    explicit Compressors(const Zlib& zlib) : small(zlib, 12, 6), large(zlib, MAX_WBITS, 8) {}
    bool ready() const { return small.ready() && large.ready(); }
    Compressor& for_size(std::optional<zip_uint64_t> size) { return size && *size <= small.input.size() ? small : large; }

    Compressor small, large;
};

// A member to deflate, as a libzip source: libzip's own source of the file reads it and
// gives its time and mode, the package's compressor deflates what it reads, and libzip
// copies the deflated data into the archive as it is.
class DeflatedMember {
  public:
    DeflatedMember(const Zip& zip, Compressors& compressors, zip_source_t* file)
        : zip_(zip), compressors_(compressors), file_(file) {
        zip.error_init(&error_);
    }
    ~DeflatedMember() {
        zip_.source_free(file_);
        zip_.error_fini(&error_);
    }
    DeflatedMember(const DeflatedMember&) = delete;
    DeflatedMember& operator=(const DeflatedMember&) = delete;

    static zip_int64_t call(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* member = static_cast<DeflatedMember*>(state);
        switch (command) {
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_READABLE | ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_GET_FILE_ATTRIBUTES);
            case ZIP_SOURCE_OPEN: return member->open();
            case ZIP_SOURCE_READ: return member->read(static_cast<unsigned char*>(data), length);
            case ZIP_SOURCE_CLOSE: return member->close();
            case ZIP_SOURCE_STAT: return member->stat(data, length);
            case ZIP_SOURCE_GET_FILE_ATTRIBUTES: return member->attributes(data, length);
            case ZIP_SOURCE_ERROR: return member->zip_.error_to_data(&member->error_, data, length);
            case ZIP_SOURCE_FREE: delete member; return 0;
            default: return member->fail(ZIP_ER_OPNOTSUPP);
        }
    }

  private:
    zip_int64_t fail(int zip_error, int system_error = 0) {
        zip_.error_set(&error_, zip_error, system_error);
        return -1;
    }
    zip_int64_t fail_from_file() {
        zip_error_t* reason = zip_.source_error(file_);
        return fail(zip_.error_code_zip(reason), zip_.error_code_system(reason));
    }

    zip_int64_t open() {
        zip_stat_t st;
        if (zip_.source_stat(file_, &st) < 0) return fail_from_file();
        Compressor& compressor = compressors_.for_size(st.valid & ZIP_STAT_SIZE ? std::optional(st.size) : std::nullopt);
        if (compressor.in_use) return fail(ZIP_ER_INUSE);
        if (zip_.source_open(file_) < 0) return fail_from_file();
        if (compressor.zlib.reset(&compressor.stream) != Z_OK) {
            zip_.source_close(file_);
            return fail(ZIP_ER_ZLIB);
        }
        compressor.in_use = true;
        compressor_ = &compressor;
        crc_ = compressor.zlib.checksum(0, nullptr, 0);
        size_ = 0;
        input_ended_ = finished_ = false;
        return 0;
    }

    zip_int64_t read(unsigned char* out, zip_uint64_t length) {
        Compressor& compressor = *compressor_;
        z_stream& stream = compressor.stream;
        stream.next_out = out;
        stream.avail_out = static_cast<uInt>(std::min<zip_uint64_t>(length, UINT_MAX));
        const uInt room = stream.avail_out;
        while (stream.avail_out > 0 && !finished_) {
            if (stream.avail_in == 0 && !input_ended_) {
                zip_int64_t got = zip_.source_read(file_, compressor.input.data(), compressor.input.size());
                if (got < 0) return fail_from_file();
                input_ended_ = got == 0;
                crc_ = compressor.zlib.checksum(crc_, compressor.input.data(), static_cast<uInt>(got));
                size_ += static_cast<zip_uint64_t>(got);
                stream.next_in = compressor.input.data();
                stream.avail_in = static_cast<uInt>(got);
            }
            const int status = compressor.zlib.compress(&stream, input_ended_ ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_END) finished_ = true;
            else if (status != Z_OK && status != Z_BUF_ERROR) return fail(ZIP_ER_ZLIB, status);
        }
        return room - stream.avail_out;
    }

    zip_int64_t close() {
        if (compressor_) {
            compressor_->in_use = false;
            compressor_->stream.avail_in = 0;
            compressor_ = nullptr;
        }
        return zip_.source_close(file_) < 0 ? fail_from_file() : 0;
    }

    // The file's own facts, with the method of what this source gives; the checksum and
    // the size once the whole file has been read.
    zip_int64_t stat(void* data, zip_uint64_t length) {
        if (length < sizeof(zip_stat_t)) return fail(ZIP_ER_INTERNAL);
        zip_stat_t st;
        if (zip_.source_stat(file_, &st) < 0) return fail_from_file();
        st.valid &= ~(ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC);
        st.comp_method = ZIP_CM_DEFLATE;
        st.encryption_method = ZIP_EM_NONE;
        st.valid |= ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        if (finished_) {
            st.size = size_;
            st.crc = static_cast<zip_uint32_t>(crc_);
            st.valid |= ZIP_STAT_SIZE | ZIP_STAT_CRC;
        }
        std::memcpy(data, &st, sizeof st);
        return sizeof st;
    }

    zip_int64_t attributes(void* data, zip_uint64_t length) {
        if (length < sizeof(zip_file_attributes_t)) return fail(ZIP_ER_INTERNAL);
        if (zip_.source_get_file_attributes(file_, static_cast<zip_file_attributes_t*>(data)) < 0) return fail_from_file();
        return sizeof(zip_file_attributes_t);
    }

    const Zip& zip_;
    Compressors& compressors_;
    Compressor* compressor_ = nullptr;  // the one deflating the member while it is open
    zip_source_t* file_;
    zip_error_t error_;
    uLong crc_ = 0;
    zip_uint64_t size_ = 0;
    bool input_ended_ = false;
    bool finished_ = false;
};

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
    const Zlib* zlib = zip ? zlib_library(unavailable) : nullptr;
    // Every member is deflated while the archive is closed: the compressors outlive it.
    std::optional<Compressors> compressors;
    if (zlib && !compressors.emplace(*zlib).ready()) unavailable = "zlib cannot set up its compressor";
    if (!zip || !zlib || !compressors->ready()) {
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
        const std::string name = file_name_of(path);
        zip_source_t* source = zip->source_file(archive, support::utf8_text(support::path_from_utf8(path).make_preferred()).c_str(), 0, -1);
        if (!source) return fail(path + ": " + zip->strerror(archive));
        const bool stored = already_compressed(name);
        if (!stored) {
            auto* member = new DeflatedMember(*zip, *compressors, source);  // owns the file's source
            source = zip->source_function(archive, &DeflatedMember::call, member);
            if (!source) {
                delete member;
                return fail(path + ": " + zip->strerror(archive));
            }
        }
        auto index = zip->file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip->source_free(source);
            return fail(path + ": " + zip->strerror(archive));
        }
        if (stored && zip->set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0)
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
