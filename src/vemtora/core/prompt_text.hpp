#pragma once
// The text of a prompt: paths and references as the agent reads them, the request that
// names the output file, the editor's opening text and the prompt's debug line.
#include <filesystem>
#include <string>

#include "brenkit/app_logging.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// A path as a prompt names it: absolute, with "/" separators. A path whose text could
// change what the prompt says (support::prompt_safe: a line feed that starts a new
// instruction, a backtick or bracket that ends the path's marks) is left out: "" is
// given, and a warning line names the path.
std::string prompt_path(const fs::path& path);

// "@[" + prompt_path(path) + "]".
std::string reference(const fs::path& path);

// The block that ends a prompt and names the output file; it follows the "]" of the
// last reference and ends with a line feed. An output file that prompt_path leaves out
// is refused by agent_pass before the agent runs.
std::string output_section(const fs::path& output_path);

// The output section itself: "【輸出要求】" + `colon` + the instruction to write `what`
// ("生成的手冊內容") to the output file, ending with a line feed.
std::string output_request(const std::string& colon, const std::string& what, const fs::path& output_path);
// The same for an output file that the caller has already named as prompt_path does.
std::string output_request_named(const std::string& colon, const std::string& what, const std::string& named_path);

// The short output request of the commands whose prompts are brief: write the answer to
// the output file with the tool, and nothing else (no line feed at the end).
std::string brief_output_request(const fs::path& output_path);

// The editor's opening text when the user may add a requirement for generating the
// document `document` ("API 手冊"), one line.
std::string generate_requirement_marker(const std::string& document);
// The debug line of the prompt an agent pass is given, after "🔍 Agy Prompt: " or, in
// the commands that show it as a block of its own, under "Prompt:".
void log_prompt(const std::string& prompt, const Logger& logger);
void log_prompt_block(const std::string& prompt, const Logger& logger);

}  // namespace vemtora::exchange
