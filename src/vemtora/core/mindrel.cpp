#include "vemtora/core/mindrel.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/regex.hpp"
#include "support/sequence_matcher.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"

namespace vemtora::mindrel {

namespace fs = std::filesystem;
using brenkit::app_logging::Logger;

namespace {

// A path as text the way the platform's path type prints it lexically: empty and "."
// components dropped, no trailing separator, "." for nothing at all.
std::string path_text(const fs::path& p) { return support::utf8_text(support::lexical_path(p)); }

std::string parent_text(const fs::path& p) {
    return support::utf8_text(support::parent_or_dot(support::lexical_path(p)));
}

}  // namespace

AgentFolder::AgentFolder(const fs::path& p) : text_(path_text(p)) {}

// ---- agent runner ----

std::vector<std::string> agy_folders(const RunAgyArgs& args) {
    std::vector<std::string> dirs;
    if (args.goal_path) dirs.push_back(parent_text(*args.goal_path));
    if (args.skill_path) dirs.push_back(parent_text(*args.skill_path));
    if (args.output_dir && !args.output_dir->text().empty()) dirs.push_back(args.output_dir->text());
    if (args.prj_folder && !args.prj_folder->text().empty()) dirs.push_back(args.prj_folder->text());
    if (args.file_path) dirs.push_back(parent_text(*args.file_path));
    if (args.add_dot_dir) dirs.push_back(".");
    // Exact text comparison: the first occurrence of each folder keeps its place.
    std::vector<std::string> unique;
    for (auto& d : dirs)
        if (std::find(unique.begin(), unique.end(), d) == unique.end()) unique.push_back(std::move(d));
    return unique;
}

std::vector<std::string> agy_command(const RunAgyArgs& args, bool one_line_prompt) {
    std::vector<std::string> cmd{"agy"};
    for (const auto& dir : agy_folders(args)) {
        cmd.push_back("--add-dir");
        cmd.push_back(dir);
    }
    cmd.push_back("--model");
    cmd.push_back(args.default_model);
    cmd.push_back("--dangerously-skip-permissions");
    cmd.push_back("--print");
    if (one_line_prompt) cmd.push_back(support::replace_all(support::replace_all(args.prompt, "\n", " "), "\r", ""));
    else cmd.push_back(args.prompt);
    return cmd;
}

std::optional<fs::path> find_agy() { return support::find_executable("agy"); }

std::optional<support::Result> agy_missing(const Logger& logger) {
    if (find_agy()) return std::nullopt;
    logger.error("❌ 系統中找不到 `agy` 指令，請確認 agy CLI 是否已正確安裝並加入 PATH。");
    return support::Result::failure("系統中找不到 `agy` 指令");
}

support::Result run_agy(const RunAgyArgs& args) {
    const Logger& logger = log();
    if (args.file_path && !fs::exists(*args.file_path)) {
        const std::string path = path_text(*args.file_path);
        logger.error("❌ 找不到目標檔案: " + path);
        return support::Result::failure("找不到目標檔案: " + path);
    }
    if (auto missing = agy_missing(logger)) return *missing;
    // Windows: npm installs agy as a command script. The runner starts the node program
    // that npm's script names directly, but a script of the user's own still goes through
    // the command interpreter, which takes one line only: the prompt is one line there.
    const bool use_shell = support::is_windows();
    const std::vector<std::string> agy_cmd = agy_command(args, use_shell);
    // A prompt longer than the system passes as one argument could only fail to start.
    if (const auto limit = support::argument_size_limit(); limit && agy_cmd.back().size() > *limit) {
        const std::string reason = "提示詞長度 " + std::to_string(agy_cmd.back().size()) +
                                   " 位元組，超過系統對單一命令列參數的上限 " + std::to_string(*limit) + " 位元組";
        logger.error("❌ " + reason + "，未執行 agy。");
        return support::Result::failure(reason);
    }
    const std::string target_name =
        args.file_path ? support::utf8_text(args.file_path->filename()) : std::string("專案 (Project)");
    logger.info("✅ ⏳ 正在透過 agy 使用 " + args.default_model + " 處理 " + target_name + "...");

    try {
        logger.debug(std::string("🔍 [run_agy] 使用 shell 執行: ") + (use_shell ? "True" : "False") +
                     ", agy_cmd: " + support::join(agy_cmd, " "));
        support::RunOptions options;
        // Only the end of the agent's streams is ever shown (as the reason of a failed
        // run); a flood of output must not fill the memory.
        options.tail_limit = 256 * 1024;
        // The agent works for this run only: nothing it starts may outlive its pass or
        // this program, nor write an answer once the run has ended.
        options.contained = true;
        const auto run = support::run_process(agy_cmd, options);
        const std::string out = support::normalize_newlines(support::decode_replace(run.out));
        const std::string err = support::normalize_newlines(support::decode_replace(run.err));
        if (run.status == 0) return support::Result::success(out + "\n" + err);

        logger.error("❌ agy 執行失敗 (Exit Code: " + std::to_string(run.status) + ")");
        std::string err_msg(support::strip(err));
        if (err_msg.empty()) err_msg = support::strip(out);
        if (err_msg.empty()) err_msg = "agy 執行期間發生錯誤 (無輸出)";
        logger.error("⚠️ 錯誤訊息:\n" + err_msg);
        return support::Result::failure(err_msg);
    } catch (const support::Interrupted&) {
        // Said before the clean-ups on the way up say what they kept, and on a line of its
        // own: the terminal shows ^C where the cursor stood.
        logger.warning("\n⚠️ 執行已中斷，已停止 agy。");
        throw;
    } catch (const std::exception& e) {
        logger.exception(std::string("❌ 呼叫 agy 指令時發生系統級異常: ") + e.what());
        return support::Result::failure(std::string("系統級異常: ") + e.what());
    }
}

// ---- command-function probe ----

std::string extract_function_name(const fs::path& file_path) {
    if (!fs::exists(file_path)) return "";
    const std::string bytes = brenkit::fileIO::read_or_throw(file_path);
    if (!support::is_valid_utf8(bytes)) throw std::runtime_error("'" + support::utf8_text(file_path) + "' is not UTF-8 text");
    static const support::Regex pattern(R"(def\s+(cmd_\w+))");
    const auto m = pattern.search(bytes);
    return m ? std::string(m->group(1)) : std::string();
}

// ---- agent workspace ----

namespace {

using brenkit::fileIO::ScalarKind;

class WorkspaceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The text form a value takes when it is put into a line.
std::string display_text(const YAML::Node& node) {
    if (!node.IsDefined() || node.IsNull()) return "None";
    if (node.IsScalar()) {
        switch (brenkit::fileIO::scalar_kind(node)) {
            case ScalarKind::null: return "None";
            case ScalarKind::boolean: return node.as<bool>() ? "True" : "False";
            case ScalarKind::integer:
                try {
                    return std::to_string(node.as<long long>());
                } catch (const YAML::Exception&) {
                    return node.Scalar();
                }
            case ScalarKind::floating: {
                std::string t = fmt::format("{}", node.as<double>());
                if (t.find_first_of(".eni") == std::string::npos) t += ".0";
                return t;
            }
            case ScalarKind::text: return node.Scalar();
        }
    }
    YAML::Emitter emitter;
    emitter << YAML::Flow << node;
    return emitter.c_str();
}

bool is_text(const YAML::Node& node) {
    return node.IsScalar() && brenkit::fileIO::scalar_kind(node) == ScalarKind::text;
}

// A value that is used as text itself: anything else stops the run.
std::string require_text(const YAML::Node& node, const std::string& what) {
    if (!is_text(node)) throw WorkspaceError(what + " must be text, got " + display_text(node));
    return node.Scalar();
}

// A key's value: the default when the key is missing, the value's text form otherwise.
std::string field(const YAML::Node& map, const std::string& key, const std::string& fallback) {
    const YAML::Node value = map[key];
    return value.IsDefined() ? display_text(value) : fallback;
}

// The entries of `commands`: a list of mappings; an absent or empty value has none.
std::vector<YAML::Node> command_entries(const YAML::Node& data) {
    const YAML::Node commands = data["commands"];
    std::vector<YAML::Node> entries;
    if (!commands.IsDefined()) return entries;
    if (commands.IsSequence()) {
        for (const auto& entry : commands) {
            if (!entry.IsMap()) throw WorkspaceError("a command entry is not a mapping: " + display_text(entry));
            entries.push_back(entry);
        }
        return entries;
    }
    const bool empty = (commands.IsMap() && commands.size() == 0) || (is_text(commands) && commands.Scalar().empty());
    if (!empty) throw WorkspaceError("commands is not a list: " + display_text(commands));
    return entries;
}

// A skill name becomes one folder under .agents/skills: it must not climb out of it.
bool is_safe_skill_name(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find_first_of("/\\") != std::string::npos) return false;
    const fs::path p = support::path_from_utf8(name);
    return !p.is_absolute() && !p.has_root_name() && !p.has_root_directory();
}

std::string reformat_prompt_line(const std::string& line) {
    const std::string_view trimmed = support::strip(line);
    if (trimmed.empty()) return "";
    std::vector<char32_t> chars;
    for (size_t pos = 0; pos < trimmed.size() && chars.size() < 3;) chars.push_back(support::next_code_point(trimmed, pos));
    const bool numbered =
        support::unicode::is_digit(chars[0]) && ((chars.size() > 1 && chars[1] == U'.') || (chars.size() > 2 && chars[2] == U'.'));
    if (numbered || chars[0] == U'-' || chars[0] == U'*') return line;
    return "- " + std::string(trimmed);
}

std::string reformat_prompt(const std::string& prompt) {
    std::vector<std::string> lines;
    for (const auto& line : support::split(support::strip(prompt), "\n")) lines.push_back(reformat_prompt_line(line));
    return std::string(support::strip(support::join(lines, "\n")));
}

constexpr std::string_view combined_header =
    "---\n"
    "name: agy-commands\n"
    "description: 處理程式碼審查、刪除、重構命名、API 抽離、API 替換、加上註解、新增功能與選項提示的自訂指令集。\n"
    "---\n"
    "\n"
    "# agy-commands 自訂指令集\n"
    "\n"
    "> 來源設定檔：`_agy/skill/agy-commands.yaml`  \n"
    "> 回覆語言：**繁體中文**（無特別指示時）\n"
    "\n"
    "## 指令語法與範圍指定規範（極重要）\n"
    "\n"
    "- **指令輸入格式**：`@檔案名稱 [行數範圍] /斜線指令 [需求描述]`\n"
    "  - 例：`@cli.py 117-140 /review 檢查可讀性`\n"
    "- **範圍限制原則**：指定行數範圍時，**僅限操作該範圍**，不隨意修改範圍外的程式碼。\n"
    "- **預設行為**：未指定行數或檔案時，對整個片段或當前開啟檔案執行。\n"
    "\n"
    "---\n"
    "\n"
    "## 指令定義\n";

constexpr std::string_view agents_md_heading = "# Workspace Rules: ";

void write_workspace(const fs::path& path, const Logger* logger, bool sync_agents_md) {
    namespace fileIO = brenkit::fileIO;
    const auto loaded = fileIO::load_yaml_config(path);
    if (!loaded || !fileIO::truthy(*loaded)) return;
    const YAML::Node& data = *loaded;
    if (!data.IsMap()) throw WorkspaceError("the command set is not a mapping");

    const std::vector<YAML::Node> commands = command_entries(data);
    const YAML::Node rules_node = data["global_rules"];
    const std::string global_rules = rules_node.IsDefined() ? display_text(rules_node) : "";
    const std::string set_name = field(data, "name", "agy-commands");
    const fs::path skills = fs::path(".agents") / "skills";

    for (const auto& entry : commands) {
        const std::string cmd = field(entry, "cmd", "");
        const YAML::Node name_node = entry["name"];
        const std::string name = name_node.IsDefined() ? display_text(name_node) : "unnamed-skill";
        const std::string text = "---\nname: " + name + "\ndescription: " + field(entry, "description", "") +
                                 "\n---\n\n" + global_rules + "\n\n### 指令執行規範 (" + cmd + ")\n" +
                                 field(entry, "prompt", "");
        if (name_node.IsDefined()) require_text(name_node, "name");
        if (!is_safe_skill_name(name)) {
            if (logger) logger->error("❌ 技能名稱不可含路徑，已略過: " + name);
            continue;
        }
        fileIO::save_local_file_content(skills / support::path_from_utf8(name) / "SKILL.md", text, "Agy Skill (" + name + ")", logger);
    }

    std::vector<std::string> blocks;
    for (size_t i = 0; i < commands.size(); ++i) {
        const YAML::Node& entry = commands[i];
        blocks.push_back("### " + std::to_string(i + 1) + ". `" + field(entry, "cmd", "None") + "` — " +
                         field(entry, "description", "None"));
        const YAML::Node prompt = entry["prompt"];
        blocks.push_back(reformat_prompt(prompt.IsDefined() ? require_text(prompt, "prompt") : ""));
        blocks.emplace_back();
    }
    fileIO::save_local_file_content(skills / "agy-commands" / "SKILL.md",
                                    std::string(combined_header) + "\n" + support::join(blocks, "\n"),
                                    "Agy Skill (agy-commands)", logger);

    if (!sync_agents_md) return;
    // The rules file is replaced only when this writer made it (it opens with the
    // heading below): one the user wrote by hand is theirs to keep.
    const fs::path agents_md = fs::path(".agents") / "AGENTS.md";
    if (auto existing = fileIO::read_local_file(agents_md); existing.outcome == fileIO::LocalFile::Outcome::refused) {
        if (logger) logger->error("❌ " + fileIO::read_refused("Agy Agents 規則", agents_md, existing.reason));
        return;
    } else if (!existing.bytes.empty() && !existing.bytes.starts_with(agents_md_heading)) {
        if (logger)
            logger->warning("⚠️ " + support::generic_utf8_text(agents_md) + " 不是由 agy-commands 產生的檔案，已保留原內容，未更新。");
        return;
    }
    std::vector<std::string> lines{std::string(agents_md_heading) + set_name, "",
                                   rules_node.IsDefined() ? require_text(rules_node, "global_rules") : "",
                                   "---", "## 指令集總覽", "", "| 指令 | 名稱 | 描述 |", "| :--- | :--- | :--- |"};
    for (const auto& entry : commands)
        lines.push_back("| **" + field(entry, "cmd", "None") + "** | " + field(entry, "name", "None") + " | " +
                        field(entry, "description", "None") + " |");
    lines.emplace_back();
    lines.emplace_back("## 詳細指令定義");
    for (const auto& entry : commands) {
        lines.push_back("### " + field(entry, "cmd", "None") + " (" + field(entry, "name", "None") + ")");
        const YAML::Node prompt = entry["prompt"];
        lines.push_back(prompt.IsDefined() ? require_text(prompt, "prompt") : "");
    }
    fileIO::save_local_file_content(agents_md, support::join(lines, "\n"), "Agy Agents 規則", logger);
}

}  // namespace

