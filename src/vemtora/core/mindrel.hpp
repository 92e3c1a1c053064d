#pragma once
// Shared services of the AI commands: the model-name table, the agent runner, the
// agent workspace writer, the diff display, the file joiner and the direct client.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"

namespace vemtora::mindrel {

const brenkit::app_logging::Logger& log();

// ---- model-name table ----
// (identifier, display name), in the table's fixed order.
const std::vector<std::pair<std::string, std::string>>& model_map();
inline constexpr std::string_view fallback_model = "Gemini 3.5 Flash (Medium)";

// An identifier or display name (any case, surrounding white space ignored) gives the
// canonical display name; anything else gives the fallback with a warning. The empty
// text comes back unchanged.
std::string resolve_model_name(const std::string& model_val);
std::vector<std::string> resolve_model_name(const std::vector<std::string>& model_val);
// A loaded configuration value: a text or a list (each text element resolved, other
// elements kept); a false value or any other node comes back unchanged.
YAML::Node resolve_model_name(const YAML::Node& model_val);
// The model the user named with -m/--model, resolved; the line that says so is logged.
std::string model_from_option(const std::string& model, const brenkit::app_logging::Logger& logger);

// ---- module state ----
// Whether a Gen AI client library is built in. This build carries none, so the direct
// model client always reports the missing library; every agent call goes through agy.
inline constexpr bool HAS_GENAI = false;

// ---- agent runner ----
// A folder handed to the agent: a path always counts (its text in the platform's
// notation); a text counts when it is not empty and is passed on unchanged.
class AgentFolder {
  public:
    AgentFolder(const std::filesystem::path& p);
    AgentFolder(std::string text) : text_(std::move(text)) {}
    AgentFolder(const char* text) : text_(text) {}
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

inline constexpr std::string_view default_agy_model = "gemini-3.5-flash-m";

struct RunAgyArgs {
    std::optional<std::filesystem::path> file_path = std::nullopt;  // target file: must exist
    std::string prompt = "";
    std::string default_model = std::string(default_agy_model);  // passed to agy as is
    std::optional<std::filesystem::path> goal_path = std::nullopt;
    std::optional<std::filesystem::path> skill_path = std::nullopt;
    std::optional<AgentFolder> output_dir = std::nullopt;
    std::optional<AgentFolder> prj_folder = std::nullopt;
    bool add_dot_dir = false;
};

// The agent program as the search path finds it; nothing when it is not there.
std::optional<std::filesystem::path> find_agy();
// Nothing when `agy` is found; otherwise the line "❌ 系統中找不到 `agy` 指令，..." is
// logged through `logger` and the failure (false, "系統中找不到 `agy` 指令") is given. Every
// AI command asks it before anything else (the frame does, see frame::Binding::uses_agent),
// and the runner asks it again before each run.
std::optional<support::Result> agy_missing(const brenkit::app_logging::Logger& logger);

// Runs `agy` once without interaction and waits for it (no time limit). (true, stdout +
// "\n" + stderr) on exit status 0; otherwise (false, the reason). Of each stream only
// the last 256 KiB are kept. An ending signal meanwhile ends the agent and raises
// support::Interrupted.
support::Result run_agy(const RunAgyArgs& args);

// The agent folders of one call, each once, in the order goal, skill, output folder,
// project folder, target file's folder, ".".
std::vector<std::string> agy_folders(const RunAgyArgs& args);
// The argument vector; with `one_line_prompt` (the Windows form) the prompt's line
// feeds become blanks and its carriage returns are dropped.
std::vector<std::string> agy_command(const RunAgyArgs& args, bool one_line_prompt);

// ---- command-function probe ----
// The name of the first `cmd_` function defined in the file ("" when the file is
// missing or has none). A file that cannot be read as UTF-8 text raises.
std::string extract_function_name(const std::filesystem::path& file_path);

// ---- agent workspace ----
// Writes .agents/skills/<name>/SKILL.md per command, the combined
// .agents/skills/agy-commands/SKILL.md and (when `sync_agents_md`) .agents/AGENTS.md
// from a command set file. Failures are reported through `logger` and never raised.
void sync_agy_commands_to_agents(const std::filesystem::path& file_path,
                                 const brenkit::app_logging::Logger* logger = nullptr, bool sync_agents_md = true);

// ---- diff display ----
struct DiffArgs {
    std::string old_content = "";
    std::string new_content = "";
    std::string from_file = "Original";
    std::string to_file = "Refactored";
};
// Prints the unified diff of the two texts (added lines green, removed lines red, on a
// terminal only), or a note that nothing changed; nothing at all for an empty old text.
void display_content_diff(const DiffArgs& args);

// ---- file joiner ----
// (path, display name without suffix) pairs.
using FileInfo = std::pair<std::filesystem::path, std::string>;
// One fenced block per readable, non-empty file under a "--- 檔案名稱: ... ---" line.
std::string combine_files_content(const std::vector<FileInfo>& file_info_list,
                                  const brenkit::app_logging::Logger* logger = nullptr);

// ---- direct model client ----
// Handle of a direct model client. No client library is built in, so none is ever made
// here; the type lets a caller hand an existing one back through.
struct GenAiClient {
    std::string api_key;
};
struct AiService {
    std::optional<GenAiClient> client;
    std::optional<std::string> error;
};
AiService init_ai_service(const std::optional<GenAiClient>& existing_client = std::nullopt);

// Loads the first `.env` found in `start` or one of its parents into the environment;
// variables already set keep their values. Nothing happens when there is no such file.
void load_dotenv(const std::filesystem::path& start);

namespace detail {
// init_ai_service with the library's availability given, so both paths can be tested.
AiService init_ai_service(bool has_client_library, const std::optional<GenAiClient>& existing_client);
}  // namespace detail

}  // namespace vemtora::mindrel
