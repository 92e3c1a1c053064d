// The sample project's setup.py given the new project's names, and the module's base name.
#include <gtest/gtest.h>

#include "vemtora/projects/sproutel.hpp"

namespace sp = vemtora::sproutel;

TEST(SproutelSetup, PatchesNameDescriptionAndConsoleEntry) {
    struct Case {
        std::string in, out;
    };
    for (const auto& c : std::vector<Case>{
             {"name='faldrun',", "name=\"myproject\","},
             {"name=\"faldrun\" name='faldrun\"", "name=\"myproject\" name=\"myproject\""},
             {"description='Faldrun CLI Application'", "description=\"MyProject CLI Application\""},
             {"description='A Faldrun tool'", "description='A Faldrun tool'"},
             {"[\"faldrun-cli=faldrun.cli:main\"]", "['my-cli=myproject.cli:main']"},
             {"'faldrun-cli=faldrunXcli:main'", "'faldrun-cli=faldrunXcli:main'"},
             {"name = 'faldrun'", "name = 'faldrun'"},
         }) {
        EXPECT_EQ(sp::patch_setup_py(c.in, "MyProject", "my-cli", "myproject"), c.out) << c.in;
    }
    // Replacement texts are taken literally.
    EXPECT_EQ(sp::patch_setup_py("name='faldrun'", "P", "c", "a\\1$0"), "name=\"a\\1$0\"");
}

TEST(SproutelSetup, BaseNameDropsEveryPySuffix) {
    EXPECT_EQ(sp::base_name_of("start_task.py"), "start_task");
    EXPECT_EQ(sp::base_name_of("my.pyx_tool.py"), "myx_tool");
}
