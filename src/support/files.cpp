#include "support/files.hpp"

#include <fstream>
#include <random>
#include <sstream>

namespace support {

namespace fs = std::filesystem;

std::optional<std::string> read_file(const fs::path& p) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) return std::nullopt;
    std::ifstream f(p, std::ios::binary);
    if (!f) return std::nullopt;
    std::ostringstream ss;
    ss << f.rdbuf();
    if (f.bad()) return std::nullopt;
    return ss.str();
}

namespace {

std::string random_suffix() {
    static std::mt19937_64 rng{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (int i = 0; i < 10; ++i) s += digits[rng() % 36];
    return s;
}

}  // namespace

void write_file_atomic(const fs::path& p, std::string_view data) {
    fs::path dir = p.parent_path();
    fs::path tmp = (dir.empty() ? fs::path(".") : dir) / ("." + p.filename().string() + ".tmp-" + random_suffix());
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) throw fs::filesystem_error("cannot write", tmp, std::make_error_code(std::errc::io_error));
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
        f.flush();
        if (!f) {
            f.close();
            std::error_code ignored;
            fs::remove(tmp, ignored);
            throw fs::filesystem_error("cannot write", tmp, std::make_error_code(std::errc::io_error));
        }
    }
    std::error_code ec;
    fs::rename(tmp, p, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        throw fs::filesystem_error("cannot replace", p, ec);
    }
}

bool make_executable(const fs::path& p, std::string* error) {
#ifdef _WIN32
    (void)p;
    (void)error;
    return true;
#else
    std::error_code ec;
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace, ec);
    if (ec && error) *error = ec.message();
    return !ec;
#endif
}

fs::path make_temp_dir(std::string_view prefix) {
    for (int i = 0; i < 100; ++i) {
        fs::path candidate = fs::temp_directory_path() / (std::string(prefix) + random_suffix());
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) return candidate;
    }
    throw fs::filesystem_error("cannot create a temporary folder", fs::temp_directory_path(),
                               std::make_error_code(std::errc::file_exists));
}

}  // namespace support
