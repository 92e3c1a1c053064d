#include "vemtora/scripting/launchet.hpp"

#include <exception>

#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::launchet {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Launchet"); }

std::string init_prompt(const fs::path& command_set) {
    return "載入 @[" + exchange::prompt_path(command_set) + "] 並強制中文回覆。確認已讀取該設定且更新 @.agents 設定。";
}

std::vector<std::string> base_cmd(const LaunchArgs& args) {
    std::vector<std::string> cmd = {args.agy_path,  "--add-dir", "./_agy/goal", "--add-dir",
                                    "./_agy/skill", "--add-dir", "./",          "--sandbox"};
    if (args.mapped_model) {
        cmd.push_back("--model");
        cmd.push_back(*args.mapped_model);
    }
    if (args.skip_permissions) cmd.push_back("--dangerously-skip-permissions");
    if (args.init_prompt) {
        cmd.push_back("--prompt-interactive");
        cmd.push_back("/goal " + *args.init_prompt);
    }
    return cmd;
}

int run_command(bool debug, const std::optional<std::string>& model, bool skip_permissions) {
    frame::enter_debug_mode(debug, &log());

    auto agy = mindrel::find_agy();
    if (!agy) {
        support::echo("❌ 錯誤：找不到 agy CLI，請先執行 npm install -g @google/antigravity-cli", support::Stream::err);
        return 1;
    }

    const fs::path file_path = commands_file;
    // The agent is given the skill folder, so it is there even without a command set.
    exchange::make_parent(file_path);
    exchange::fetch(file_path, exchange::skill_folder, "Agy 快速指令設定", log());
    if (fs::exists(file_path)) mindrel::sync_agy_commands_to_agents(file_path, &log());

    LaunchArgs launch{.agy_path = support::utf8_text(*agy), .skip_permissions = skip_permissions};
    if (fs::exists(file_path))
        launch.init_prompt = init_prompt(file_path);
    else
        log().warning("⚠️ 警告：找不到 agy-commands.yaml 檔案，將不使用 init_prompt 啟動 Agy。");
    if (model && !model->empty()) {
        launch.mapped_model = mindrel::model_from_option(*model, log());
    }
    auto cmd = base_cmd(launch);
    log().debug("base_cmd: " + support::list_repr(cmd));
    if (exchange::refuse_tracked_links_out(cmd, log())) return 1;

    bool is_windows = support::is_windows();
    log().info("✅ 正在為您配置 [" + std::string(is_windows ? "Windows" : "Linux/macOS") + "] 環境並啟動 Agy TUI...");
    log().info(std::string("✅ 權限設定 (skip_permissions): ") + (skip_permissions ? "True" : "False"));

    int status = 0;
    try {
        // The agent takes over the terminal, Ctrl-C included, until it ends; what it
        // starts ends with the session.
        status = support::run_process(cmd, {.out = support::Output::inherit, .err = support::Output::inherit,
                                            .child_owns_interrupt = true, .contained = true})
                     .status;
    } catch (const std::exception& e) {
        support::echo(std::string("❌ 啟動 Agy TUI 失敗: ") + e.what(), support::Stream::err);
        return 1;
    }
    // An agent that crashed or failed is not a session that went well.
    if (status != 0) {
        support::echo("❌ Agy TUI 異常結束: " + support::status_description({"agy"}, status), support::Stream::err);
        return 1;
    }
    return 0;
}

// "start" reads no configuration, so it does not run in the command frame; it is
// declared in the same shape all the same.
vemtora::CommandDecl cmd_launchet() {
    using vemtora::OptionKind;
    return {.name = "start",
            .help = "Find and launchet TUI with preconfigured goals and skills.",
            // no backspace marks: the help page fills it as one paragraph
            .epilog = "\nExamples:\n  1. Launchet TUI:\n     vemtora start\n",
            .options = {{.long_name = "--debug", .kind = OptionKind::flag, .help = "Enable debug mode"},
                        {.long_name = "--model", .short_name = "-m", .kind = OptionKind::value,
                         .help = "Specify the Gemini model to use"},
                        {.long_name = "--skip-permissions", .kind = OptionKind::flag_pair, .help = "Skip permissions",
                         .default_on = true, .negative_name = "--no-skip-permissions"}},
            .entry = [](const vemtora::OptionValues& values) {
                return run_command(values.flag("debug"), values.text("model"), values.flag("skip_permissions"));
            },
            .runs_agent = true};
}

}  // namespace vemtora::launchet
