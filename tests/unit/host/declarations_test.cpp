#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"
#include "host/registry.hpp"
#include "vemtora/release/quillary.hpp"
#include "vemtora/release/sendrift.hpp"

using ::testing::HasSubstr;

TEST(Declarations, TemplatesWrittenByGenerateConfig) {
    const std::vector<std::tuple<vemtora::CommandDecl, std::string_view, size_t>> cases = {
        {vemtora::quillary::cmd_quillary(), vemtora::quillary::DEFAULT_YAML_CONTENT, 8},
        {vemtora::sendrift::cmd_sendrift(), vemtora::sendrift::DEFAULT_YAML_CONTENT, 6},
    };
    for (const auto& [decl, yaml, lines] : cases) {
        th::TempDir dir;
        th::CurrentDir cwd(dir.path());
        testing::internal::CaptureStdout();
        EXPECT_EQ(host::run_commands({decl}, {decl.name, "--generate-config", "-c", "missing.yaml"}), 0);
        testing::internal::GetCapturedStdout();
        std::string text = th::read_file(dir / ("config_" + decl.name + "_template.yaml"));
        EXPECT_EQ(text, yaml);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(lines));
        auto loaded = YAML::Load(text);
        EXPECT_EQ(loaded["config"]["backup_model"][0].as<std::string>(), "gemini-3.5-flash-l");
    }
    EXPECT_THAT(std::string(vemtora::quillary::DEFAULT_YAML_CONTENT),
                HasSubstr("  template_path: \"template/dovud_readme_template.md\"\n"));
}

TEST(Declarations, BareConfigIsAUsageErrorButAnEmptyValueStartsTheChoice) {
    th::TempDir dir;
    th::CurrentDir cwd(dir.path());
    th::FakeAgent agent(dir / "agent");
    auto decl = vemtora::sendrift::cmd_sendrift();
    testing::internal::CaptureStderr();
    EXPECT_EQ(host::run_commands({decl}, {"sendrift", "--debug", "-c"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Usage: vemtora sendrift [OPTIONS]\nTry 'vemtora sendrift --help' for help.\n\n"
              "Error: Option '-c' requires an argument.\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(host::run_commands({decl}, {"sendrift", "--config", ""}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "❌ Error: No configuration file selected or found.\n");
}

// What a declaration says the command is agrees with the options it declares: the tables
// of the tests take their sets of commands from these facts.
TEST(Declarations, WhatACommandIsAgreesWithItsOptions) {
    for (const auto& command : host::commands()) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(command.runs_agent, command.takes("--model"));
        EXPECT_EQ(!command.default_yaml.empty(), command.takes("--config"));
        EXPECT_EQ(!command.default_yaml.empty(), command.takes("--generate-config"));
    }
}
