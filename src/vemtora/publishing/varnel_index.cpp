// The index page: cards of the entries, the download section and the run that ties the
// scan, the package, the configuration update and the page together.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/html_entities.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace vemtora::varnel {

namespace fileIO = brenkit::fileIO;

const std::string_view CARD_TEMPLATE = R"(            <!-- Document Card -->
            <a href="{file_url}" class="card">
                <span class="file-tag">@{file}</span>
                <div class="card-content">
                    <h2>{icon} {title}</h2>
                    <p>{description}</p>
                </div>
            </a>
)";

const std::string_view INDEX_TEMPLATE = R"(<!DOCTYPE html>
<html lang="en">
<head>
    <meta charset="UTF-8">
    <title>{document_title}</title>
    <style>
        body {
            font-family: 'Segoe UI', Roboto, Helvetica, Arial, sans-serif;
            background-color: #f8f9fa;
            color: #333333;
            margin: 0;
            padding: 0;
            line-height: 1.6;
        }
        .container {
            max-width: 900px;
            margin: 0 auto;
            padding: 40px;
        }
        header {
            display: flex;
            justify-content: space-between;
            align-items: flex-start;
            margin-bottom: 20px;
        }
        header h1 {
            font-size: 2.5rem;
            color: #212529;
            margin: 0 0 10px 0;
        }
        header p {
            color: #6c757d;
            margin: 0;
            font-size: 1.1rem;
        }
        .home-btn {
            text-decoration: none;
            color: #333333;
            font-weight: 600;
            border: 1px solid #dee2e6;
            padding: 8px 16px;
            border-radius: 6px;
            background-color: #ffffff;
            transition: all 0.2s ease;
            box-shadow: 0 2px 4px rgba(0,0,0,0.02);
            white-space: nowrap;
        }
        .home-btn:hover {
            border-color: #007bff;
            color: #007bff;
            transform: translateY(-2px);
            box-shadow: 0 4px 8px rgba(0, 123, 255, 0.1);
        }
        .card-container {
            display: flex;
            flex-direction: column;
            gap: 10px;
        }
        .card {
            display: block;
            text-decoration: none;
            background-color: #ffffff;
            border: 1px solid #dee2e6;
            border-radius: 12px;
            padding: 10px 25px;
            min-height: 50px;
            color: inherit;
            position: relative;
            transition: transform 0.2s ease, border-color 0.2s ease, box-shadow 0.2s ease;
        }
        .card:hover {
            transform: translateY(-4px);
            border-color: #007bff;
            box-shadow: 0 6px 16px rgba(0, 123, 255, 0.12);
        }
        .card-content h2 {
            margin-top: 0;
            margin-bottom: 8px;
            color: #007bff;
            font-size: 1.25rem;
            padding-right: 100px;
        }
        .card-content p {
            margin: 0;
            color: #6c757d;
            line-height: 0.3;
            padding-left: 32px;
        }
        .file-tag {
            position: absolute;
            top: 24px;
            right: 24px;
            background-color: #e9ecef;
            padding: 4px 12px;
            border-radius: 20px;
            font-size: 0.85rem;
            color: #6c757d;
            font-family: 'Consolas', 'Courier New', monospace;
        }
        .download-section {
            text-align: center;
            margin-top: 20px;
        }
        .download-btn {
            display: inline-block;
            margin-top: 15px;
            padding: 10px 20px;
            background-color: #28a745;
            color: white;
            text-decoration: none;
            border-radius: 8px;
            font-weight: bold;
            box-shadow: 0 4px 6px rgba(0,0,0,0.1);
            transition: background-color 0.2s ease, transform 0.2s ease;
        }
        .download-btn:hover {
            background-color: #218838;
            transform: translateY(-2px);
            box-shadow: 0 6px 12px rgba(0,0,0,0.15);
        }
        footer {
            margin-top: 60px;
            padding-top: 20px;
            border-top: 1px solid #dee2e6;
            text-align: center;
            color: #6c757d;
            font-size: 0.9rem;
        }
    </style>
</head>
<body>
    <div class="container">
        <header>
            <div>
                <h1>{document_title}</h1>
                <p>{document_description}</p>
            </div>
            <a href="https://pelsite.example.org/" class="home-btn">🏠 Home</a>
        </header>
        
        <div class="card-container">
{cards_html}        </div>
        
{download_section}
        
        <footer>
            Generated by Vemtora from the project's documentation index.
        </footer>
    </div>
</body>
</html>
)";

namespace {

constexpr std::string_view download_section_template = R"(        <div class="download-section">
            <a href="{download_link}" class="download-btn" download>📥 Download Offline Package (.zip)</a>
        </div>)";