void sync_agy_commands_to_agents(const fs::path& file_path, const Logger* logger, bool sync_agents_md) {
    if (!fs::exists(file_path)) return;
    try {
        write_workspace(file_path, logger, sync_agents_md);
    } catch (const std::exception& e) {
        if (logger)
            logger->error("❌ 轉換 " + support::utf8_text(file_path.filename()) + " 為 agy 格式時出錯: " + e.what());
    }
}

// ---- diff display ----

namespace {

// A diff line without the line end of the text line it shows.
std::string_view without_line_end(std::string_view line) {
    if (line.ends_with("\r\n")) return line.substr(0, line.size() - 2);
    for (std::string_view end : {"\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"})
        if (line.ends_with(end)) return line.substr(0, line.size() - end.size());
    if (!line.empty() && std::string_view("\n\r\v\f\x1c\x1d\x1e").find(line.back()) != std::string_view::npos)
        return line.substr(0, line.size() - 1);
    return line;
}

}  // namespace

void display_content_diff(const DiffArgs& args) {
    if (args.old_content.empty()) return;
    const auto old_lines = support::splitlines(args.old_content, true);
    const auto new_lines = support::splitlines(args.new_content, true);
    const std::vector<std::string_view> a(old_lines.begin(), old_lines.end());
    const std::vector<std::string_view> b(new_lines.begin(), new_lines.end());
    const auto diff = support::unified_diff(a, b, args.from_file, args.to_file);
    if (diff.empty()) {
        support::echo("\n✅ 內容與原版本無異。");
        return;
    }
    support::echo("\n--- 🔍 變更差異比對 (Diff: " + args.from_file + " -> " + args.to_file + ") ---");
    for (const auto& line : diff) {
        const std::string_view text = without_line_end(line);
        if (text.starts_with("+") && !text.starts_with("+++")) support::secho(text, support::Color::green);
        else if (text.starts_with("-") && !text.starts_with("---")) support::secho(text, support::Color::red);
        else support::echo(text);
    }
}

