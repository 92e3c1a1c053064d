// The template command's pure steps: the type menu, the scan exclusions and the name
// of the saved template.
#include <gtest/gtest.h>

#include <algorithm>

#include "vemtora/scripting/moldery.hpp"

namespace {

namespace m = vemtora::moldery;

TEST(MolderyFileType, MenuEntries) {
    const auto& menu = m::type_menu();
    ASSERT_EQ(menu.size(), 4u);
    struct Case {
        std::string ext, label;
        bool all_files;
    };
    const std::vector<Case> expected = {{".md", "Markdown", false}, {".c", "C", false}, {".py", "Python", false},
                                        {"", "所有", true}};
    for (size_t i = 0; i < menu.size(); ++i) {
        auto type = m::file_type_of(menu[i]);
        EXPECT_EQ(type.ext, expected[i].ext) << menu[i];
        EXPECT_EQ(type.label, expected[i].label) << menu[i];
        EXPECT_EQ(type.all_files, expected[i].all_files) << menu[i];
    }
}

TEST(MolderyExclusions, OutputFolderNameJoinsFixedNames) {
    const std::vector<std::string> fixed = {".agents", ".git", ".venv", "__pycache__", "_agy", "build", "dist",
                                            "vemtora.egg-info"};
    auto with = [&](const std::string& extra) {
        auto names = fixed;
        names.push_back(extra);
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(m::excluded_names("./gen-template"), with("gen-template"));
    EXPECT_EQ(m::excluded_names("./out/"), with("out"));
    EXPECT_EQ(m::excluded_names("."), fixed);
    EXPECT_EQ(m::excluded_names(""), fixed);
    EXPECT_EQ(m::excluded_names("dist"), fixed);
}

TEST(MolderyTag, FirstTenLinesOnly) {
    auto lines = [](int tag_line, const std::string& tag) {
        std::string text;
        for (int i = 1; i <= 12; ++i) text += (i == tag_line ? tag : "line") + "\n";
        return text;
    };
    EXPECT_EQ(m::tag_file_name(lines(3, "FileName: uart_driver.c")), "uart_driver.c");
    EXPECT_EQ(m::tag_file_name(lines(10, "<!-- filename: api_doc.md -->")), "api_doc.md");
    EXPECT_EQ(m::tag_file_name(lines(11, "filename: late.md")), std::nullopt);
    EXPECT_EQ(m::tag_file_name("filename:api_doc.md"), "api_doc.md");
    EXPECT_EQ(m::tag_file_name("filename: my template.md"), "my");
    EXPECT_EQ(m::tag_file_name("no tag here"), std::nullopt);
}

TEST(MolderyOutputName, BaseNameAndExtension) {
    struct Case {
        std::optional<std::string> tag;
        size_t type;  // menu entry, 0-based
        std::string first_pick;
        std::string base, ext;
    };
    const std::vector<Case> cases = {
        {"uart_driver.c", 1, "src/x.c", "uart_driver", ".c"},
        {std::nullopt, 1, "src/x.c", "custom_template", ".c"},
        {"guide.txt", 0, "a.md", "guide.txt", ".md"},
        {"Guide.MD", 0, "a.md", "Guide.MD", ".md"},
        {std::nullopt, 3, "Makefile", "custom_template", ""},
        {std::nullopt, 3, "docs/notes.txt", "custom_template", ".txt"},
        {std::nullopt, 3, ".bashrc", "custom_template", ""},
        {std::nullopt, 3, "notes.", "custom_template", ""},
        {"run.sh", 3, "tools/run.sh", "run", ".sh"},
        // a tag that would name the output folder's parent
        {"..", 3, "Makefile", "custom_template", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag.value_or("<none>") + " " + c.first_pick);
        auto [base, ext] = m::output_name(c.tag, m::file_type_of(m::type_menu()[c.type]), c.first_pick);
        EXPECT_EQ(base, c.base);
        EXPECT_EQ(ext, c.ext);
    }
}

}  // namespace
