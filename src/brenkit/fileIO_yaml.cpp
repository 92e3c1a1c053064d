// YAML services: loading with the scalar rules of a YAML 1.1 safe loader, and writing
// configurations back so that they read the same.
#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"

namespace brenkit::fileIO {

namespace {

// A template file that the user has edited (any file of that name that does not hold the
// template) is moved to a free ".bak" name, with a warning line, before the template is
// written again: the edits are never lost. A file that cannot be moved stops the writing.
void keep_edited_template(const fs::path& path, const std::string& yaml_text) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (!fs::is_regular_file(status) && !fs::is_symlink(status)) return;
    const auto current = read_local_file(path);
    if (current.outcome == LocalFile::Outcome::read && current.bytes == yaml_text) return;
    const std::string name = support::utf8_text(path.filename());
    const auto kept = get_unique_path(path.parent_path(), name, ".bak", &library_log());
    if (!kept) throw std::runtime_error(std::string(no_unique_path) + ": " + name + ".bak");
    fs::rename(path, *kept);
    library_log().warning(fmt::format("⚠️ {} 的內容與範本不同，已將它保留為 {}。", name, support::utf8_text(kept->filename())));
}

}  // namespace

fs::path save_yaml_template(const std::string& yaml_text, const std::string& file_name) {
    auto path = fs::current_path() / support::path_from_utf8(file_name);
    refuse_write_out_of_working_copy(path);
    keep_edited_template(path, yaml_text);
    support::write_file_atomic(path, yaml_text);
    return path;
}

std::optional<YAML::Node> load_yaml_string(const std::string& yaml_text, const std::string& label) {
    try {
        return YAML::Load(yaml_text);
    } catch (const YAML::Exception& e) {
        library_log().error(fmt::format("❌ {} 格式錯誤，無法解析: {}", label, e.what()));
        return std::nullopt;
    }
}

namespace {

// yaml-cpp finds the first copy of a key that a mapping holds twice, where a reader of
// the file expects the later one: the earlier copies go, each later one is named. What
// an earlier copy held is not looked at; a node that aliases share is walked once.
void keep_later_copies(YAML::Node node, const std::string& file, std::unordered_set<const void*>& walked) {
    // Nodes that share one node are told apart by the address of their data (see NodeWriter).
    static const std::string* const no_data = &YAML::Node().Scalar();
    const void* id = &node.Scalar();
    if (id != no_data && !walked.insert(id).second) return;
    if (node.IsSequence()) {
        for (YAML::Node item : node) keep_later_copies(item, file, walked);
        return;
    }
    if (!node.IsMap()) return;
    std::unordered_map<std::string, int> copies;
    for (const auto& kv : node) {
        if (!kv.first.IsScalar()) continue;
        if (++copies[kv.first.Scalar()] > 1)
            library_log().warning(fmt::format("⚠️ Config key '{}' is given again on line {} of {}; the later value is used.",
                                              kv.first.Scalar(), kv.first.Mark().line + 1, file));
    }
    for (const auto& [key, count] : copies)
        for (int i = 1; i < count; ++i) node.remove(key);
    for (auto kv : node) keep_later_copies(kv.second, file, walked);
}

// The texts of a document that `unfit` refuses: in values only, or in keys too.
struct Unfit {
    bool (*unfit)(const std::string& text);
    bool keys;
};

// The key, from the top ("config.output_dir", "config.backup_model[1]"), of the first text
// that `check` refuses.
std::optional<std::string> unfit_key(const YAML::Node& node, const Unfit& check, const std::string& key,
                                     std::unordered_set<const void*>& walked) {
    static const std::string* const no_data = &YAML::Node().Scalar();
    const void* id = &node.Scalar();
    if (id != no_data && !walked.insert(id).second) return std::nullopt;
    if (node.IsScalar()) return check.unfit(node.Scalar()) ? std::optional(key) : std::nullopt;
    if (node.IsSequence()) {
        for (size_t i = 0; i < node.size(); ++i)
            if (auto found = unfit_key(node[i], check, fmt::format("{}[{}]", key, i), walked)) return found;
    } else if (node.IsMap()) {
        for (const auto& kv : node) {
            const std::string name = kv.first.IsScalar() ? kv.first.Scalar() : "?";
            const std::string path = key.empty() ? name : key + "." + name;
            if (check.keys && kv.first.IsScalar() && check.unfit(name)) return path;
            if (auto found = unfit_key(kv.second, check, path, walked)) return found;
        }
    }
    return std::nullopt;
}

// A value holding a NUL character: the system would read a path or an argument as cut
// short there.
constexpr Unfit holds_nul{[](const std::string& text) { return text.find('\0') != std::string::npos; }, false};
// A text that is not UTF-8 cannot be written as it is: the writer would put U+FFFD in its
// place, and a file name would then name a file that is not there.
constexpr Unfit not_utf8{[](const std::string& text) { return !support::is_valid_utf8(text); }, true};

}  // namespace