// The entry number after `n` (decimal digits without leading zeros).
std::string number_after(std::string n) {
    for (size_t i = n.size(); i-- > 0;) {
        if (n[i] != '9') return ++n[i], n;
        n[i] = '0';
    }
    return "1" + n;
}

std::string next_entry_number(const Docs& docs) {
    std::optional<std::string> greatest;
    for (const auto& entry : docs) {
        if (!entry.is_download() && (!greatest || compare_decimal(entry.key, *greatest) > 0)) greatest = entry.key;
    }
    return greatest ? number_after(*greatest) : "1";
}

bool is_web_link(std::string_view path) { return path.starts_with("http://") || path.starts_with("https://"); }

// The folder inside the working folder that a relative download link names ("./" for
// none); nothing for a link that leaves the working folder. A web link names none: its
// package stays in the working folder.
std::optional<std::string> package_folder_of(std::string_view link) {
    if (is_web_link(link)) return "./";
    auto parts = split_path(link);
    if (!parts.root.empty()) return std::nullopt;
    std::vector<std::string> folder;
    for (size_t i = 0; i + 1 < parts.components.size(); ++i) {
        if (parts.components[i] != "..") folder.push_back(parts.components[i]);
        else if (folder.empty()) return std::nullopt;
        else folder.pop_back();
    }
    if (!parts.components.empty() && parts.components.back() == "..") return std::nullopt;
    return folder.empty() ? std::string("./") : support::join(folder, "/");
}

// A list or a mapping where a text belongs is shown as the key's default: say so once.
// (No value at all is the empty text here, as the page always showed it.)
void name_values_without_text(const YAML::Node& config) {
    if (!config.IsMap()) return;
    for (const auto& item : config) {
        if (!item.first.IsScalar() || !(item.second.IsSequence() || item.second.IsMap())) continue;
        const std::string& key = item.first.Scalar();
        std::optional<std::string> fallback;
        if (key == "document_title") fallback = "Documentation";
        else if (key == "document_description" || key == download_key) fallback = "";
        else if (auto entry = parse_document_key(key))
            fallback = entry->field == "title" ? "Document " + entry->number : entry->field == "file" ? "#" : "";
        if (fallback) fileIO::warn_wrong_kind(key, item.second, "a text", fileIO::default_used(*fallback));
    }
}

}  // namespace

std::string html_escape(std::string_view text) { return support::html_escape(text, true); }

namespace {

// The scheme a browser reads in the link, lower-cased, or "" for a relative link. A URL
// parser drops C0 controls and blanks at both ends and every tab and line break before
// it looks: " java\tscript:" is "javascript:" to it.
std::string scheme_of(std::string_view link) {
    auto c0_or_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!link.empty() && c0_or_blank(link.front())) link.remove_prefix(1);
    while (!link.empty() && c0_or_blank(link.back())) link.remove_suffix(1);
    std::string scheme;
    for (char c : link) {
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == ':') return support::ascii_lower(scheme);
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool later = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (scheme.empty() || !later)) return "";
        scheme += c;
    }
    return "";
}

}  // namespace

// A local file named like "javascript:alert(1)" must stay a relative link, not a scheme.
std::string safe_href(std::string link) {
    const std::string scheme = scheme_of(link);
    if (!scheme.empty() && scheme != "http" && scheme != "https") link = "./" + link;
    return link;
}

std::string fill_template(std::string_view tmpl, const std::vector<std::pair<std::string_view, std::string>>& values) {
    std::string out;
    out.reserve(tmpl.size());
    size_t pos = 0;
    while (pos < tmpl.size()) {
        auto open = tmpl.find('{', pos);
        if (open == std::string_view::npos) break;
        out.append(tmpl, pos, open - pos);
        pos = open;
        bool replaced = false;
        for (const auto& [name, value] : values) {
            if (tmpl.substr(open + 1).starts_with(name) && tmpl.substr(open + 1 + name.size()).starts_with('}')) {
                out += value;
                pos = open + name.size() + 2;
                replaced = true;
                break;
            }
        }
        if (!replaced) out += tmpl[pos++];
    }
    out.append(tmpl.substr(pos));
    return out;
}

std::string choose_icon(std::string_view title, std::string_view description, std::string_view file) {
    auto text = support::lower(std::string(title) + " " + std::string(description) + " " + std::string(file));
    auto has = [&](std::string_view word) { return text.find(word) != std::string::npos; };
    if (has("log")) return "📟";
    if (has("zip")) return "📦";
    if (has("readme")) return "📜 ";
    if (has("flowchart") || has("flow_chart")) return "🔀";
    return "📄";
}

