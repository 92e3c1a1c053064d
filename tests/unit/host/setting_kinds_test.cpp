// Every command's settings of the wrong kind: a key of its template that holds a list, a
// mapping or nothing where a text belongs takes its default, and one warning line names
// the key, the kind expected and the default; the `config` entry itself too.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "vemtora/documents/flowkin.hpp"
#include "vemtora/documents/polywend.hpp"
#include "vemtora/documents/tomebrook.hpp"
#include "vemtora/projects/graftwell.hpp"
#include "vemtora/projects/sproutel.hpp"
#include "vemtora/projects/torvane.hpp"
#include "vemtora/publishing/pressling.hpp"
#include "vemtora/publishing/varnel.hpp"
#include "vemtora/release/quillary.hpp"
#include "vemtora/release/sendrift.hpp"
#include "vemtora/scripting/krestel.hpp"
#include "vemtora/scripting/moldery.hpp"

namespace {

using brenkit::app_logging::Capture;

struct Command {
    std::string name;
    std::string_view yaml;  // its configuration template
    std::function<void(const YAML::Node&)> build;
};

template <class App>
void build(const YAML::Node& configuration) {
    App app(configuration);
}

const std::vector<Command>& commands() {
    namespace v = vemtora;
    static const std::vector<Command> all = {
        {"quillary", v::quillary::DEFAULT_YAML_CONTENT, build<v::quillary::Quillary>},
        {"sendrift", v::sendrift::DEFAULT_YAML_CONTENT, build<v::sendrift::SendriftApp>},
        {"sproutel", v::sproutel::DEFAULT_YAML_CONTENT, build<v::sproutel::SproutelApp>},
        {"graftwell", v::graftwell::DEFAULT_YAML_CONTENT, build<v::graftwell::GraftwellApp>},
        {"torvane", v::torvane::DEFAULT_YAML_CONTENT, build<v::torvane::TorvaneApp>},
        {"tomebrook", v::tomebrook::DEFAULT_YAML_CONTENT, build<v::tomebrook::TomebrookApp>},
        {"polywend", v::polywend::DEFAULT_YAML_CONTENT, build<v::polywend::PolywendApp>},
        {"flowkin", v::flowkin::DEFAULT_YAML_CONTENT, build<v::flowkin::FlowkinApp>},
        {"krestel", v::krestel::DEFAULT_YAML_CONTENT, build<v::krestel::KrestelApp>},
        {"moldery", v::moldery::DEFAULT_YAML_CONTENT, build<v::moldery::MolderyApp>},
        {"pressling", v::pressling::DEFAULT_YAML_CONTENT, build<v::pressling::PresslingConverter>},
    };
    return all;
}

// Settings that are not read where the application is built, or not at all, and those
// for which nothing at all is a value of its own.
const std::set<std::string> not_read_here = {
    "quillary goal_path", "quillary skill_path", "quillary template_path",  // once the README kind is chosen
    "tomebrook backup_model", "moldery backup_model",                       // one model only
};
const std::set<std::string> nothing_is_a_value = {"pressling watermark_text"};  // no watermark text

// The folder the applications are built in; sproutel's asks for its goal and skill
// files there, from a repository that is not there.
struct Workspace {
    th::TempDir dir;
    th::CurrentDir cwd{dir.path()};
    th::ScopedEnv env{{{"VEMTORA_REPO_BASE_URL", "file:///nonexistent-vemtora-repo"}}};
};

std::vector<std::string> named_settings(const Capture& capture) {
    std::vector<std::string> lines;
    for (const auto& message : capture.messages())
        if (message.starts_with("⚠️ Config key ")) lines.push_back(message);
    return lines;
}

}  // namespace

TEST(SettingKinds, EveryTemplateSettingOfTheWrongKindIsNamedOnce) {
    // Every template with a `config` mapping (varnel's is flat: its own test below).
    std::set<std::string> covered;
    for (const auto& command : commands()) covered.insert(command.name);
    EXPECT_EQ(covered, th::command_names([](const auto& c) {
                  return !c.default_yaml.empty() && YAML::Load(std::string(c.default_yaml))["config"].IsMap();
              }));
    Workspace workspace;
    for (const auto& command : commands()) {
        const YAML::Node tmpl = YAML::Load(std::string(command.yaml));
        for (const auto& item : tmpl["config"]) {
            const std::string key = item.first.Scalar();
            // Booleans take every value by its truth, as the configurations always did.
            if (brenkit::fileIO::scalar_kind(item.second) == brenkit::fileIO::ScalarKind::boolean) continue;
            if (not_read_here.count(command.name + " " + key)) continue;
            for (const std::string wrong : {"[a, b]", "{a: b}", "~"}) {
                if (wrong == "[a, b]" && item.second.IsSequence()) continue;  // the backup model's list
                if (wrong == "~" && nothing_is_a_value.count(command.name + " " + key)) continue;
                SCOPED_TRACE(command.name + " " + key + ": " + wrong);
                YAML::Node configuration = YAML::Clone(tmpl);
                configuration["config"][key] = YAML::Load(wrong);
                Capture capture;
                command.build(configuration);
                const auto named = named_settings(capture);
                ASSERT_EQ(named.size(), 1u) << capture.text();
                EXPECT_TRUE(named[0].starts_with("⚠️ Config key '" + key + "' should be ")) << named[0];
            }
        }
        for (const std::string wrong : {"[a, b]", "~"}) {
            SCOPED_TRACE(command.name + " config: " + wrong);
            Capture capture;
            command.build(YAML::Load("config: " + wrong));
            EXPECT_EQ(named_settings(capture),
                      std::vector<std::string>{"⚠️ Config key 'config' should be a mapping but holds " +
                                               std::string(wrong == "~" ? "no value" : "a list") +
                                               "; every setting takes its default."});
        }
    }
}