std::optional<YAML::Node> load_yaml_config(const fs::path& path, bool empty_is_null) {
    const auto& log = library_log();
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (!fs::exists(status)) {
        log.error(fmt::format("❌ 找不到設定檔: {}", support::utf8_text(path)));
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        log.error(fmt::format("❌ 設定檔路徑是資料夾，不是檔案: {}", support::utf8_text(path)));
        return std::nullopt;
    }
    if (auto reason = leaves_working_copy(path, Deed::read)) {
        log.error(fmt::format("❌ 無法讀取設定檔: {}: {}", support::utf8_text(path), *reason));
        return std::nullopt;
    }
    // A device or a FIFO could never end or block forever, and a huge file would be
    // held whole in memory: only a regular file of sane size is read.
    auto read = support::read_regular_file(path, max_config_bytes);
    switch (read.outcome) {
        case support::BoundedRead::Outcome::read: break;
        case support::BoundedRead::Outcome::link:  // links are followed here
        case support::BoundedRead::Outcome::hard_link:
        case support::BoundedRead::Outcome::not_regular:
            log.error(fmt::format("❌ 設定檔不是一般檔案: {}", support::utf8_text(path)));
            return std::nullopt;
        case support::BoundedRead::Outcome::too_large:
            log.error(fmt::format("❌ 設定檔超過 {} MiB 上限: {}", max_config_bytes >> 20, support::utf8_text(path)));
            return std::nullopt;
        case support::BoundedRead::Outcome::missing:  // gone since the look above
        case support::BoundedRead::Outcome::failed:
            log.error(fmt::format("❌ 無法讀取設定檔: {}", support::utf8_text(path)));
            return std::nullopt;
    }
    auto node = load_yaml_string(read.bytes, "設定檔 " + support::utf8_text(path));
    if (!node) return std::nullopt;
    if (empty_is_null && node->IsNull()) return node;
    if (!node->IsMap()) {
        log.error(fmt::format("❌ 設定檔內容不是鍵值對應 (mapping): {}", support::utf8_text(path)));
        return std::nullopt;
    }
    std::unordered_set<const void*> walked;
    keep_later_copies(*node, support::utf8_text(path), walked);
    walked.clear();
    if (auto key = unfit_key(*node, holds_nul, "", walked)) {
        log.error(fmt::format("❌ 設定檔 {} 的設定值 {} 含有 NUL 字元，無法使用。", support::utf8_text(path),
                              support::visible_line(*key)));
        return std::nullopt;
    }
    return node;
}

// ---- scalar resolution --------------------------------------------------------------

