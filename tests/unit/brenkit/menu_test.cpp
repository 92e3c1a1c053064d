#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef __linux__
#include <climits>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "support/console.hpp"

using namespace brenkit::fileIO;
using ::testing::HasSubstr;
using ::testing::Not;

#ifdef __linux__
namespace {

// Folders nested below `top` until a path through them is longer than the system takes
// (PATH_MAX), with a page at the bottom. Each is made and later removed through the one
// above it: a whole path that long is refused by every call that takes one.
class DeepFolders {
  public:
    explicit DeepFolders(const fs::path& top) {
        int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fds_.push_back(fd);
        size_t length = top.native().size();
        while (length <= PATH_MAX) {
            ::mkdirat(fd, name_.c_str(), 0755);
            fd = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            fds_.push_back(fd);
            length += 1 + name_.size();
        }
        ::close(::openat(fd, "page.md", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    ~DeepFolders() {
        ::unlinkat(fds_.back(), "page.md", 0);
        for (size_t i = fds_.size() - 1; i > 0; --i) {
            ::close(fds_[i]);
            ::unlinkat(fds_[i - 1], name_.c_str(), AT_REMOVEDIR);
        }
        ::close(fds_[0]);
    }
    DeepFolders(const DeepFolders&) = delete;
    DeepFolders& operator=(const DeepFolders&) = delete;
    const std::string& name() const { return name_; }

  private:
    const std::string name_ = std::string(200, 'd');
    std::vector<int> fds_;
};

}  // namespace

// What a search cannot take is named, never left out in silence: a name that is not UTF-8
// (it could not be written into a page, a configuration or an archive as it is) and a
// folder too deep to be opened by its path. The rest is found as usual.
TEST(FileIOFind, EntriesTheSearchCannotTakeAreNamed) {
    th::TempDir dir;
    th::write_file(dir / "good.md", "x");
    th::write_file(dir / "d\xff-v2.md", "x");
    fs::create_directories(dir / "f\xfe");
    DeepFolders deep(dir.path());
    brenkit::app_logging::Capture cap;
    auto found = find_files_with_extensions(dir.path(), {.extensions = {".md"}, .recursive = true});
    EXPECT_EQ(found.paths, (std::vector<fs::path>{dir / "good.md"}));
    // Named as a terminal is to show it.
    EXPECT_THAT(cap.text(), HasSubstr(dir.path().string() + "/d\\xff-v2.md\n"));
    EXPECT_THAT(cap.text(), HasSubstr("UTF-8"));
    EXPECT_THAT(cap.text(), HasSubstr(deep.name()));
    EXPECT_THAT(cap.text(), HasSubstr(": File name too long\n"));

    // A list of folders follows the same rule.
    cap.clear();
    EXPECT_EQ(get_directory_list(dir.path()).names, (std::vector<std::string>{deep.name()}));
    EXPECT_THAT(cap.text(), HasSubstr(dir.path().string() + "/f\\xfe\n"));
}
#endif

TEST(FileIOFind, MatchesExtensionsAndPrefixesSortedAndSkipsExcludedFolders) {
    th::TempDir dir;
    for (const char* f : {"b.yaml", "a.YAML", "c.md", "x_notes.yaml", "sub/d.yaml", "sub/deep/e.yml", "build/f.yaml",
                          ".hidden.yaml"}) {
        th::write_file(dir / f, "x");
    }
    fs::create_directory(dir / "folder.yaml");  // a folder never counts as a file

    auto flat = find_files_with_extensions(dir.path(), {.extensions = {".yaml", "yml"}});
    EXPECT_EQ(flat.names, (std::vector<std::string>{".hidden", "a", "b", "x_notes"}));
    EXPECT_EQ(flat.paths.front(), dir / ".hidden.yaml");

    FindOptions deep{.extensions = {".yaml", ".yml"}, .recursive = true, .prefix = {"d", "e", "f", "a"},
                     .exclude_paths = {"build"}};
    auto found = find_files_with_extensions(dir.path(), deep);
    EXPECT_EQ(found.paths, (std::vector<fs::path>{dir / "a.YAML", dir / "sub/d.yaml", dir / "sub/deep/e.yml"}));
    EXPECT_EQ(found.names, (std::vector<std::string>{"a", "d", "e"}));

    deep.exclude_paths = {"sub/deep"};
    EXPECT_EQ(find_files_with_extensions(dir.path(), deep).names, (std::vector<std::string>{"a", "f", "d"}));
    EXPECT_TRUE(find_files_with_extensions(dir / "missing").paths.empty());
    EXPECT_EQ(find_files_with_extensions(dir / "sub").names, (std::vector<std::string>{"d"}));
}

TEST(FileIOMenu, SelectionAnswers) {
    using V = std::vector<size_t>;
    struct Case {
        const char* answer;
        std::optional<V> picked;
    };
    const Case cases[] = {
        {"", V{}},           {"   ", V{}},        {"2", V{1}},          {"3 1", V{2, 0}},
        {"1,3", V{0, 2}},    {" 2-4 ", V{1, 2, 3}}, {"4, 1-2,1", V{3, 0, 1}}, {"a", V{0, 1, 2, 3}},
        {"A", V{0, 1, 2, 3}}, {"0", std::nullopt}, {"5", std::nullopt}, {"2-9", std::nullopt},
        {"3-2", std::nullopt}, {"x", std::nullopt}, {"1-", std::nullopt}, {"-1", std::nullopt},
        {"1.5", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_selection(c.answer, 4), c.picked) << "'" << c.answer << "'";
}

TEST(FileIOMenu, FileMenuAsksAgainOnInvalidAnswersAndAbortsAtEndOfInput) {
    std::vector<fs::path> paths{"p/a.md", "p/b.md", "p/c.md"};
    std::vector<std::string> names{"a", "b", "c"};
    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("7\n3,1\n");
        auto chosen = interactive_select_files(paths, names, ".md");
        EXPECT_EQ(chosen, (std::vector<Choice>{{"p/c.md", "c"}, {"p/a.md", "a"}}));
    }
    {
        th::StdinFrom in("\n");
        EXPECT_TRUE(interactive_select_files(paths, names).empty());
    }
    {
        th::StdinFrom in("nope\n");
        EXPECT_THROW(interactive_select_files(paths, names), support::Aborted);
    }
    auto out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("  1. a.md\n  2. b.md\n  3. c.md\n"), std::string::npos) << out;
    EXPECT_NE(out.find("「7」"), std::string::npos) << out;
}

TEST(FileIOMenu, ScanTakesALoneFileWithoutAskingAndLeavesOutExcludedNames) {
    th::TempDir dir;
    th::write_file(dir / "docs/guide.md", "x");
    th::write_file(dir / "docs/README.md", "x");
    th::write_file(dir / "node_modules/pkg.md", "x");
    ScanOptions options{.extensions = {".md"}, .exclude_names = {"README"}, .exclude_paths = {"node_modules"},
                        .auto_select_single = true};
    th::StdinFrom in("");  // any question would abort
    auto chosen = scan_and_select_files(dir.path(), options);
    EXPECT_EQ(chosen, (std::vector<Choice>{{dir / "docs/guide.md", "guide"}}));

    options.exclude_names.clear();
    options.auto_select_single = false;
    testing::internal::CaptureStdout();
    {
        th::StdinFrom answer("2\n");
        chosen = scan_and_select_files(dir.path(), options);
    }
    auto out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(chosen, (std::vector<Choice>{{dir / "docs/guide.md", "guide"}}));
    EXPECT_NE(out.find("  1. docs/README.md\n  2. docs/guide.md\n"), std::string::npos) << out;
}

TEST(FileIOMenu, SelectOptionTakesTheDefaultOnEnterAndAsksAgainWhenInvalid) {
    const std::vector<std::string> options{"Python", "C MCU Project"};
    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("\n3\nx\n2\n");
        EXPECT_EQ(select_option("請選擇", options, "1", "💬 類型"), "Python");
        EXPECT_EQ(select_option("請選擇", options, "1"), "C MCU Project");
    }
    auto out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("💬 類型\n  1. Python\n  2. C MCU Project\n請選擇 [1]: ", 0), 0u) << out;
    EXPECT_NE(out.find("「3」"), std::string::npos) << out;
}

