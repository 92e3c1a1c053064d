// Files of the maker's repository, fetched once and kept in the working copy.
#include <curl/curl.h>
#include <fmt/format.h>

#include <cctype>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/library.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
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

// What a download calls in libcurl.
struct Curl {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
};

// libcurl made ready for downloads: "" when it is, else why not.
std::string start_curl(const Curl& c) {
    return c.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK ? "" : "curl_global_init failed";
}

// libcurl, initialised; nothing when it cannot be had, and `reason` says why. It brings
// in some thirty libraries (TLS, compression, name lookups, Kerberos, LDAP) that only a
// download needs, so it is loaded at the first one: every other run starts without them.
// The Windows build links it into the program.
const Curl* curl_library(std::string& reason) {
#ifdef _WIN32
    static const Curl api{&curl_global_init,  &curl_easy_init,     &curl_easy_setopt, &curl_easy_perform,
                          &curl_easy_getinfo, &curl_easy_strerror, &curl_easy_cleanup};
    static const std::string failure = start_curl(api);
    if (!failure.empty()) reason = failure;
    return failure.empty() ? &api : nullptr;
#else
    return support::load_once<Curl>(
        {"libcurl.so.4", "libcurl.4.dylib", "libcurl.so", "libcurl.dylib"},
        [](const support::Library& library, Curl& c) -> std::string {
            if (!(library.function("curl_global_init", c.global_init) && library.function("curl_easy_init", c.easy_init) &&
                  library.function("curl_easy_setopt", c.easy_setopt) &&
                  library.function("curl_easy_perform", c.easy_perform) &&
                  library.function("curl_easy_getinfo", c.easy_getinfo) &&
                  library.function("curl_easy_strerror", c.easy_strerror) &&
                  library.function("curl_easy_cleanup", c.easy_cleanup)))
                return "libcurl lacks a function that downloads need";
            return start_curl(c);
        },
        reason);
#endif
}

struct Fetched {
    bool ok = false;
    std::string body;
    std::string reason;
};

Fetched fetch(const std::string& url) {
    Fetched result;
    const Curl* api = curl_library(result.reason);
    if (!api) return result;
    CURL* curl = api->easy_init();
    if (!curl) {
        result.reason = "curl_easy_init failed";
        return result;
    }
    char error[CURL_ERROR_SIZE] = {};
    api->easy_setopt(curl, CURLOPT_URL, url.c_str());
    api->easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    api->easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    api->easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    api->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // The library found at run time may be older than the headers: a download whose
    // protocols cannot be limited does not start.
#if LIBCURL_VERSION_NUM >= 0x075500
    bool limited = api->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file") == CURLE_OK &&
                   api->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
#else
    bool limited =
        api->easy_setopt(curl, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FILE) == CURLE_OK &&
        api->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS) == CURLE_OK;
#endif
    if (!limited) {
        api->easy_cleanup(curl);
        result.reason = "this libcurl cannot limit the protocols of a download";
        return result;
    }
    // A stalled server must not hang the command.
    api->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    api->easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api->easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    api->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    api->easy_setopt(curl, CURLOPT_USERAGENT, "vemtora");

    CURLcode code = api->easy_perform(curl);
    long status = 0;
    api->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        result.reason = error[0] ? error : api->easy_strerror(code);
    } else if (status >= 400) {
        result.reason = fmt::format("HTTP {}", status);
    } else {
        result.ok = true;
    }
    api->easy_cleanup(curl);
    if (!result.ok) result.body.clear();
    return result;
}

}  // namespace

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

std::string base_url_of(std::string_view value, bool windows) {
    const bool drive = windows && value.size() >= 3 && std::isalpha(static_cast<unsigned char>(value[0])) != 0 &&
                       static_cast<unsigned char>(value[0]) < 0x80 && value[1] == ':' &&
                       (value[2] == '\\' || value[2] == '/');
    if (!drive && !value.starts_with('/')) return std::string(value);
    // The drive ("C:") stands as it is: file:///C:/...
    std::string url = "file://";
    if (drive) {
        url += "/";
        url += value.substr(0, 2);
        value.remove_prefix(2);
    }
    const std::string path = windows ? support::replace_all(value, "\\", "/") : std::string(value);
    for (const auto& name : support::split(path, "/")) {
        if (name.empty()) continue;
        url += '/';
        url += encode_segment(name);
    }
    if (url == "file://") url += "/";  // the root folder itself
    return url;
}

std::string repo_base_url() {
    auto value = support::get_env("VEMTORA_REPO_BASE_URL");
    if (value && !value->empty()) return base_url_of(*value, support::is_windows());
    return default_repo_base_url;
}

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