namespace {

// The implicit resolvers of a YAML 1.1 safe loader. Note that a float needs a dot and
// a signed exponent ("1e3" and "1.0e3" stay texts), and that "0o17" is not octal there.
const support::Regex& bool_re() {
    static const support::Regex re("yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF");
    return re;
}
const support::Regex& int_re() {
    static const support::Regex re(
        "[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+"
        "|[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+");
    return re;
}
const support::Regex& float_re() {
    static const support::Regex re(
        "[-+]?(?:[0-9][0-9_]*)\\.[0-9_]*(?:[eE][-+][0-9]+)?|\\.[0-9][0-9_]*(?:[eE][-+][0-9]+)?"
        "|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\\.[0-9_]*|[-+]?\\.(?:inf|Inf|INF)|\\.(?:nan|NaN|NAN)");
    return re;
}

ScalarKind resolve_plain(const std::string& s) {
    if (s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL") return ScalarKind::null;
    // Every truth value and number begins with one of these; a text that begins otherwise
    // (a configuration's keys) needs no pattern.
    if (std::string_view("yYnNtTfFoO+-.0123456789").find(s[0]) == std::string_view::npos) return ScalarKind::text;
    if (bool_re().full_match(s)) return ScalarKind::boolean;
    if (int_re().full_match(s)) return ScalarKind::integer;
    if (float_re().full_match(s)) return ScalarKind::floating;
    return ScalarKind::text;
}

ScalarKind kind_of_tag(const std::string& tag) {
    static const std::string prefix = "tag:yaml.org,2002:";
    if (tag.rfind(prefix, 0) != 0) return ScalarKind::text;
    auto name = tag.substr(prefix.size());
    if (name == "null") return ScalarKind::null;
    if (name == "bool") return ScalarKind::boolean;
    if (name == "int") return ScalarKind::integer;
    if (name == "float") return ScalarKind::floating;
    return ScalarKind::text;
}

bool has_nonzero_digit(std::string_view digits) {
    return digits.find_first_of("123456789abcdefABCDEF") != std::string_view::npos;
}

bool defined(const YAML::Node& node) { return node.IsDefined(); }

}  // namespace

ScalarKind scalar_kind(const YAML::Node& node) {
    if (!defined(node) || node.IsNull()) return ScalarKind::null;
    if (!node.IsScalar()) return ScalarKind::text;
    const auto& tag = node.Tag();
    // "?" marks a plain scalar of a loaded document, "" one that was built in code.
    if (tag == "?" || tag.empty()) return resolve_plain(node.Scalar());
    if (tag == "!") return ScalarKind::text;
    return kind_of_tag(tag);
}

YAML::Node quoted(const std::string& text) {
    YAML::Node node(text);
    node.SetTag("!");
    return node;
}

YAML::Node child(const YAML::Node& map, const std::string& key) {
    if (!defined(map) || !map.IsMap()) return YAML::Node(YAML::NodeType::Undefined);
    const YAML::Node& m = map;
    YAML::Node value = m[key];
    if (!defined(value)) return YAML::Node(YAML::NodeType::Undefined);
    return value;
}

bool truthy(const YAML::Node& node) {
    if (!defined(node)) return false;
    if (node.IsSequence() || node.IsMap()) return node.size() > 0;
    const auto& s = node.IsScalar() ? node.Scalar() : std::string();
    switch (scalar_kind(node)) {
        case ScalarKind::null: return false;
        case ScalarKind::boolean: {
            return s == "yes" || s == "Yes" || s == "YES" || s == "true" || s == "True" || s == "TRUE" || s == "on" ||
                   s == "On" || s == "ON";
        }
        case ScalarKind::integer: {
            std::string_view digits = s;
            if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
            if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'b')) digits.remove_prefix(2);
            return has_nonzero_digit(digits);
        }
        case ScalarKind::floating: {
            if (s.find_first_of("iInN") != std::string::npos) return true;  // inf and nan are true
            std::string_view mantissa = std::string_view(s).substr(0, s.find_first_of("eE"));
            return mantissa.find_first_of("123456789") != std::string_view::npos;
        }
        case ScalarKind::text: return !s.empty();
    }
    return false;
}

std::string text_or(const YAML::Node& node, const std::string& fallback) {
    if (!defined(node) || !node.IsScalar()) return fallback;
    return node.Scalar();
}

