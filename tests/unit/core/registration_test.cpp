// Sub-command names derived from kebab-case, and the cli.py registration pass worded by
// its caller, against the fake agent.
#include <gtest/gtest.h>

#include "common/harness.hpp"
#include "vemtora/core/registration.hpp"

namespace reg = vemtora::registration;

TEST(RegistrationNames, DerivedFromKebabCase) {
    struct Case {
        std::string sub, class_name, file_name, cmd_name;
    };
    for (const auto& c : std::vector<Case>{
             {"my-feature", "MyFeature", "my_feature.py", "my_feature"},
             {"API-client", "ApiClient", "API_client.py", "API_client"},
             {"a--b", "AB", "a__b.py", "a__b"},
             {"-x-", "X", "_x_.py", "_x_"},
             {"my_feature", "My_feature", "my_feature.py", "my_feature"},
             {"élan-ÉTÉ", "ÉlanÉté", "élan_ÉTÉ.py", "élan_ÉTÉ"},
         }) {
        EXPECT_EQ(reg::class_name_of(c.sub), c.class_name) << c.sub;
        EXPECT_EQ(reg::file_name_of(c.sub), c.file_name) << c.sub;
        EXPECT_EQ(reg::cmd_name_of(c.sub), c.cmd_name) << c.sub;
    }
    EXPECT_EQ(reg::sub_cli_name_of_module("pkg/data_loader.py"), "data-loader");
    EXPECT_EQ(reg::sub_cli_name_of_module("Data_Loader.py"), "Data-Loader");
}

namespace {

namespace fs = std::filesystem;
namespace app_logging = brenkit::app_logging;

// The pass against the fake agent, in a package folder with a module and a cli.py.
class RegistrationRun : public ::testing::Test {
  protected:
    th::TempDir tmp;
    th::FakeAgent agent{tmp.path()};
    std::optional<th::CurrentDir> cwd;
    fs::path pkg = tmp / "pkg";
    app_logging::Logger logger{"Test"};
    app_logging::Capture capture;
    std::vector<std::string> prompted;  // the function names the prompt was asked for

    void SetUp() override {
        th::write_file(pkg / "cli.py", "old cli\n");
        th::write_file(pkg / "task.py", "def cmd_task():\n    pass\n");
        cwd.emplace(tmp.path());
    }
    reg::Pass pass() {
        return {.module_path = pkg / "task.py",
                .cli_folder = pkg,
                .goal_path = tmp / "g.yaml",
                .skill_path = tmp / "s.yaml",
                .prompt = [this](const reg::Pass&, const std::string& func_name) {
                    prompted.push_back(func_name);
                    return std::string("register, 絕對路徑：`") + reg::reg_output_file + "`";
                },
                .no_cli_line = "no cli",
                .start_line = "starting",
                .done_line = "done",
                .agent_failed_line = "agent failed",
                .agent_failed = "registration failed",
                .log = &logger};
    }
    bool logged(app_logging::Level level, const std::string& message) const {
        for (const auto& r : capture.records())
            if (r.level == level && r.message == message) return true;
        return false;
    }
};

TEST_F(RegistrationRun, SkippedWithoutCliOrFunctionAndNothingAsked) {
    reg::Pass no_cli = pass();
    no_cli.cli_folder = tmp / "elsewhere";
    EXPECT_EQ(reg::run(no_cli), std::nullopt);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"no cli"});

    capture.clear();
    th::write_file(pkg / "task.py", "def main():\n    pass\n");
    EXPECT_EQ(reg::run(pass()), std::nullopt);
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_TRUE(agent.calls().empty());
    EXPECT_TRUE(prompted.empty());
}

TEST_F(RegistrationRun, CallersTextsAroundASavedCli) {
    agent.scripted("out", "new cli\n");
    reg::Pass without_function = pass();
    without_function.needs_function = false;
    without_function.cli_folder_to_agent = false;
    th::write_file(pkg / "task.py", "def main():\n    pass\n");
    EXPECT_EQ(reg::run(without_function), std::nullopt);
    EXPECT_EQ(prompted, std::vector<std::string>{""});
    EXPECT_EQ(th::read_file(pkg / "cli.py"), "new cli");
    EXPECT_TRUE(logged(app_logging::Level::info, "starting"));
    EXPECT_TRUE(logged(app_logging::Level::info, "done"));

    th::write_file(pkg / "task.py", "def cmd_task():\n    pass\n");
    EXPECT_EQ(reg::run(pass()), std::nullopt);
    EXPECT_EQ(prompted, (std::vector<std::string>{"", "cmd_task"}));
    // The cli.py folder reaches the agent only when the caller gives it.
    const auto calls = agent.calls();
    ASSERT_EQ(calls.size(), 2u);
    auto adds = [](const std::vector<std::string>& call, const std::string& dir) {
        for (size_t i = 0; i + 1 < call.size(); ++i)
            if (call[i] == "--add-dir" && call[i + 1] == dir) return true;
        return false;
    };
    EXPECT_FALSE(adds(calls[0], pkg.string()));
    EXPECT_TRUE(adds(calls[1], pkg.string()));
}

TEST_F(RegistrationRun, AgentFailureWithOrWithoutItsReason) {
    agent.scripted("status", "1");
    agent.scripted("stderr", "boom");
    auto failed = reg::run(pass());
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->ok);
    EXPECT_EQ(failed->text, "registration failed: boom");
    EXPECT_TRUE(logged(app_logging::Level::error, "agent failed: boom"));
    EXPECT_FALSE(logged(app_logging::Level::info, "done"));

    capture.clear();
    reg::Pass quiet = pass();
    quiet.agent_failed_line = "";
    quiet.failure_names_reason = false;
    failed = reg::run(quiet);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->text, "registration failed");
    for (const auto& m : capture.messages()) EXPECT_FALSE(m.starts_with(": ")) << m;
    EXPECT_EQ(th::read_file(pkg / "cli.py"), "old cli\n");
}

}  // namespace
