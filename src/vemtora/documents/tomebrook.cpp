// The declaration of "tomebrook", its manual kinds and the texts its agent prompt is
// made of.
#include "vemtora/documents/tomebrook.hpp"

#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"

namespace vemtora::tomebrook {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view features =
    "Features: Generates API manuals and markdown documentation for source files.\n"
    "  - Analyzes functions, classes, and comments in files.\n"
    "  - Automatically structures output into markdown documentation.\n"
    "  - Dynamically downloads required manual goals and skills.\n";

const std::string kDefaultRequirement = "請依照更新的部分 更新文件";

// What sets the families' prompts apart.
struct FamilyTexts {
    const char* generate_intro;  // before and after the kind's name
    const char* generate_outro;
    const char* refactor_intro;
    const char* refactor_outro;
    const char* header;  // the settings heading and the project-name label
    const char* generate_req;
    const char* refactor_req;
};

const FamilyTexts& texts_of(Family family) {
    static const FamilyTexts flow{"請仔細解析以下提供的原始碼，並根據指示生成一份完整的 ", "：",
                                  "請仔細研讀原始碼，並對現有的 ", " 進行邏輯重構與補充：",
                                  "【特定任務設定與範本欄位對照】:\n- 專案名稱 (project_name)：", "流程生成需求",
                                  "流程修改需求"};
    static const FamilyTexts user{"請解析以下提供的原始碼，並根據指示撰寫一份易讀的 ", "：",
                                  "請根據使用者需求，對現有的 ", " 進行功能說明更新與重構：",
                                  "【特定任務設定】:\n- 套件/專案名稱：", "手冊生成需求", "手冊修改需求"};
    static const FamilyTexts api{"請仔細解析以下提供的原始碼，並根據指示生成一份專業的 ", "：",
                                 "請根據指示，對現有的 ", " 進行 API 規格與參數說明的重構：",
                                 "【特定任務設定】:\n- 專案名稱 (project_name)：", "API 生成需求", "API 修改需求"};
    switch (family) {
        case Family::python_flow:
        case Family::c_flow: return flow;
        case Family::user_manual: return user;
        case Family::api: break;
    }
    return api;
}

constexpr std::string_view python_block =
    "【Python 專屬開發與流程要求】:\n"
    "- 關注 Python 特有的非同步處理 (async/await)、事件循環與執行緒生命週期。\n"
    "- 解析類別設計 (Classes)、資料模型 (Dataclasses / Pydantic Models)、裝飾器 (@decorator) 的控制流。\n"
    "- 針對 Python 專屬的 Exception Handling 進行流程與錯誤追蹤說明。\n\n";

std::string flow_fields(const PromptInputs& in) {
    return in.project_name + " (請替換範本中的 `{project_name}`)\n- 目標模組 (module_name)：" + in.module_name +
           " (請替換範本中的 `{target_module}`)\n- 專案版本 (version)：v" + in.version +
           " (請替換範本中的 `{version}`)\n- 生成日期 (date)：" + in.current_date +
           " (請替換範本中的 `{date}`)\n- 作者 (author)：" + in.author;
}

std::string plain_fields(const PromptInputs& in) {
    return in.project_name + "\n- 目標模組 (module_name)：" + in.module_name + "\n- 專案版本 (version)：v" +
           in.version + "\n- 生成日期 (date)：" + in.current_date + "\n- 作者 (author)：" + in.author;
}

std::string flow_path_lines(bool python, bool refactor) {
    std::string lines = " (請替換範本中的 `{author}`)\n- 原始碼路徑：(請使用所分析之檔案";
    lines += python ? "的絕對路徑，替換範本中的 `{python_source_filepath}`)"
                    : "相對於專案目錄的相對路徑，替換範本中的 `{c_source_filepath}`)";
    lines += "\n- 演算法/功能名稱：(請分析後自行決定，並替換範本中的 `{algorithm_or_feature_name}`)\n";
    lines += refactor ? "- 現有手冊檔案 (請自行讀取內容)：@[" : "\n";
    return lines;
}

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Tomebrook"); }

std::vector<ManualKind> manual_configs() {
    return {
        {"AI 導向 Python API 手冊 (AI Python API)", "_agy/goal/pyapi-ai-manual.yaml",
         "_agy/skill/pyapi-ai-manual-expert.yaml", "template/python_api_manual_ai_oriented_template.md",
         "Python_API_Manual_{module_name}_ai.md"},
        {"Python API 手冊 (Python API)", "_agy/goal/pyapi-manual.yaml", "_agy/skill/pyapi-manual-expert.yaml",
         "template/python_api_manual_template.md", "Python_API_Manual_{module_name}.md"},
        {"Python 使用手冊 (Python User Manual)", "_agy/goal/pyuser-manual.yaml", "_agy/skill/pyuser-manual-expert.yaml",
         "template/python_user_manual_template.md", "Python_User_Manual_{module_name}.md"},
        {python_flow_kind, "_agy/goal/flow-manual.yaml",
         "_agy/skill/flow-manual-expert.yaml", "template/python_code_flow_template.md", "pyFlow_Manual_{module_name}.md"},
        {c_flow_kind, "_agy/goal/flow-manual.yaml", "_agy/skill/flow-manual-expert.yaml",
         "template/c_code_flow_template.md", "cFlow_Manual_{module_name}.md"},
    };
}

const ManualKind& kind_for(const std::vector<ManualKind>& kinds, const std::string& choice) {
    for (const auto& kind : kinds)
        if (kind.name == choice) return kind;
    return kinds[1];
}

const std::vector<std::string>& manual_prefixes() {
    static const std::vector<std::string> prefixes{"ApiManual_",  "Python_API_Manual_", "UserManual_",
                                                   "Python_User_Manual_", "FlowManual_", "cFlow_Manual_"};
    return prefixes;
}

void read_manual_facts(std::string_view manual, std::optional<std::string>& author, std::string& version) {
    static const support::Regex author_re(R"(\*\*Author:\*\*\s*`?([^`\n\r&]+)`?)");
    static const support::Regex version_re(R"(\*\*Version:\*\*\s*`?([vV]?[\d\.]+)[`\n\r]?)");
    if (auto m = author_re.search(manual)) author = std::string(support::strip(m->group(1)));
    if (version == "unknown") {
        if (auto m = version_re.search(manual)) version = std::string(support::strip(m->group(1)));
    }
}

std::string refactor_requirement(const std::string& diff_ref, const std::string& additional_req) {
    std::string user_req;
    if (!diff_ref.empty() && !additional_req.empty())
        user_req = std::string(support::strip(diff_ref + "\n" + additional_req));
    else
        user_req = diff_ref.empty() ? additional_req : diff_ref;
    if (user_req.empty()) {
        log().info("💬 未輸入需求，將使用預設需求：" + kDefaultRequirement);
        user_req = kDefaultRequirement;
    }
    return user_req;
}

std::string without_v(const std::string& version) {
    if (!version.empty() && (version[0] == 'v' || version[0] == 'V')) return version.substr(1);
    return version;
}

Family prompt_family(const fs::path& goal_path, const std::optional<fs::path>& template_path) {
    const std::string goal = support::lower(support::utf8_text(goal_path.filename()));
    if (goal.find("flow") != std::string::npos) {
        bool python = template_path && support::lower(support::utf8_text(template_path->filename())).find("python") !=
                                           std::string::npos;
        return python ? Family::python_flow : Family::c_flow;
    }
    if (goal.find("user") != std::string::npos) return Family::user_manual;
    return Family::api;
}

std::string build_prompt(const PromptInputs& in) {
    const FamilyTexts& t = texts_of(in.family);
    const bool flow = in.family == Family::python_flow || in.family == Family::c_flow;
    const std::string manual_ref = exchange::prompt_path(in.out_path);

    std::vector<std::string> refs;
    for (const auto& source : in.sources) refs.push_back("- " + exchange::reference(source));

    std::string prompt = "根據 " + exchange::reference(in.goal_path) + " 裡的 `" + in.goal_name + "` 指示與 @[" +
                         exchange::prompt_path(in.skill_path) + "] 技能：\n";
    prompt += in.is_refactor ? t.refactor_intro + in.choice + t.refactor_outro
                             : t.generate_intro + in.choice + t.generate_outro;
    prompt += "\n\n";
    prompt += t.header;
    if (flow) {
        prompt += flow_fields(in) + flow_path_lines(in.family == Family::python_flow, in.is_refactor);
        if (in.is_refactor) prompt += manual_ref + "]\n\n";
    } else {
        prompt += plain_fields(in);
        prompt += in.is_refactor ? "\n- 現有手冊檔案 (請自行讀取內容)：@[" + manual_ref + "]\n\n" : "\n";
    }
    prompt += in.template_ref + "- 參考原始碼清單 (請自行讀取檔案內容)：\n" + support::join(refs, "\n") + "\n\n";
    if (in.is_refactor)
        prompt += std::string("- ") + t.refactor_req + "：\n" + in.user_req + "\n\n";
    else if (!in.user_req.empty())
        prompt += std::string("- ") + t.generate_req + "：\n" + in.user_req + "\n\n";
    if (in.family == Family::python_flow) prompt += python_block;
    prompt += exchange::output_request("：", "生成的手冊內容", fs::path(agent_output));
    return prompt;
}

vemtora::CommandDecl cmd_tomebrook() {
    return frame::declare(
        {.name = "tomebrook",
         .help = "Generate API Manual for scripts.",
         .epilog = frame::epilog(
             frame::usual_examples("tomebrook",
                                   {.run_title = "Run API documentation generation with configuration:",
                                    .more = {{"Specify the output directory:", "vemtora tomebrook -o ./my-docs"}}}),
             features),
         .options = {.output_dir_help = "Specify the output directory for generated manual."},
         .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                     .log = &log(),
                     .template_line_mark = false,
                     .utf8_output = true,
                     .run = frame::runs_app<TomebrookApp>()}});
}

}  // namespace vemtora::tomebrook