std::string text_or_default(const YAML::Node& node, const std::string& fallback) {
    if (!truthy(node) || !node.IsScalar()) return fallback;
    return node.Scalar();
}

namespace {

std::string kind_name(const YAML::Node& node) {
    if (!node.IsDefined() || node.IsNull()) return "no value";
    if (node.IsSequence()) return "a list";
    if (node.IsMap()) return "a mapping";
    switch (scalar_kind(node)) {
        case ScalarKind::null: return "no value";
        case ScalarKind::boolean: return "a boolean";
        case ScalarKind::integer:
        case ScalarKind::floating: return "a number";
        case ScalarKind::text: break;
    }
    return "a text";
}

}  // namespace

void warn_wrong_kind(const std::string& key, const YAML::Node& value, const std::string& expected,
                     const std::string& used) {
    library_log().warning(
        fmt::format("⚠️ Config key '{}' should be {} but holds {}; {}.", key, expected, kind_name(value), used));
}

std::string default_used(const std::string& fallback) { return "the default '" + fallback + "' is used"; }

std::string text_setting(const YAML::Node& map, const std::string& key, const std::string& fallback) {
    const YAML::Node value = child(map, key);
    if (!value.IsDefined()) return fallback;
    if (value.IsScalar()) return value.Scalar();
    warn_wrong_kind(key, value, "a text", default_used(fallback));
    return fallback;
}

bool bool_or(const YAML::Node& node, bool fallback) {
    if (!defined(node)) return fallback;
    return truthy(node);
}

// ---- writing ------------------------------------------------------------------------

namespace {

// Nodes sharing one node are told apart by the address of their data: every node that
// shares data returns the same scalar storage, whatever its kind. A node without data
// (built empty in code) has none of its own and is never shared.
const void* identity(const YAML::Node& node) {
    static const std::string* const no_data = &YAML::Node().Scalar();
    if (!defined(node)) return nullptr;
    const void* id = &node.Scalar();
    return id == no_data ? nullptr : id;
}

// A text is written in double quotes, except a key that reads back as a text without them.
bool written_quoted(const YAML::Node& scalar, bool key) {
    return scalar_kind(scalar) == ScalarKind::text && (!key || resolve_plain(scalar.Scalar()) != ScalarKind::text);
}

// A node that a document reaches more than once (an anchor with its aliases) is one
// shared node in yaml-cpp. Walking it at every place it is used would blow a small
// document up into an enormous one ("billion laughs"), so it is written once with an
// anchor and referred to by an alias everywhere else.
class NodeWriter {
  public:
    explicit NodeWriter(const YAML::Node& root) { count(root); }

    void emit(YAML::Emitter& out, const YAML::Node& node, bool key = false) {
        const void* id = identity(node);
        if (id && uses_[id] > 1) {
            auto [it, first] = anchors_.emplace(id, std::to_string(anchors_.size() + 1));
            if (!first) {
                out << YAML::Alias(it->second);
                return;
            }
            out << YAML::Anchor(it->second);
        }
        if (!defined(node) || node.IsNull()) {
            out << YAML::Null;
        } else if (node.IsScalar()) {
            if (written_quoted(node, key)) out << YAML::DoubleQuoted;
            out << node.Scalar();
        } else if (node.IsSequence()) {
            out << YAML::BeginSeq;
            for (const auto& item : node) emit(out, item);
            out << YAML::EndSeq;
        } else if (node.IsMap()) {
            out << YAML::BeginMap;
            for (const auto& kv : node) {
                out << YAML::Key;
                emit(out, kv.first, true);
                out << YAML::Value;
                emit(out, kv.second);
            }
            out << YAML::EndMap;
        }
    }

  private:
    // Every node is entered once, however often it is used.
    void count(const YAML::Node& node) {
        const void* id = identity(node);
        if (id && ++uses_[id] > 1) return;
        if (!defined(node)) return;
        if (node.IsSequence()) {
            for (const auto& item : node) count(item);
        } else if (node.IsMap()) {
            for (const auto& kv : node) {
                count(kv.first);
                count(kv.second);
            }
        }
    }

