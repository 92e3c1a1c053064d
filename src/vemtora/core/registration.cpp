#include "vemtora/core/registration.hpp"

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::registration {

namespace fileIO = brenkit::fileIO;

namespace {

// First character in title case, the rest in lower case.
std::string capitalized(std::string_view part) {
    if (part.empty()) return "";
    size_t pos = 0;
    char32_t first = support::next_code_point(part, pos);
    std::string out;
    support::append_utf8(out, support::unicode::title_case(first));
    return out + support::lower(part.substr(pos));
}

// The entry file the pass rewrites.
fs::path cli_file_of(const Pass& pass) { return pass.cli_folder / "cli.py"; }

}  // namespace

support::Result rewrite_failed(const std::string& module_name, const std::string& reason) {
    return support::Result::failure("AI 重構 " + module_name + " 失敗: " + reason);
}

std::string no_code_written(const std::string& module_name, const std::string& kept, const Logger& logger) {
    logger.error("❌ agy 未產出任何程式碼，" + module_name + " 保留" + kept + "內容。");
    return "AI 未產出 " + module_name + " 的程式碼";
}

std::string cli_reference(const Pass& pass) { return exchange::prompt_path(cli_file_of(pass)); }

std::string code_request() { return "]\n\n" + exchange::output_request("：", "生成的程式碼", reg_output_file); }

std::string class_name_of(std::string_view sub_cli_name) {
    std::string out;
    for (const auto& part : support::split(sub_cli_name, "-")) out += capitalized(part);
    return out;
}

std::string cmd_name_of(std::string_view sub_cli_name) { return support::replace_all(sub_cli_name, "-", "_"); }

std::string file_name_of(std::string_view sub_cli_name) { return cmd_name_of(sub_cli_name) + ".py"; }

std::string sub_cli_name_of_module(const fs::path& module_path) {
    return support::replace_all(support::utf8_text(module_path.stem()), "_", "-");
}

std::optional<support::Result> run(const Pass& pass) {
    const Logger& log = pass.log ? *pass.log : mindrel::log();
    const std::string func_name = mindrel::extract_function_name(pass.module_path);
    const fs::path cli_file = cli_file_of(pass);
    const std::string cli_label = support::utf8_text(cli_file.filename());

    if (!fs::exists(cli_file)) {
        if (!pass.no_cli_line.empty()) log.warning(pass.no_cli_line);
        return std::nullopt;
    }
    if (pass.needs_function && func_name.empty()) return std::nullopt;
    // The agent reads cli.py and its answer replaces it.
    if (auto refused = exchange::refuse_link_out(cli_file, fileIO::Deed::read, log)) return refused;
    if (!pass.start_line.empty()) log.info(pass.start_line);

    mindrel::RunAgyArgs args{.prompt = pass.prompt(pass, func_name),
                             .default_model = pass.default_model,
                             .goal_path = pass.goal_path,
                             .skill_path = pass.skill_path,
                             .add_dot_dir = true};
    if (pass.cli_folder_to_agent) args.prj_folder = mindrel::AgentFolder(pass.cli_folder);
    auto answer = exchange::agent_pass(reg_output_file, args, "AI 產出的 CLI 碼", log);
    if (!answer.ok) {
        if (!pass.agent_failed_line.empty()) log.error(pass.agent_failed_line + ": " + answer.text);
        return support::Result::failure(pass.failure_names_reason ? pass.agent_failed + ": " + answer.text
                                                                  : pass.agent_failed);
    }
    const std::string& cli_code = answer.text;
    if (cli_code.empty()) {
        // Writing nothing over cli.py would drop every registration the project has.
        log.error("❌ agy 未產出任何 " + cli_label + " 內容，已保留原檔案。");
        return support::Result::failure("agy 未產出 " + cli_label + " 內容，未完成子指令註冊");
    }
    auto saved = exchange::save_answer(cli_file, cli_code, answer.file, cli_label, log);
    if (!saved.ok) return support::Result::failure(saved.text);
    if (!pass.done_line.empty()) log.info(pass.done_line);
    return std::nullopt;
}

}  // namespace vemtora::registration