std::string site_link(std::string_view file_value, const fs::path& working_folder) {
    std::string link(file_value);
    if (file_value == "#" || is_web_link(file_value)) return link;
    try {
        auto absolute = support::generic_utf8_text((working_folder / support::path_from_utf8(file_value)).lexically_normal());
        if (absolute.size() > 1 && absolute.ends_with('/')) absolute.pop_back();
        if (support::lower(absolute).find(site_folder_name) != std::string::npos) {
            // The folder name must end at a separator: "pelsite2" is another folder.
            static const support::Regex site("^(.*)/" + std::string(site_folder_name) + "(?=/|$)",
                                             support::Regex::ignore_case);
            if (auto m = site.search(absolute)) {
                link = std::string(site_base_url) + absolute.substr(m->end());
                log().debug("🔍 自動偵測：成功將 " + std::string(file_value) + " 轉換為 " + link);
                return link;
            }
        }
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ 自動偵測 file_url 發生錯誤: ") + e.what() + "，將使用原始路徑。");
    }
    return safe_href(link);
}

std::string render_card(const DocEntry& entry, const fs::path& working_folder) {
    auto title = entry.title.value_or("Document " + entry.key);
    auto description = entry.description.value_or("");
    auto file = entry.file.value_or("#");
    auto icon = choose_icon(title, description, file);
    log().info("💬 判斷圖示使" + icon + ": " + file);
    return fill_template(CARD_TEMPLATE, {{"file_url", html_escape(site_link(file, working_folder))},
                                         {"file", html_escape(file)},
                                         {"icon", icon},
                                         {"title", html_escape(title)},
                                         {"description", html_escape(description)}});
}

void VarnelApp::add_unlisted_files(Docs& docs, const std::vector<std::string>& unlisted_files) {
    support::echo("\n--- 💬 偵測到未被記載的實體檔案，您可以選擇將其加入索引（可輸入多個編號並依序加入，例如: 2,1） ---");
    std::vector<fs::path> paths;
    std::vector<std::string> names;
    for (const auto& path : unlisted_files) {
        paths.push_back(support::path_from_utf8(path));
        names.push_back(file_name_of(path));
    }
    // Each new entry takes the number after the greatest.
    auto number = next_entry_number(docs);
    for (const auto& [path, name] : fileIO::interactive_select_files(paths, names, "")) {
        support::echo("\n💬 正在為 [" + support::visible_line(name) + "] 設定索引資訊：");
        auto title = support::prompt("請輸入顯示標題 (document_title)");
        auto description = support::prompt("請輸入描述 (document_description)");
        auto file = support::generic_utf8_text(path);
        config["document" + number + "_title"] = fileIO::quoted(title);
        config["document" + number + "_file"] = fileIO::quoted(file);
        config["document" + number + "_description"] = fileIO::quoted(description);
        docs.push_back(DocEntry{number, title, file, description});
        number = number_after(std::move(number));
    }
}

void VarnelApp::sync_config(Docs& docs) {
    auto download = std::find_if(docs.begin(), docs.end(), [](const DocEntry& e) { return e.is_download(); });
    auto configured_link = fileIO::child(config, std::string(download_key));
    if (download != docs.end()) {
        if (!configured_link.IsDefined() || fileIO::text_or(configured_link, "") != download->file.value_or(""))
            config[std::string(download_key)] = fileIO::quoted(download->file.value_or(""));
        docs.erase(download);
    } else if (fileIO::truthy(configured_link)) {
        config[std::string(download_key)] = fileIO::quoted("");
    }

    // Only values that changed are written, so numbers and other kinds keep their form.
    // The values are found in one pass over the mapping, which a lookup by key would walk
    // through each time.
    std::unordered_map<std::string, YAML::Node> values;
    if (config.IsMap())
        for (const auto& item : config)
            if (item.first.IsScalar()) values.emplace(item.first.Scalar(), item.second);
    std::unordered_set<std::string> numbers;
    for (const auto& entry : docs) {
        numbers.insert(entry.key);
        if (!entry.file) continue;
        auto key = "document" + entry.key + "_file";
        auto current = values.find(key);
        if (current == values.end()) {
            config[key] = fileIO::quoted(*entry.file);
        } else if (fileIO::text_or(current->second, "") != *entry.file) {
            YAML::Node value = current->second;  // the mapping's own node, given the new text
            value = fileIO::quoted(*entry.file);
        }
    }

    std::vector<std::string> vanished;
    for (const auto& item : config) {
        if (!item.first.IsScalar()) continue;
        auto parsed = parse_document_key(item.first.Scalar());
        if (parsed && !numbers.count(parsed->number)) vanished.push_back(item.first.Scalar());
    }
    for (const auto& key : vanished) config.remove(key);
}