// A setting's default is written twice, in the template a user starts from and as the
// reader's fallback for a configuration that leaves the key out; the two must not drift
// apart. The line of a setting of the wrong kind names the fallback, so each one is read
// off there and checked against its template. Where the fallback is meant to differ, the
// table says what it is and why.
const std::map<std::string, std::string> fallback_differs = {
    // A configuration without the key clones over SSH, as the command always did; the
    // template offers the address that works without a key.
    {"sproutel template_repo", "git@github.com:vemtora/Faldrun.git"},
    // Read and then replaced by the goal of the function the user picks.
    {"polywend goal_path", "_agy/goal/polywend-goal.yaml"},
};

TEST(SettingKinds, EveryFallbackIsItsTemplatesValue) {
    Workspace workspace;
    for (const auto& command : commands()) {
        const YAML::Node tmpl = YAML::Load(std::string(command.yaml));
        for (const auto& item : tmpl["config"]) {
            const std::string key = item.first.Scalar();
            if (!item.second.IsScalar()) continue;  // the backup model's list: ModelSettings
            if (brenkit::fileIO::scalar_kind(item.second) == brenkit::fileIO::ScalarKind::boolean) continue;
            if (not_read_here.count(command.name + " " + key)) continue;
            SCOPED_TRACE(command.name + " " + key);
            YAML::Node configuration = YAML::Clone(tmpl);
            configuration["config"][key] = YAML::Load("[a, b]");
            Capture capture;
            command.build(configuration);
            const auto named = named_settings(capture);
            ASSERT_EQ(named.size(), 1u) << capture.text();
            const std::string marker = "; the default '";
            const auto at = named[0].find(marker);
            ASSERT_NE(at, std::string::npos) << named[0];
            const std::string fallback = named[0].substr(at + marker.size(), named[0].size() - at - marker.size() - 10);
            ASSERT_TRUE(named[0].ends_with("' is used.")) << named[0];
            const auto differs = fallback_differs.find(command.name + " " + key);
            EXPECT_EQ(fallback, differs == fallback_differs.end() ? item.second.Scalar() : differs->second);
        }
    }
}

// The example of a user's: the scripts go into the default folder, and the line says so.
TEST(SettingKinds, ListWhereAFolderBelongsTakesTheDefaultFolder) {
    Workspace workspace;
    Capture capture;
    vemtora::krestel::KrestelApp app(YAML::Load("config:\n  output_dir: [a, b]\n"));
    EXPECT_EQ(app.output_dir, "./gen-bash");
    EXPECT_EQ(named_settings(capture),
              std::vector<std::string>{
                  "⚠️ Config key 'output_dir' should be a text but holds a list; the default './gen-bash' is used."});
}

// varnel's flat configuration: what its page would silently show instead is named.
TEST(SettingKinds, VarnelNamesEntriesThatHoldNoText) {
    Workspace workspace;
    th::write_file(workspace.dir / "guide.html", "guide");
    Capture capture;
    vemtora::varnel::VarnelApp app(YAML::Load("document_title: [a]\ndownload_link: {a: b}\n"
                                              "document1_title: [x]\ndocument1_file: guide.html\n"
                                              "document1_description: {x: y}\n"));
    ASSERT_TRUE(app.run().ok) << capture.text();
    EXPECT_EQ(named_settings(capture),
              (std::vector<std::string>{
                  "⚠️ Config key 'document_title' should be a text but holds a list; the default 'Documentation' is used.",
                  "⚠️ Config key 'download_link' should be a text but holds a mapping; the default '' is used.",
                  "⚠️ Config key 'document1_title' should be a text but holds a list; the default 'Document 1' is used.",
                  "⚠️ Config key 'document1_description' should be a text but holds a mapping; the default '' is used.",
              }));
}
