#include "vemtora/projects/sproutel.hpp"

#include <system_error>
#include <vector>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/core/registration.hpp"

namespace vemtora::sproutel {

namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: Creates new Python CLI projects using Vemtora template repository.\n"
    "  - Downloads project templates and customizes project naming.\n"
    "  - Automatically cleans up and standardizes directory structures.\n"
    "  - Prompts for project details interactively via system editor.\n";

const char* const clone_failed = "❌ Git clone 失敗，請確認網路連線或 Git 設定。";

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

// Renames `from` to `to` when `from` is there. A rename never replaces an entry that
// is already in its place (a module named cli.py would otherwise replace the sample's
// registration file): that, and any other refusal of the file system, is the failure
// that comes back.
// A folder that the sample's links take out of the working copy is not changed either.
std::optional<Result> rename_if_present(const fs::path& from, const fs::path& to) {
    if (!present(from) || from == to) return std::nullopt;
    const std::string cannot = "❌ 無法將 " + support::utf8_text(from) + " 重新命名為 " + support::utf8_text(to) + "：";
    for (const auto& folder : {from.parent_path(), to.parent_path()})
        if (auto reason = fileIO::leaves_working_copy(folder, fileIO::Deed::write)) return Result::failure(cannot + *reason);
    if (present(to)) return Result::failure(cannot + "目標已存在。");
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) return Result::failure(cannot + ec.message());
    return std::nullopt;
}

// Removes the clone's folder unless the generation kept it, so that a failed or
// interrupted run does not block the next one at the clone. It is the one folder the
// clone was told to make, and one that was not there before: nothing else in the current
// folder, made before or meanwhile, is ever touched.
class CloneCleanup {
  public:
    explicit CloneCleanup(fs::path folder) : folder_(std::move(folder)) {}
    CloneCleanup(const CloneCleanup&) = delete;
    CloneCleanup& operator=(const CloneCleanup&) = delete;
    ~CloneCleanup() {
        if (!kept_) fileIO::remove_directory(folder_);
    }
    void keep() { kept_ = true; }

  private:
    fs::path folder_;
    bool kept_ = false;
};

// The refusal of a run whose folder is already taken: the user's folder is never
// replaced. Nothing when the name is free.
std::optional<Result> refuse_taken(const fs::path& folder, const std::string& line, const std::string& result) {
    if (!present(folder)) return std::nullopt;
    log().error(line);
    return Result::failure(result);
}

std::optional<Result> refuse_taken_clone_folder() {
    return refuse_taken(clone_folder, std::string("❌ 目前目錄下已存在「") + clone_folder + "」，範本會複製到這個資料夾，請先移走或改名該資料夾。",
                        std::string("範本資料夾「") + clone_folder + "」已存在，未進行任何變更。");
}

// The finished project takes this folder's place.
std::optional<Result> refuse_taken_project_folder(const std::string& prj_name) {
    return refuse_taken(support::path_from_utf8(prj_name),
                        "❌ 目前目錄下已存在「" + prj_name + "」，請改用其他專案名稱或先移走該資料夾。",
                        "專案資料夾「" + prj_name + "」已存在，未進行任何變更。");
}

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Sproutel"); }

std::string base_name_of(std::string_view file_name) { return support::replace_all(file_name, ".py", ""); }

std::string patch_setup_py(std::string_view text, const std::string& prj_name, const std::string& cli_name,
                           const std::string& pkg_name) {
    static const support::Regex name_re(R"(name=["']faldrun["'])");
    static const support::Regex desc_re(R"(description=["']Faldrun CLI Application["'])");
    static const support::Regex entry_re(R"(['"]faldrun-cli=faldrun\.cli:main['"])");
    std::string out = name_re.replace(text, "name=\"" + pkg_name + "\"");
    out = desc_re.replace(out, "description=\"" + prj_name + " CLI Application\"");
    return entry_re.replace(out, "'" + cli_name + "=" + pkg_name + ".cli:main'");
}

std::string new_module_prompt(const fs::path& goal_path, const fs::path& main_logic_file, const NewModuleNames& n) {
    return support::join({"根據 @[" + exchange::prompt_path(goal_path) + "]：",
                          "將 @[" + exchange::prompt_path(main_logic_file) + "] 重構為核心模組。",
                          "【參數設定】",
                          "- 專案名稱: " + n.prj_name,
                          "- 指令名稱: " + n.cli_name,
                          "- 子指令名稱: " + n.sub_cli_name,
                          "- 類別名稱: " + n.class_name,
                          "- 功能描述: " + n.project_desc,
                          exchange::brief_output_request(new_module_output_file)},
                         "\n");
}

