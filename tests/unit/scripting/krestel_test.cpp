// The file name a generated script asks for with its tag.
#include <gtest/gtest.h>

#include "vemtora/scripting/krestel.hpp"

namespace {

using vemtora::krestel::script_tag;

TEST(KrestelScriptTag, StemFromFirstTag) {
    struct Case {
        std::string script;
        std::string tag;
        std::string stem;
    };
    const std::vector<Case> cases = {
        {"#!/bin/bash\n# Script Name: sync_backup.sh\n", "sync_backup.sh", "sync_backup"},
        {"Script Name: tools.new.sh", "tools.new.sh", "tools.new"},
        {"Script Name: deploy", "deploy", "deploy"},
        {"Script Name: .env.sh", ".env.sh", ".env"},
        {"Script Name: bin/run.sh", "bin", "bin"},
        {"Script Name: my script.sh", "my", "my"},
        {"Script Name:\t tab.sh\n", "tab.sh", "tab"},
        {"# Script Name:\necho.sh\n# Script Name: later.sh\n", "later.sh", "later"},
        {"Script Name: 備份.sh", "備份.sh", "備份"},
        {"Script Name: notes.", "notes.", "notes."},
        {"Script Name: first.sh\nScript Name: second.sh", "first.sh", "first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        auto tag = script_tag(c.script);
        ASSERT_TRUE(tag);
        EXPECT_EQ(tag->tag, c.tag);
        EXPECT_EQ(tag->stem, c.stem);
    }
}

// No tag, another case, a tag with nothing on its own line, or a tag that would name
// the output folder or its parent.
TEST(KrestelScriptTag, NoUsableTag) {
    for (std::string script : {"echo hi", "script name: x.sh", "Script Name: ..", "Script Name: .", "Script Name: ../x",
                               "# Script Name:\necho.sh\n", "# Script Name:   \r\n  next_line.sh", "Script Name:\v\fx.sh"})
        EXPECT_FALSE(script_tag(script)) << script;
}

}  // namespace