support::Result VarnelApp::run() {
    log().info("✅ 開始 HTML 索引生成程序。");
    // Nothing else runs while the folder is scanned, packed and indexed: each folder is
    // judged by the link rule once.
    fileIO::SteadyFolders steady;
    name_values_without_text(config);
    auto extracted = extract_docs_and_find_actual_files(config);
    docs_ = std::move(extracted.docs);
    files_ = std::move(extracted.actual_files);

    const std::string packing_error = pack_latest_versions();
    const bool has_config_file = match_files(!packing_error.empty());
    sync_config(docs_);
    // Titles typed at the questions above live only in this write-back.
    auto written_back = support::Result::success("");
    if (has_config_file) written_back = fileIO::save_yaml_config(*config_path, config, &log());

    auto out_path = fileIO::setup_output_file("./", "index.html", &log());
    auto saved = fileIO::save_local_file_content(out_path, index_page(), "HTML 索引", &log());
    if (!saved.ok) return support::Result::failure("Failed to generate index file: " + saved.text);
    if (!packing_error.empty()) return support::Result::failure("Failed to create the offline package: " + packing_error);
    if (!written_back.ok) return support::Result::failure("Failed to save the configuration: " + written_back.text);
    return support::Result::success("Successfully generated Varnel at: " + support::utf8_text(out_path));
}

std::string VarnelApp::pack_latest_versions() {
    auto package = fileIO::text_or(fileIO::child(config, std::string(download_key)), "package.zip");
    if (package.empty() || package == "#") package = "package.zip";
    // The package goes where the download link says, so that the button finds it.
    auto package_folder = package_folder_of(package);
    if (!package_folder) {
        log().warning("⚠️ 下載連結 " + package + " 位於工作資料夾之外，壓縮檔改存於 " + file_name_of(package));
        for (auto& entry : docs_)
            if (entry.is_download()) entry.file = file_name_of(package);
        package_folder = "./";
    }
    const auto archive_name = file_name_of(package);
    std::erase_if(files_, [&](const std::string& path) { return is_archive_scratch(file_name_of(path), archive_name); });
    std::string packing_error;
    auto written = zip_latest_version_files(files_, archive_name, *package_folder, &packing_error);
    if (written) {
        if (std::find(files_.begin(), files_.end(), *written) == files_.end()) files_.push_back(*written);
        // The download link names the archive just written, in the form the page links it.
        for (auto& entry : docs_)
            if (entry.is_download() && entry.file && names_local_file(*entry.file)) entry.file = *written;
    }
    // The page offers a package only where there is one: this run's, or one that an earlier
    // run left and a failed packing kept. A web address is the site's to serve.
    std::error_code ec;
    package_there_ = is_web_link(package) || written ||
                     fs::is_regular_file(support::path_from_utf8(normalize_path(*package_folder + "/" + archive_name)), ec);
    return packing_error;
}

bool VarnelApp::match_files(bool packing_failed) {
    // A packing that failed left the older package, if any, where it was: the download
    // link and its entry stay as configured rather than being dropped for want of a match.
    std::optional<DocEntry> kept_download;
    if (packing_failed) {
        auto download = std::find_if(docs_.begin(), docs_.end(), [](const DocEntry& e) { return e.is_download(); });
        if (download != docs_.end()) {
            kept_download = *download;
            docs_.erase(download);
        }
    }
    auto unlisted_files = update_docs_to_latest_versions(docs_, files_);
    if (kept_download) docs_.push_back(*kept_download);
    bool has_config_file = config_path && !config_path->empty() && fs::exists(*config_path);
    if (!unlisted_files.empty()) {
        log().info("💬 偵測到未在 YAML 中記載且非最新版的檔案列表：" + support::list_repr(unlisted_files));
        if (has_config_file) add_unlisted_files(docs_, unlisted_files);
    }
    return has_config_file;
}

std::string VarnelApp::index_page() {
    std::sort(docs_.begin(), docs_.end(),
              [](const DocEntry& a, const DocEntry& b) { return compare_decimal(a.key, b.key) < 0; });
    auto working_folder = fs::current_path();
    std::string cards_html;
    for (const auto& entry : docs_) cards_html += render_card(entry, working_folder);

    auto title = fileIO::text_or(fileIO::child(config, "document_title"), "Documentation");
    auto description = fileIO::text_or(fileIO::child(config, "document_description"), "");
    auto link_node = fileIO::child(config, std::string(download_key));
    std::string download_section;
    if (fileIO::truthy(link_node) && package_there_) {
        download_section =
            fill_template(download_section_template, {{"download_link", html_escape(safe_href(fileIO::text_or(link_node, "")))}});
    }
    return fill_template(INDEX_TEMPLATE, {{"document_title", html_escape(title)},
                                          {"document_description", html_escape(description)},
                                          {"cards_html", cards_html},
                                          {"download_section", download_section}});
}

}  // namespace vemtora::varnel