std::string registration_prompt(const registration::Pass& pass, const NewModuleNames& names,
                                const std::string& file_name, const std::string& func_name) {
    return "根據 @[" + exchange::prompt_path(pass.goal_path) + "]：\n重構 @[" + registration::cli_reference(pass) +
           "] 註冊子指令。\n【參數設定】\n- 專案名稱: " + names.prj_name + "\n- 指令名稱: " + names.cli_name +
           "\n- 子指令名稱: " + names.sub_cli_name + "\n- 檔案名稱: " + file_name + "\n- 函式名稱: " + func_name +
           "\n" + exchange::brief_output_request(registration::reg_output_file);
}

SproutelApp::SproutelApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    template_repo = fileIO::text_setting(config, "template_repo", default_template_repo);
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", "_agy/goal/sproutel.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/dovud-expert.yaml"));
    // A file that does not arrive here ends run before anything is asked.
    missing_instructions_ = exchange::fetch_fixed({{goal_path, "_agy/goal/sproutel.yaml", "Goal 設定檔"},
                                                   {skill_path, "_agy/skill/dovud-expert.yaml", "Skill 設定檔"}},
                                                  log());
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config);
    project_desc = fileIO::text_setting(config, "project_desc", "");
    debug = fileIO::bool_or(fileIO::child(config, "debug"), false);
}

Result SproutelApp::generate_project(const std::string& prj_name, const std::string& cli_name,
                                     const std::string& file_name) {
    const fs::path target_dir = support::path_from_utf8(prj_name);
    const std::string base_name = base_name_of(file_name);
    const std::string pkg_name = support::lower(prj_name);
    const fs::path clone = clone_folder;

    // Asked before (see run) and again here, just before anything is made.
    if (auto taken = refuse_taken_project_folder(prj_name)) return *taken;
    if (auto taken = refuse_taken_clone_folder()) return *taken;

    log().info("✅ 正在從 " + template_repo + " 下載專案範本...");
    // An address that begins with "-" would be read by git as one of its options.
    if (template_repo.empty() || template_repo.front() == '-') return Result::failure(clone_failed);
    // Into the one folder named here, whatever the repository is called.
    std::vector<std::string> argv = {"git", "clone", "--quiet", "--", template_repo, support::utf8_text(clone)};
    CloneCleanup cleanup(clone);
    try {
        auto cloned = support::run_process(argv, {.null_stdin = true});
        // git's own reason follows: an address it cannot reach, a refused login...
        if (cloned.status != 0) {
            const std::string said(support::strip(support::decode_replace(cloned.err)));
            return Result::failure(said.empty() ? clone_failed : std::string(clone_failed) + "\n" + said);
        }
    } catch (const support::ProcessError& e) {
        log().error(std::string("❌ 無法執行 git，請確認已安裝 Git 並加入 PATH: ") + e.what());
        return Result::failure(clone_failed);
    }
    if (!fs::is_directory(clone)) {
        log().error("❌ 複製完成後找不到範本資料夾 " + support::utf8_text(clone) + "，請確認 template_repo 指向 Faldrun 儲存庫。");
        return Result::failure("找不到範本資料夾 " + support::utf8_text(clone) + "，專案未建立。");
    }

    log().info("✅ 開始執行專案初始化與檔案重新命名...");
    fileIO::remove_directory(clone / ".git");
    // The editor's workspace files of the sample project go; the search names what it cannot read.
    for (const auto& workspace :
         fileIO::find_files_with_extensions(clone, {.extensions = {".code-workspace"}, .recursive = true, .logger = &log()}).paths)
        fileIO::remove_file(workspace);
    fileIO::remove_file(clone / "config_faldrun_template.yaml");

    const fs::path sample_pkg = clone / "faldrun";
    const std::vector<std::pair<fs::path, fs::path>> renames = {
        {sample_pkg / "faldrun.py", sample_pkg / support::path_from_utf8(base_name + ".py")},
        {clone / "data_faldrun", clone / support::path_from_utf8("data_" + base_name)},
        {sample_pkg / "web_ui" / "ui_faldrun.py", sample_pkg / "web_ui" / support::path_from_utf8("ui_" + base_name + ".py")},
    };
    for (const auto& [from, to] : renames) {
        if (auto failed = rename_if_present(from, to)) {
            log().error(failed->text);
            return *failed;
        }
    }

    const fs::path setup_file = clone / "setup.py";
    if (fs::exists(setup_file)) {
        std::string text = fileIO::load_local_file_content(setup_file, "setup.py", &log());
        if (!text.empty()) {
            auto saved =
                fileIO::save_local_file_content(setup_file, patch_setup_py(text, prj_name, cli_name, pkg_name), "setup.py", &log());
            if (!saved.ok) log().error("❌ 無法儲存修改後的 setup.py: " + saved.text);
        }
    }

    for (const auto& [from, to] : {std::pair{sample_pkg, clone / support::path_from_utf8(pkg_name)}, std::pair{clone, target_dir}}) {
        if (auto failed = rename_if_present(from, to)) {
            log().error(failed->text);
            return *failed;
        }
    }

    cleanup.keep();
    return Result::success("專案「" + prj_name + "」初始化已順利完成！路徑: " + support::utf8_text(fs::absolute(target_dir)));
}