// ---- file joiner ----

std::string combine_files_content(const std::vector<FileInfo>& file_info_list, const Logger* logger) {
    std::vector<std::string> blocks;
    for (const auto& [path, name] : file_info_list) {
        const std::string suffix = support::lower(support::name_suffix(support::utf8_text(path.filename())));
        const std::string tag = suffix == ".py" ? "python" : suffix == ".md" ? "markdown" : "";
        const std::string text = brenkit::fileIO::load_local_file_content(path, "檔案 " + name + suffix, logger);
        if (text.empty()) continue;
        blocks.push_back("--- 檔案名稱: " + name + suffix + " ---\n```" + tag + "\n" + text + "\n```");
    }
    if (blocks.empty()) return "";
    return support::join(blocks, "\n\n") + "\n\n";
}

// ---- direct model client ----

void load_dotenv(const fs::path& start) {
    fs::path dir = fs::absolute(start);
    for (;;) {
        const fs::path candidate = dir / ".env";
        if (fs::is_regular_file(candidate)) {
            const std::string bytes = brenkit::fileIO::read_or_throw(candidate);
            for (const auto& raw : support::splitlines(bytes)) {
                std::string_view line = support::strip(raw);
                if (line.empty() || line.front() == '#') continue;
                if (line.starts_with("export ")) line = support::lstrip(line.substr(7));
                const size_t eq = line.find('=');
                if (eq == std::string_view::npos) continue;
                const std::string key(support::strip(line.substr(0, eq)));
                std::string_view value = support::strip(line.substr(eq + 1));
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                    value = value.substr(1, value.size() - 2);
                if (!key.empty() && !support::get_env(key)) support::set_env(key, std::string(value));
            }
            return;
        }
        if (!dir.has_relative_path()) return;
        dir = dir.parent_path();
    }
}

namespace detail {

AiService init_ai_service(bool has_client_library, const std::optional<GenAiClient>& existing_client) {
    log().info("🤖 正在初始化 Gemini API ...");
    if (!has_client_library)
        return {std::nullopt, "❌ 找不到 `google-genai` 套件，無法使用 AI 相關功能。請執行 `pip install google-genai` 進行安裝。"};
    if (existing_client) return {existing_client, std::nullopt};
    try {
        load_dotenv(fs::current_path());
        const auto key = support::get_env("GEMINI_API_KEY");
        if (!key || key->empty())
            return {std::nullopt, "❌ 找不到 GEMINI_API_KEY，請確認環境變數或 .env 檔案是否設定正確。"};
        return {GenAiClient{*key}, std::nullopt};
    } catch (const std::exception& e) {
        return {std::nullopt, std::string(e.what())};
    }
}

}  // namespace detail

AiService init_ai_service(const std::optional<GenAiClient>& existing_client) {
    return detail::init_ai_service(HAS_GENAI, existing_client);
}

}  // namespace vemtora::mindrel
