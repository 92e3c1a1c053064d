#include <gtest/gtest.h>

#include "host/help.hpp"
#include "host/registry.hpp"

using vemtora::CommandDecl;
using vemtora::OptionKind;
namespace help = host::help;

namespace {

CommandDecl page_command() {
    CommandDecl d;
    d.name = "demo";
    d.help = "自動化 commit & push CLI 工具。";
    d.epilog =
        "\b\nExamples:\n  1. First:\n     vemtora demo -c\n\b\n  2. Second:\n     vemtora demo\n\n"
        "  Plain paragraph that is long enough to be filled again at the page width, so that its words\n"
        "move to the next line.\n";
    d.options = {
        {.long_name = "--config", .short_name = "-c", .kind = OptionKind::value,
         .help = "Specify the YAML config file path. If -c is provided without arguments, it will trigger "
                 "interactive config selection.",
         .metavar = "PATH"},
        {.long_name = "--debug", .kind = OptionKind::flag, .help = "Enable debug mode"},
        {.long_name = "--skip-permissions", .kind = OptionKind::flag_pair, .help = "Skip", .default_on = true,
         .negative_name = "--no-skip-permissions"},
    };
    return d;
}

}  // namespace

TEST(HostHelp, CommandPageLaysOutOptionsAndEpilog) {
    EXPECT_EQ(help::command_page(page_command(), 78),
              "Usage: vemtora demo [OPTIONS]\n"
              "\n"
              "  自動化 commit & push CLI 工具。\n"
              "\n"
              "Options:\n"
              "  -c, --config PATH               Specify the YAML config file path. If -c is\n"
              "                                  provided without arguments, it will trigger\n"
              "                                  interactive config selection.\n"
              "  --debug                         Enable debug mode\n"
              "  --skip-permissions / --no-skip-permissions\n"
              "                                  Skip\n"
              "  --help                          Show this message and exit.\n"
              "\n"
              "  Examples:\n"
              "    1. First:\n"
              "       vemtora demo -c\n"
              "\n"
              "    2. Second:\n"
              "       vemtora demo\n"
              "\n"
              "    Plain paragraph that is long enough to be filled again at the page width,\n"
              "    so that its words move to the next line.\n");
}

TEST(HostHelp, GroupPageListsCommandsByNameWithShortHelp) {
    CommandDecl b{.name = "beta", .help = "Convert Notion exported .md files to HTML pages. And more."};
    CommandDecl a{.name = "alpha", .help = "自動化 commit & push CLI 工具。"};
    EXPECT_EQ(help::group_page({b, a}, 78),
              "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\n"
              "\n"
              "Options:\n"
              "  --help  Show this message and exit.\n"
              "\n"
              "Commands:\n"
              "  alpha  自動化 commit & push CLI 工具。\n"
              "  beta   Convert Notion exported .md files to HTML pages.\n");
}

TEST(HostHelp, ShortHelpTakesFirstSentenceOrTruncates) {
    const std::vector<std::tuple<std::string, size_t, std::string>> cases = {
        {"Generate an Varnel page from a YAML configuration file.", 67,
         "Generate an Varnel page from a YAML configuration file."},
        {"One. Two.", 45, "One."},
        {"alpha beta gamma delta", 14, "alpha beta..."},
        {"\b\nMarked help", 45, "Marked help"},
        {"", 45, ""},
    };
    for (const auto& [text, limit, expected] : cases) EXPECT_EQ(help::short_help(text, limit), expected) << text;
}

TEST(HostHelp, WrapBreaksLongWordsAndHyphenatedWords) {
    EXPECT_EQ(help::wrap_text("aaaa bbbbbbbbbbbb", 6), "aaaa b\nbbbbbb\nbbbbb");
    EXPECT_EQ(help::wrap_text("see config-dev files", 12), "see config-\ndev files");
    EXPECT_EQ(help::wrap_text("a\tb", 20), "a       b");
}

TEST(HostHelp, CleandocDropsCommonIndentAndOuterBlankLines) {
    EXPECT_EQ(help::cleandoc("\n  First\n    second\n  third\n\n"), "First\n  second\nthird");
    EXPECT_EQ(help::cleandoc("\b\nExamples:\n  x\n"), "\b\nExamples:\n  x");
}