Result SproutelApp::run() {

    if (missing_instructions_) return *missing_instructions_;

    // A folder in the way is said before the questions that it would make useless.
    if (auto taken = refuse_taken_clone_folder()) return *taken;
    support::echo("\n--- 手動輸入模式 ---");
    const std::string selected_prj = support::prompt_stripped("💬 請輸入專案名稱 (PascalCase, 例如: MyProject)");
    if (exchange::plain_file_name(selected_prj))
        if (auto taken = refuse_taken_project_folder(selected_prj)) return *taken;
    const std::string selected_cli = support::prompt_stripped("💬 請輸入『主進入點指令』 (Main Entry Point, 例如: my-cli)");
    const std::string selected_sub_cli = support::prompt_stripped("💬 請輸入『初始子指令』名稱 (kebab-case, 例如: start-task)");
    const std::string selected_class = registration::class_name_of(selected_sub_cli);
    const std::string selected_file = registration::file_name_of(selected_sub_cli);
    if (selected_prj.empty() || selected_cli.empty() || selected_sub_cli.empty())
        return Result::failure("專案名稱、指令名稱與子指令名稱皆不能為空。");
    // The project name becomes the project and package folders and the sub-command the
    // module's file name: a path such as ../Name would scatter the project over
    // other folders.
    if (!exchange::plain_file_name(selected_prj) || !exchange::plain_file_name(selected_file)) {
        log().error("❌ 專案名稱與子指令名稱不可包含路徑：" + selected_prj + " / " + selected_sub_cli);
        return Result::failure("專案名稱與子指令名稱不可包含路徑分隔符號，未進行任何變更。");
    }
    // The sample's module is renamed after the sub-command with every ".py" taken out,
    // so a name holding ".py" would leave its module under another name than the one
    // the agent passes look for.
    if (selected_sub_cli.find(".py") != std::string::npos) {
        log().error("❌ 子指令名稱不可包含「.py」：" + selected_sub_cli);
        return Result::failure("子指令名稱不可包含「.py」，未進行任何變更。");
    }
    log().info("✅ 已確認命名設定：專案=" + selected_prj + " / 指令=" + selected_cli + " / 子指令=" + selected_sub_cli);

    Result generated = generate_project(selected_prj, selected_cli, selected_file);
    if (!generated.ok) return generated;

    const fs::path pkg_dir = fileIO::setup_output_file(support::path_from_utf8(selected_prj), support::lower(selected_prj), &log());
    if (!fs::exists(pkg_dir)) return generated;
    const fs::path main_logic_file = fileIO::setup_output_file(pkg_dir, selected_file, &log());
    if (!fs::exists(main_logic_file)) return generated;

    const NewModuleNames names{.prj_name = selected_prj,
                               .cli_name = selected_cli,
                               .sub_cli_name = selected_sub_cli,
                               .class_name = selected_class,
                               .project_desc = project_desc};
    std::string prompt = new_module_prompt(goal_path, main_logic_file, names);
    auto answer = exchange::agent_pass(new_module_output_file,
                                       {.prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = skill_path,
                                        .add_dot_dir = true},
                                       "AI 產出的新專案程式碼", log());
    const std::string module_name = support::utf8_text(main_logic_file.filename());
    if (!answer.ok) return registration::rewrite_failed(module_name, answer.text);

    const std::string& code = answer.text;
    if (code.empty())
        return Result::failure(registration::no_code_written(module_name, "範例", log()) + "，專案已建立但主模組未重構: " +
                               support::utf8_text(fs::absolute(support::path_from_utf8(selected_prj))));
    auto saved = exchange::save_answer(main_logic_file, code, answer.file, module_name, log());
    if (!saved.ok) return Result::failure(saved.text);

    if (auto failed = registration::run(
            {.module_path = main_logic_file,
             .cli_folder = pkg_dir,
             .goal_path = goal_path,
             .skill_path = skill_path,
             .default_model = default_model,
             .prompt = [&](const registration::Pass& pass,
                           const std::string& func_name) { return registration_prompt(pass, names, selected_file, func_name); },
             .cli_folder_to_agent = false,
             .agent_failed = "AI 重構 cli.py 失敗",
             .log = &log()}))
        return *failed;
    return generated;
}

vemtora::CommandDecl cmd_sproutel() {
    return frame::declare({.name = "sproutel",
                           .help = "Automated Python CLI project generator based on Vemtora architecture.",
                           .epilog = frame::standard_epilog("sproutel", features),
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .template_line_mark = false,
                                       .log_debug_on = true,
                                       .run = frame::runs_app<SproutelApp>()}});
}

}  // namespace vemtora::sproutel
