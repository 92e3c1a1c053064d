// Files of the maker's repository, fetched once and kept in the working copy.
#include <curl/curl.h>
#include <fmt/format.h>

#include <cctype>
#include <mutex>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"

namespace brenkit::fileIO {

namespace {

// The real address of the maker's repository is not known; this stands in for it and
// VEMTORA_REPO_BASE_URL overrides it.
constexpr const char* default_repo_base_url = "https://raw.githubusercontent.com/vemtora/vemtora/main/";

size_t collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct Fetched {
    bool ok = false;
    std::string body;
    std::string reason;
};

Fetched fetch(const std::string& url) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Fetched result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.reason = "curl_easy_init failed";
        return result;
    }
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FILE);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
    // A stalled server must not hang the command.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "vemtora");

    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        result.reason = error[0] ? error : curl_easy_strerror(code);
    } else if (status >= 400) {
        result.reason = fmt::format("HTTP {}", status);
    } else {
        result.ok = true;
    }
    curl_easy_cleanup(curl);
    if (!result.ok) result.body.clear();
    return result;
}

}  // namespace

std::string repo_base_url() {
    auto value = support::get_env("VEMTORA_REPO_BASE_URL");
    if (value && !value->empty()) return *value;
    return default_repo_base_url;
}

namespace {

// Every byte of a path segment but the unreserved characters of an address is written
// as %XX, so a blank, "#", "?" or "%" in a file name reaches the server as part of the name.
std::string encode_segment(std::string_view segment) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : segment) {
        auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            out += c;
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

}  // namespace

std::string repo_url(const std::string& relative_path) {
    auto base = std::string(support::rstrip(repo_base_url()));
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string_view rel = relative_path;
    while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
    std::vector<std::string> segments;
    for (const auto& segment : support::split(rel, "/")) segments.push_back(encode_segment(segment));
    return base + "/" + support::join(segments, "/");
}

std::string load_or_download_content(const fs::path& path, const std::string& url, const std::string& label,
                                     const Logger* logger) {
    std::error_code ec;
    if (fs::exists(path, ec)) return load_local_file_content(path, label, logger);
    if (url.empty()) {
        if (logger) logger->error(fmt::format("❌ 找不到{}，也沒有下載位址: {}", label, support::utf8_text(path)));
        return "";
    }
    if (logger) logger->info(fmt::format("⏳ 本地找不到{}，正在下載: {}", label, url));
    auto fetched = fetch(url);
    if (!fetched.ok) {
        if (logger) logger->error(fmt::format("❌ 下載{}失敗: {} ({})", label, url, fetched.reason));
        return "";
    }
    try {
        refuse_write_out_of_working_copy(path);
        if (path.has_parent_path()) fs::create_directories(path.parent_path());
        support::write_file_atomic(path, fetched.body);
    } catch (const std::exception& e) {
        if (logger) logger->error(fmt::format("❌ 無法儲存下載的{} {}: {}", label, support::utf8_text(path), support::failure_reason(e)));
        return "";
    }
    if (logger) logger->info(fmt::format("✅ 已下載{}並儲存至: {}", label, support::utf8_text(path)));
    return fetched.body;
}

}  // namespace brenkit::fileIO
