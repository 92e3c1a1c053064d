#pragma once
// Pieces shared by the fileIO source files; not for callers outside the library.
#include <filesystem>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "brenkit/app_logging.hpp"
#include "support/files.hpp"

namespace brenkit::fileIO {

// The library's own logger, for the services that take no logger from their caller.
inline const app_logging::Logger& library_log() { return app_logging::lazy_logger("brenkit"); }

// Throws std::runtime_error with leaves_working_copy's reason for a write when there is one.
void refuse_write_out_of_working_copy(const std::filesystem::path& path);

// The entries of a folder that a search or a menu may offer, as every walk of the library
// lists them: nothing is left out in silence. A folder that cannot be read, an entry that
// cannot be looked at (a path too long to open) and a name that is not UTF-8 text (it could
// not be written back into a configuration, a page or an archive as it is) are each named
// in a warning through `log`, and the walk goes on with the rest.
std::vector<support::FolderEntry> walk_entries(const std::filesystem::path& folder, const app_logging::Logger& log);

// A document as save_yaml_config writes it: the text of yaml-cpp's emitter (emit_yaml),
// which dump_yaml writes itself for a mapping of simple scalars.
std::string dump_yaml(const YAML::Node& data);
std::string emit_yaml(const YAML::Node& data);

}  // namespace brenkit::fileIO
