// What the registered commands declare beyond their help pages, which the tests compare
// with tests/golden/help/ (names, help texts, epilogs and options as users see them).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "host/registry.hpp"

using vemtora::OptionKind;

// A bare -c or -o is no usage error for these options alone: it means "ask" or "here".
// The page shows such an option like any other that takes a value.
TEST(CommandCatalog, OnlyTheseOptionsTakeAnOptionalValue) {
    const std::set<std::pair<std::string, std::string>> optional = {
        {"pressling", "--config"}, {"pressling", "--output-dir"}, {"varnel", "--config"}};
    std::set<std::pair<std::string, std::string>> found;
    for (const auto& command : host::commands())
        for (const auto& option : command.options)
            if (option.kind == OptionKind::optional_value) found.insert({command.name, option.long_name});
    EXPECT_EQ(found, optional);
}
