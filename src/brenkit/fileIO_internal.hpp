#pragma once
// Pieces shared by the fileIO source files; not for callers outside the library.
#include <filesystem>
#include <string>

#include "brenkit/app_logging.hpp"

namespace brenkit::fileIO {

// The library's own logger, for the services that take no logger from their caller.
inline const app_logging::Logger& library_log() { return app_logging::lazy_logger("brenkit"); }

// Throws std::runtime_error with leaves_working_copy's reason for a write when there is one.
void refuse_write_out_of_working_copy(const std::filesystem::path& path);

}  // namespace brenkit::fileIO
