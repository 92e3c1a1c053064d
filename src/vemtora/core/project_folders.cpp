#include "vemtora/core/project_folders.hpp"

#include "brenkit/fileIO.hpp"

namespace vemtora::exchange {

namespace fileIO = brenkit::fileIO;

std::optional<support::Result> list_project_folders(brenkit::fileIO::DirectoryList& folders, const Logger& logger) {
    folders = brenkit::fileIO::get_directory_list(".", {.exclude_prefixes = {".", "_"},
                                                        .exclude_names = {"build", "docs-gen", "dist"},
                                                        .exclude_suffixes = {".egg-info"}});
    if (!folders.paths.empty()) return std::nullopt;
    logger.error("❌ 目前目錄下找不到任何符合條件的專案資料夾。");
    return support::Result::failure("找不到符合條件的專案資料夾。");
}

std::optional<support::Result> choose_project_folder(const brenkit::fileIO::DirectoryList& folders, fs::path& chosen,
                                                     const Logger& logger) {
    logger.info("✅ 💡 提示：請選取一個專案資料夾作為目標");
    auto picked = brenkit::fileIO::interactive_select_files(folders.paths, folders.names, " (資料夾)",
                                                            brenkit::fileIO::Picks::one);
    if (picked.empty()) {
        logger.warning("⚠️ 未選取目標資料夾，程序中斷。");
        return support::Result::failure("未選取目標資料夾。");
    }
    chosen = picked.front().first;
    return std::nullopt;
}

}  // namespace vemtora::exchange