    std::unordered_map<const void*, size_t> uses_;
    std::unordered_map<const void*, std::string> anchors_;
};

bool plain_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '+' || c == ':';
}

// Appends a scalar as the emitter writes it, where its form is plain to see: false, with
// `out` to be dropped, for one whose form the emitter decides by rules of its own (a
// control or other character it escapes, an explicit tag, a key that takes the long form).
bool append_scalar(std::string& out, const YAML::Node& scalar, bool key) {
    const std::string& tag = scalar.Tag();
    const std::string& text = scalar.Scalar();
    if ((tag != "?" && tag != "!" && !tag.empty()) || text.size() > 1024) return false;
    if (written_quoted(scalar, key)) {
        if (!support::is_valid_utf8(text)) return false;
        out += '"';
        for (size_t pos = 0; pos < text.size();) {
            const size_t start = pos;
            const char32_t c = support::next_code_point(text, pos);
            if (c < 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0xfeff) return false;
            if (c == U'"' || c == U'\\') out += '\\';
            out.append(text, start, pos - start);
        }
        out += '"';
        return true;
    }
    // A plain key, number or truth value: letters, digits and the marks of numbers stand
    // plain, but for a lone "-", a colon at the end and the words of no value.
    if (text.empty() || text == "-" || text.back() == ':' || resolve_plain(text) == ScalarKind::null ||
        !std::all_of(text.begin(), text.end(), plain_character))
        return false;
    out += text;
    return true;
}

// A mapping of scalars, the shape of every command's configuration, written line by line
// as the emitter writes it. The emitter looks at each scalar character by character to
// decide whether it may stand plain, the most of the time a configuration of thousands of
// entries takes to save. Nothing for any other document.
std::optional<std::string> write_flat_mapping(const YAML::Node& data) {
    if (!data.IsMap() || data.size() == 0) return std::nullopt;
    std::unordered_set<const void*> written;
    auto first_use = [&written](const YAML::Node& node) {
        const void* id = identity(node);
        return !id || written.insert(id).second;
    };
    std::string out;
    for (const auto& kv : data) {
        if (!kv.first.IsScalar() || !first_use(kv.first) || !first_use(kv.second)) return std::nullopt;
        if (!append_scalar(out, kv.first, true)) return std::nullopt;
        out += ": ";
        if (!defined(kv.second) || kv.second.IsNull()) out += '~';
        else if (!kv.second.IsScalar() || !append_scalar(out, kv.second, false)) return std::nullopt;
        out += '\n';
    }
    return out;
}

}  // namespace

std::string emit_yaml(const YAML::Node& data) {
    YAML::Emitter out;
    NodeWriter(data).emit(out, data);
    if (!out.good()) throw std::runtime_error(out.GetLastError());
    std::string text = out.c_str();
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

std::string dump_yaml(const YAML::Node& data) {
    if (auto text = write_flat_mapping(data)) return *text;
    return emit_yaml(data);
}

support::Result save_yaml_config(const fs::path& path, const YAML::Node& data, const Logger* logger) {
    try {
        refuse_write_out_of_working_copy(path);
        std::unordered_set<const void*> walked;
        if (auto key = unfit_key(data, not_utf8, "", walked))
            throw std::runtime_error(fmt::format("設定值 {} 不是 UTF-8 文字，無法照原樣寫入", support::visible_line(*key)));
        support::write_file_atomic(path, dump_yaml(data));
    } catch (const std::exception& e) {
        auto message = fmt::format("無法寫入 YAML 檔案 {}: {}", support::utf8_text(path), support::failure_reason(e));
        if (logger) logger->error("❌ " + message);
        return support::Result::failure(message);
    }
    if (logger) logger->debug(fmt::format("🔍 已寫入 YAML 檔案: {}", support::utf8_text(path)));
    return support::Result::success(support::utf8_text(path));
}

}  // namespace brenkit::fileIO
