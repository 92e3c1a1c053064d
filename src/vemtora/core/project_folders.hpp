#pragma once
// The choice of a project folder among those of the working copy.
#include <filesystem>
#include <optional>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/result.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// The sub-folders of "." that can hold a project (hidden and "_" folders, build output
// and packaging folders left out). Nothing when there is one at least; otherwise the
// error is logged and the failure result is returned.
std::optional<support::Result> list_project_folders(brenkit::fileIO::DirectoryList& folders, const Logger& logger);
// The folder menu with its hint line. Nothing when a folder was chosen (it is put in
// `chosen`); otherwise the warning is logged and the failure result is returned.
std::optional<support::Result> choose_project_folder(const brenkit::fileIO::DirectoryList& folders, fs::path& chosen,
                                                     const Logger& logger);

}  // namespace vemtora::exchange
