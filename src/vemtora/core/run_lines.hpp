#pragma once
// The lines that open a run of the AI commands and the results that end it, as they word
// them.
#include <filesystem>
#include <string>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// The failure result of an editor that did not end normally (its reason is logged).
support::Result editor_failed();
// The failure result of a file menu left without a choice, or of a scan that found nothing.
support::Result no_file_chosen();
// The success result of a run that wrote the file `file_name`: "成功產出: " + the name.
support::Result produced(const std::string& file_name);

// The lines of a run that writes a new document or refactors one: the file it will write
// (`out_path`) or the one picked for refactoring (`picked`, as the command names it), the
// module name found for the prompt (debug) and the requirement the user typed.
void log_generate_mode(const fs::path& out_path, const Logger& logger);
void log_refactor_mode(const std::string& picked, const Logger& logger);
void log_module_name(const std::string& module_name, const Logger& logger);
void log_requirement(const std::string& requirement, const Logger& logger);

}  // namespace vemtora::exchange