// An option text that already starts with its own number is shown as it is, not numbered
// again; the text chosen is the option's text either way.
TEST(FileIOMenu, OptionsThatCarryTheirOwnNumberAreNotNumberedAgain) {
    const std::vector<std::string> options{"1. 發布至github", "3. not its own", "3.5 GB", "4.", "10 items"};
    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("1\n");
        EXPECT_EQ(select_option("請選擇", options, "1", "選項"), "1. 發布至github");
    }
    auto out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("選項\n  1. 發布至github\n  2. 3. not its own\n  3. 3.5 GB\n  4.\n  5. 10 items\n", 0), 0u)
        << out;
}

// A menu of which one pick counts does not offer several: its question says nothing of
// several picks, ranges or "a", and such an answer is asked again.
TEST(FileIOMenu, ASingleChoiceMenuTakesOneNumber) {
    std::vector<fs::path> paths{"p/a.md", "p/b.md", "p/c.md"};
    std::vector<std::string> names{"a", "b", "c"};
    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("1 2\na\n2-3\n2\n");
        EXPECT_EQ(interactive_select_files(paths, names, ".md", Picks::one), (std::vector<Choice>{{"p/b.md", "b"}}));
    }
    {
        th::StdinFrom in("\n");
        EXPECT_TRUE(interactive_select_files(paths, names, ".md", Picks::one).empty());
    }
    auto single = testing::internal::GetCapturedStdout();
    EXPECT_NE(single.find("請輸入編號（直接按 Enter 不選）: "), std::string::npos) << single;
    EXPECT_EQ(single.find("可多選"), std::string::npos) << single;
    EXPECT_NE(single.find("❌ 無效的選擇：「1 2」，請輸入 1 到 3 之間的編號。"), std::string::npos) << single;

    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("1 2\n");
        EXPECT_EQ(interactive_select_files(paths, names, ".md").size(), 2u);
    }
    auto several = testing::internal::GetCapturedStdout();
    EXPECT_NE(several.find("請輸入編號（可多選，以空白或逗號分隔，範圍如 2-5，a 為全部，直接按 Enter 不選）: "),
              std::string::npos)
        << several;
}
