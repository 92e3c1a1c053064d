#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#ifdef __linux__
#include <dlfcn.h>
#endif

#include "brenkit/fileIO.hpp"
#include "harness.hpp"

using namespace brenkit::fileIO;
using brenkit::app_logging::Capture;
using brenkit::app_logging::lazy_logger;

namespace {

// Runs the test body from inside a folder, going back afterwards.
class InFolder {
  public:
    explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous_); }

  private:
    fs::path previous_;
};

}  // namespace

TEST(FileIOEditor, ReturnsWhatWasAddedWithoutCommentLines) {
    th::TempDir dir;
    const auto& log = lazy_logger("EditorTest");
    auto editor = (th::fakes_dir() / "editor-append").string();
    struct Case {
        std::string added;
        std::string status;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"\n  第一行需求\n# 註解\n第二行 #不是註解\n\n", "0", "第一行需求\n第二行 #不是註解"},
        {"", "0", ""},
        {"#only a comment\n", "0", ""},
        {"typed\n", "3", std::nullopt},  // a failing editor gives no answer at all, not what it held
    };
    for (const auto& c : cases) {
        Capture cap;
        th::ScopedEnv env({{"VISUAL", std::nullopt},
                           {"EDITOR", editor + " --wait"},  // an editor with arguments works
                           {"EDITOR_TEXT", c.added},
                           {"EDITOR_STATUS", c.status},
                           {"EDITOR_SEEN", (dir / "seen.txt").string()}});
        EXPECT_EQ(get_user_input_via_editor("# 請輸入需求\n", "需求", &log), c.expected) << c.added;
        EXPECT_EQ(th::read_file(dir / "seen.txt"), "# 請輸入需求\n");
        if (c.status != "0") {
            EXPECT_NE(cap.text().find("❌"), std::string::npos) << cap.text();
        }
    }
    // VISUAL comes before EDITOR.
    th::ScopedEnv env({{"VISUAL", editor}, {"EDITOR", "false"}, {"EDITOR_TEXT", "from visual"}, {"EDITOR_STATUS", "0"}});
    EXPECT_EQ(get_user_input_via_editor(""), "from visual");
}

// An editor that saves UTF-8 with a byte-order mark: the mark is no text, and the
// instruction line after it is still a comment.
TEST(FileIOEditor, ByteOrderMarkIsDropped) {
    th::ScopedEnv env({{"VISUAL", std::nullopt},
                       {"EDITOR", (th::fakes_dir() / "editor-append").string()},
                       {"EDITOR_TEXT", "需求\n"},
                       {"EDITOR_STATUS", "0"},
                       {"EDITOR_BOM", "1"}});
    EXPECT_EQ(get_user_input_via_editor("# 請輸入需求\n"), "需求");
    EXPECT_EQ(get_user_input_via_editor(""), "需求");
}

// Text saved as UTF-16 (Notepad's "Unicode") is read whole, not cut at its first NUL;
// text in an ANSI code page is taken with U+FFFD for what is not UTF-8, and a warning names
// the file and the encoding it should have been saved in. No NUL reaches the answer.
TEST(FileIOEditor, TextInAnyEncodingIsReadOrNamed) {
    const auto& log = lazy_logger("EditorTest");
    struct Case {
        const char* encoding;
        std::string added;
        std::string expected;
        bool warned;
    };
    const Case cases[] = {
        {"UTF-16LE", "需求 😀\r\n第二行\r\n", "需求 😀\n第二行", false},
        {"UTF-16BE", "需求\n", "需求", false},
        {"CP1252", "café\n", "caf\xEF\xBF\xBD", true},
        {"", std::string("a\0b\n", 4), "a\xEF\xBF\xBD" "b", true},
    };
    for (const auto& c : cases) {
        Capture cap;
        th::ScopedEnv env({{"VISUAL", std::nullopt},
                           {"EDITOR", (th::fakes_dir() / "editor-append").string()},
                           {"EDITOR_TEXT", std::nullopt},
                           {"EDITOR_TEXT_FILE", std::nullopt},
                           {"EDITOR_ENCODING", c.encoding},
                           {"EDITOR_STATUS", "0"}});
        th::TempDir dir;
        th::write_file(dir / "typed", c.added);
        th::ScopedEnv text({{"EDITOR_TEXT_FILE", (dir / "typed").string()}});
        const auto typed = get_user_input_via_editor("# 請輸入需求\n", "需求", &log);
        EXPECT_EQ(typed, c.expected) << c.encoding;
        EXPECT_EQ(typed.value_or("").find('\0'), std::string::npos) << c.encoding;
        if (c.warned) {
            EXPECT_THAT(cap.text(), testing::HasSubstr("⚠️ 需求不是 UTF-8 文字"));
            EXPECT_THAT(cap.text(), testing::HasSubstr("請以 UTF-8 (或含 BOM 的 UTF-16) 儲存"));
            EXPECT_THAT(cap.text(), testing::HasSubstr("input.md"));
        } else {
            EXPECT_EQ(cap.text().find("⚠️"), std::string::npos) << cap.text();
        }
        settle_typed_input(false);
    }
}

TEST(FileIODownload, FetchesMissingFilesOnceAndLeavesNothingOnFailure) {
    th::TempDir repo;
    th::TempDir work;
    th::write_file(repo / "_agy/goal/readme.yaml", "goal: 寫 README\n");
    InFolder here(work.path());
    th::ScopedEnv env({{"VEMTORA_REPO_BASE_URL", "file://" + repo.path().string() + "/"}});
    EXPECT_EQ(repo_url("/_agy/goal/readme.yaml"), "file://" + repo.path().string() + "/_agy/goal/readme.yaml");

    const auto& log = lazy_logger("DownloadTest");
    Capture cap;
    auto target = fs::path("_agy/goal/readme.yaml");
#ifdef __linux__
    // libcurl comes in with the first download, not with the program.
    auto curl_loaded = [] { return dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD) != nullptr; };
    EXPECT_FALSE(curl_loaded());
#endif
    EXPECT_EQ(load_or_download_content(target, repo_url("_agy/goal/readme.yaml"), "目標檔", &log), "goal: 寫 README\n");
#ifdef __linux__
    EXPECT_TRUE(curl_loaded());
#endif
    EXPECT_EQ(th::read_file(work / target), "goal: 寫 README\n");

    // A present file is read, not fetched again.
    th::write_file(work / target, "local\n");
    EXPECT_EQ(load_or_download_content(target, repo_url("_agy/goal/readme.yaml"), "目標檔", &log), "local\n");

    cap.clear();
    auto missing = fs::path("_agy/skill/none.yaml");
    EXPECT_EQ(load_or_download_content(missing, repo_url("_agy/skill/none.yaml"), "技能檔", &log), "");
    EXPECT_EQ(load_or_download_content(missing, "http://127.0.0.1:1/x.yaml", "技能檔", &log), "");
    EXPECT_EQ(load_or_download_content(missing, "gopher://example.invalid/x", "技能檔", &log), "");
    EXPECT_FALSE(fs::exists(work / missing));
    EXPECT_TRUE(!fs::exists(work / "_agy/skill") || fs::is_empty(work / "_agy/skill"));  // no temporary file either
    EXPECT_EQ(cap.records().size(), 6u) << cap.text();  // one waiting and one error line each
}

// Each path segment is percent-encoded, so names with blanks, "#", "?", "%" or
// characters outside ASCII download as the files of those names.
TEST(FileIODownload, AddressesEncodeEachPathSegment) {
    th::TempDir repo;
    th::TempDir work;
    InFolder here(work.path());
    th::ScopedEnv env({{"VEMTORA_REPO_BASE_URL", "file://" + repo.path().string()}});
    const std::string base = "file://" + repo.path().string();
    EXPECT_EQ(repo_url("_agy/goal/my goal #1?100%.yaml"), base + "/_agy/goal/my%20goal%20%231%3F100%25.yaml");
    EXPECT_EQ(repo_url("template/目標 a+b.md"), base + "/template/%E7%9B%AE%E6%A8%99%20a%2Bb.md");
    EXPECT_EQ(repo_url("a-b_c.~d/e"), base + "/a-b_c.~d/e");

    const auto& log = lazy_logger("DownloadTest");
    Capture cap;
    for (const std::string name : {"_agy/goal/my goal #1?100%.yaml", "template/目標 a+b.md"}) {
        th::write_file(repo / name, "content of " + name);
        EXPECT_EQ(load_or_download_content(name, repo_url(name), "檔案", &log), "content of " + name) << cap.text();
        EXPECT_EQ(th::read_file(work / name), "content of " + name);
    }
}

// A plain folder is taken as that folder: an absolute path (on Windows also one with a
// drive letter, either separator) becomes its file address, each name encoded; an address
// stays as it is.
TEST(FileIODownload, AnAbsoluteFolderIsTakenAsItsFileAddress) {
    const struct {
        std::string value;
        bool windows;
        std::string url;
    } cases[] = {
        {"/home/me/agy-files", false, "file:///home/me/agy-files"},
        {"/srv/共用 檔案#1//repo/", false, "file:///srv/%E5%85%B1%E7%94%A8%20%E6%AA%94%E6%A1%88%231/repo"},
        {"/home/me/agy-files", true, "file:///home/me/agy-files"},
        {"/", false, "file:///"},
        {"C:\\Users\\me\\agy files", true, "file:///C:/Users/me/agy%20files"},
        {"d:/agy/", true, "file:///d:/agy"},
        {"C:\\Users", false, "C:\\Users"},  // no drive letters here: not a path, left to the download
        {"relative/folder", false, "relative/folder"},
        {"file:///home/me/agy-files/", false, "file:///home/me/agy-files/"},
        {"https://example.org/raw/main/", true, "https://example.org/raw/main/"},
    };
    for (const auto& c : cases) EXPECT_EQ(base_url_of(c.value, c.windows), c.url) << c.value << " " << c.windows;

    th::TempDir repo;
    th::TempDir work;
    const fs::path folder = repo / "agy 檔案";
    th::write_file(folder / "_agy/goal/readme.yaml", "goal: 寫 README\n");
    InFolder here(work.path());
    th::ScopedEnv env({{"VEMTORA_REPO_BASE_URL", folder.string()}});
    Capture cap;
    EXPECT_EQ(load_or_download_content("_agy/goal/readme.yaml", repo_url("_agy/goal/readme.yaml"), "目標檔",
                                       &lazy_logger("DownloadTest")),
              "goal: 寫 README\n")
        << cap.text();
}

TEST(FileIODownload, RegistryMenuSavesTheChosenDocumentsInTheOutputFolder) {
    th::TempDir repo;
    th::TempDir out;
    th::write_file(repo / "manual/a.md", "A");
    th::write_file(repo / "manual/b.md", "B");
    auto base = "file://" + repo.path().string() + "/manual/";
    std::vector<RegistryEntry> registry{{"a 手冊", base + "a.md"}, {"b 手冊", base + "b.md"}, {"bad", base}};
    testing::internal::CaptureStdout();
    std::vector<fs::path> saved;
    {
        th::StdinFrom in("2 3\n");
        Capture cap;
        saved = download_and_save_from_registry(registry, out.path(), "💬 手冊", "API手冊：", &lazy_logger("Reg"));
        EXPECT_NE(cap.text().find("❌"), std::string::npos) << cap.text();  // the address without a file name
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(saved, (std::vector<fs::path>{out / "b.md"}));
    EXPECT_EQ(th::read_file(out / "b.md"), "B");
    EXPECT_FALSE(fs::exists(out / "a.md"));
}

TEST(FileIOLocal, UniquePathsAndLocalFiles) {
    th::TempDir dir;
    EXPECT_EQ(get_unique_path(dir.path(), "report", ".md"), dir / "report.md");
    th::write_file(dir / "report.md", "");
    th::write_file(dir / "report_1.md", "");
    EXPECT_EQ(get_unique_path(dir.path(), "report", ".md"), dir / "report_2.md");
    // The search is bounded and says when it gives up; a name holding a NUL (which the
    // system would read as cut short) is never free.
    for (int n = 2; n < max_unique_path_tries; ++n) th::write_file(dir / ("report_" + std::to_string(n) + ".md"), "");
    for (const auto& [stem, reason] : {std::pair<std::string, std::string>{"report", "都已存在"},
                                       {std::string("new\0x", 5), "含有 NUL 字元"}}) {
        Capture cap;
        EXPECT_EQ(get_unique_path(dir.path(), stem, ".md", &lazy_logger("Unique")), std::nullopt);
        EXPECT_THAT(cap.text(), testing::HasSubstr(reason));
    }

    auto saved = save_local_file_content(dir / "new/sub/out.txt", "內容\n");
    EXPECT_TRUE(saved.ok) << saved.text;
    EXPECT_EQ(load_local_file_content(dir / "new/sub/out.txt"), "內容\n");
    EXPECT_EQ(load_local_file_content(dir / "nothing.txt"), "");
    EXPECT_EQ(load_local_file_content(dir.path()), "");
    th::write_file(dir / "blocker", "");
    EXPECT_EQ(save_local_file_content(dir / "blocker/x.txt", "x", "檔案").text,
              "無法寫入檔案 " + (dir / "blocker/x.txt").string() + ": Not a directory");
    EXPECT_FALSE(setup_output_dir(dir / "blocker"));
    EXPECT_EQ(get_path_type(dir / "new"), 0);
    EXPECT_EQ(get_path_type(dir / "blocker"), 1);
    EXPECT_EQ(get_path_type(dir / "nothing"), -1);

    remove_file(dir / "nothing.txt");  // silent when absent
    remove_file(dir / "new");          // never a folder
    EXPECT_TRUE(fs::exists(dir / "new"));
    remove_directory(dir / "new");
    remove_directory(dir / "new");
    EXPECT_FALSE(fs::exists(dir / "new"));

    for (const char* d : {"src", "_agy", "build", "docs.bak", "tests"}) fs::create_directory(dir / d);
    auto list = get_directory_list(dir.path(), {.exclude_prefixes = {"_"}, .exclude_names = {"build"},
                                                .exclude_suffixes = {".bak"}});
    EXPECT_EQ(list.names, (std::vector<std::string>{"src", "tests"}));
    EXPECT_EQ(list.paths, (std::vector<fs::path>{dir / "src", dir / "tests"}));
}

// A cloned repository chooses the symbolic links it holds: a write inside the working copy
// that a link would carry out of it is refused, naming the link and where it leads; a
// link that stays inside is written through; a place outside named as such is written.
TEST(FileIOLocal, WritesStayInsideTheWorkingCopy) {
    th::TempDir tmp;
    const fs::path work = tmp / "work", outside = tmp / "outside";
    th::write_file(outside / "victim.txt", "mine\n");
    fs::create_directories(work / "sub");
    th::write_file(work / "sub/real.txt", "old\n");
    fs::create_symlink("sub/real.txt", work / "inside.txt");
    fs::create_symlink("../outside/victim.txt", work / "README.md");
    fs::create_symlink(outside / "victim.txt", work / "absolute.txt");
    fs::create_symlink("README.md", work / "chain.txt");
    fs::create_symlink("../outside/new.txt", work / "dangling.txt");
    fs::create_symlink("../outside", work / "_agy");
    fs::create_symlink("..", work / "up");
    fs::create_symlink("../../outside", work / "sub/deep");
    InFolder here(work);
    const std::string above = fs::canonical(tmp.path()).string(), out = above + "/outside";

    struct Case {
        fs::path path;
        std::string link;    // "" when the write is allowed
        std::string target;  // where the link leads
    };
    const std::vector<Case> refused = {
        {"README.md", "README.md", out + "/victim.txt"},
        {"absolute.txt", "absolute.txt", out + "/victim.txt"},
        {"chain.txt", "chain.txt", out + "/victim.txt"},
        {"dangling.txt", "dangling.txt", out + "/new.txt"},
        {"_agy/goal/x.yaml", "_agy", out},
        {"up/outside/victim.txt", "up", above},
        {"sub/deep/y.txt", "sub/deep", out},
        {fs::current_path() / "_agy/z.txt", "_agy", out},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.path.string());
        Capture cap;
        auto saved = save_local_file_content(c.path, "new\n", "檔案", &lazy_logger("LinkTest"));
        EXPECT_FALSE(saved.ok);
        EXPECT_NE(saved.text.find(": 符號連結 " + c.link + " 指向工作目錄之外的 " + c.target + "，未寫入"),
                  std::string::npos)
            << saved.text;
        EXPECT_EQ(cap.text(), "❌ " + saved.text + "\n");
    }
    EXPECT_EQ(th::read_file(outside / "victim.txt"), "mine\n");
    EXPECT_FALSE(fs::exists(outside / "new.txt"));
    EXPECT_FALSE(fs::exists(outside / "goal"));
    EXPECT_FALSE(fs::exists(outside / "z.txt"));
    EXPECT_FALSE(fs::exists(outside / "y.txt"));

    // Downloads and the configuration template go through the same check.
    th::TempDir repo;
    th::write_file(repo / "_agy/goal/x.yaml", "goal\n");
    EXPECT_EQ(load_or_download_content("_agy/goal/x.yaml", "file://" + repo.path().string() + "/_agy/goal/x.yaml"), "");
    EXPECT_FALSE(fs::exists(outside / "goal"));
    fs::create_symlink("../outside/victim.txt", work / "config_x_template.yaml");
    EXPECT_THROW(save_yaml_template("config: {}\n", "config_x_template.yaml"), std::exception);
    EXPECT_EQ(th::read_file(outside / "victim.txt"), "mine\n");

    // Links that stay inside are written through and stay links; places outside named as such are written.
    for (const fs::path& p : {fs::path("inside.txt"), fs::path("../outside/named.txt"), tmp / "outside/absolute-named.txt",
                             fs::path("sub/../plain.txt")}) {
        auto saved = save_local_file_content(p, "new\n");
        EXPECT_TRUE(saved.ok) << saved.text;
        EXPECT_EQ(th::read_file(p), "new\n") << p;
    }
    EXPECT_TRUE(fs::is_symlink(work / "inside.txt"));
    EXPECT_EQ(th::read_file(work / "sub/real.txt"), "new\n");
}

// The same rule holds for reads, deletions and searches, and every read is of a regular
// file of bounded size. A place the user named is theirs wherever its links lead; below
// it the rule holds again, from where it leads.
TEST(FileIOLocal, OneLinkRuleForReadsDeletionsAndSearches) {
    th::TempDir tmp;
    const fs::path work = tmp / "work", outside = tmp / "outside";
    th::write_file(outside / "secret.txt", "key\n");
    th::write_file(outside / "scratch.txt", "mine\n");
    th::write_file(outside / "sub/kept.txt", "mine\n");
    th::write_file(work / "docs/real.md", "# doc\n");
    fs::create_symlink("real.md", work / "docs/inner.md");
    fs::create_symlink("../../outside/secret.txt", work / "docs/leak.md");
    fs::create_symlink("../outside/secret.txt", work / "key.md");
    fs::create_symlink("../outside", work / "_agy");
    fs::create_symlink("/dev/zero", work / "zero.md");
    ASSERT_EQ(::mkfifo((work / "pipe.md").c_str(), 0600), 0);
    th::write_file(work / "huge.md", "");
    fs::resize_file(work / "huge.md", max_text_bytes + 1);
    InFolder here(work);
    const std::string out = fs::canonical(outside).string();
    const std::string leak_line = "符號連結 docs/leak.md 指向工作目錄之外的 " + out + "/secret.txt，";

    using Outcome = LocalFile::Outcome;
    struct ReadCase {
        fs::path path;
        ReadOptions options;
        Outcome outcome;
        std::string reason;
    };
    const std::vector<ReadCase> reads = {
        {"docs/real.md", {}, Outcome::read, ""},
        {"docs/inner.md", {}, Outcome::read, ""},
        {"docs/inner.md", {.follow_links = false}, Outcome::refused, "是符號連結"},
        {"docs/leak.md", {}, Outcome::refused, leak_line + "未讀取"},
        {"key.md", {.follow_links = false}, Outcome::refused, "符號連結 key.md 指向工作目錄之外的 " + out + "/secret.txt，未讀取"},
        {"_agy/scratch.txt", {}, Outcome::refused, "符號連結 _agy 指向工作目錄之外的 " + out + "，未讀取"},
        {"zero.md", {}, Outcome::refused, "符號連結 zero.md 指向工作目錄之外的 /dev/zero，未讀取"},
        {"pipe.md", {}, Outcome::refused, "不是一般檔案"},
        {"huge.md", {}, Outcome::refused, "超過 16 MiB 上限"},
        {"docs/real.md", {.limit = 1 << 20}, Outcome::read, ""},
        {"missing.md", {}, Outcome::missing, ""},
        {"../outside/secret.txt", {}, Outcome::read, ""},  // named outside as such
    };
    auto read_all = [&reads] {
        for (const auto& c : reads) {
            auto file = read_local_file(c.path, c.options);
            EXPECT_EQ(file.outcome, c.outcome) << c.path;
            EXPECT_EQ(file.reason, c.reason) << c.path;
            EXPECT_EQ(file.bytes.empty(), c.outcome != Outcome::read) << c.path;
        }
    };
    read_all();
    {
        // Judged once per folder, the same verdicts: twice over, so that the second round
        // answers from what the first one found.
        SteadyFolders steady;
        read_all();
        read_all();
    }
    {
        Capture cap;
        EXPECT_EQ(load_local_file_content("docs/leak.md", "檔案", &lazy_logger("LinkTest")), "");
        EXPECT_EQ(cap.text(), "❌ 無法讀取檔案: docs/leak.md: " + leak_line + "未讀取\n");
    }

    // Nothing is deleted through a linked folder; a link itself may go.
    {
        Capture cap;
        remove_file("_agy/scratch.txt");
        remove_directory("_agy/sub");
        remove_file("_agy/none.txt");  // nothing there: nothing to say
        EXPECT_EQ(cap.text(), "⚠️ 無法刪除 _agy/scratch.txt: 符號連結 _agy 指向工作目錄之外的 " + out + "，未刪除\n" +
                                  "⚠️ 無法刪除 _agy/sub: 符號連結 _agy 指向工作目錄之外的 " + out + "，未刪除\n");
    }
    EXPECT_EQ(th::read_file(outside / "scratch.txt"), "mine\n");
    EXPECT_EQ(th::read_file(outside / "sub/kept.txt"), "mine\n");
    remove_file("key.md");
    EXPECT_FALSE(fs::exists(fs::symlink_status(work / "key.md")));
    EXPECT_EQ(th::read_file(outside / "secret.txt"), "key\n");

    // A search offers no such file, and says so.
    {
        Capture cap;
        auto found = find_files_with_extensions("./", {.extensions = {".md"}, .recursive = true});
        EXPECT_EQ(found.paths, (std::vector<fs::path>{"./docs/inner.md", "./docs/real.md", "./huge.md"}));
        EXPECT_TRUE(find_files_with_extensions("_agy").paths.empty());
        EXPECT_EQ(get_directory_list(".").names, std::vector<std::string>{"docs"});
        EXPECT_EQ(cap.text(), "⚠️ " + leak_line + "已略過\n⚠️ 符號連結 _agy 指向工作目錄之外的 " + out +
                                  "，已略過\n⚠️ 符號連結 _agy 指向工作目錄之外的 " + out + "，已略過\n");
    }

    // Places the user named are theirs while they are named; what lies below a named
    // place inside the working copy follows the rule.
    for (bool steady : {false, true}) {
        std::optional<SteadyFolders> judged_once;
        if (steady) judged_once.emplace();
        EXPECT_NE(leaves_working_copy("_agy/scratch.txt", Deed::write), std::nullopt);
        {
            NamedPlaces named;
            named.add("_agy");
            named.add(work / "docs");
            named.add("zero.md");
            EXPECT_EQ(leaves_working_copy("_agy/scratch.txt", Deed::write), std::nullopt);
            EXPECT_EQ(leaves_working_copy("./_agy/sub/kept.txt", Deed::remove), std::nullopt);
            EXPECT_EQ(leaves_working_copy("docs/leak.md", Deed::read), leak_line + "未讀取");
            EXPECT_EQ(leaves_working_copy("zero.md", Deed::read), std::nullopt);
        }
        {
            // A file named in a folder that leads out is the user's; the rest of it is not.
            NamedPlaces named;
            named.add("./_agy/scratch.txt");
            EXPECT_EQ(leaves_working_copy(work / "_agy/scratch.txt", Deed::read), std::nullopt);
            EXPECT_NE(leaves_working_copy("_agy/other.txt", Deed::read), std::nullopt);
        }
        EXPECT_NE(leaves_working_copy("_agy/scratch.txt", Deed::write), std::nullopt);
        EXPECT_NE(leaves_working_copy("zero.md", Deed::read), std::nullopt);
    }
}

// A path that the repository gives reaches the working copy and the places the user named:
// by its words (a place elsewhere is refused by them alone) and by where its links lead,
// links below a named place included.
TEST(FileIOLocal, RepositoryPathsReachOnlyTheWorkingCopyAndNamedPlaces) {
    th::TempDir tmp;
    const fs::path work = tmp / "work", outside = tmp / "outside", notes = tmp / "notes";
    th::write_file(work / "pics/in.png", "p");
    th::write_file(outside / "private.png", "p");
    th::write_file(notes / "a.png", "p");
    fs::create_symlink("../outside", work / "linked");
    fs::create_symlink("../outside", notes / "away");
    fs::create_symlink("../../outside/private.png", work / "pics/leak.png");
    InFolder here(work);
    NamedPlaces named;
    named.add("../notes");
    const std::string out = fs::canonical(outside).string();
    const std::vector<std::pair<fs::path, std::optional<std::string>>> cases = {
        {"pics/in.png", std::nullopt},
        {"pics/leak.png", "符號連結 pics/leak.png 指向工作目錄之外的 " + out + "/private.png，未讀取"},
        {"pics/../../work/pics/in.png", std::nullopt},
        {"../notes/a.png", std::nullopt},
        {"../outside/private.png", out + "/private.png 位於工作目錄之外，未讀取"},
        {"/proc/self/environ", "/proc/self/environ 位於工作目錄之外，未讀取"},
        {"linked/private.png", "符號連結 linked 指向工作目錄之外的 " + out + "，未讀取"},
        {"../notes/away/private.png", "../notes/away/private.png 指向工作目錄之外的 " + out + "/private.png，未讀取"},
    };
    for (bool steady : {false, true}) {
        // Judged once per folder, the same verdicts: twice over, so that the second round
        // answers from what the first one found.
        std::optional<SteadyFolders> judged_once;
        if (steady) judged_once.emplace();
        for (int round = 0; round < (steady ? 2 : 1); ++round)
            for (const auto& [path, refusal] : cases) EXPECT_EQ(out_of_reach(path, Deed::read), refusal) << path;
    }
}

// A run that touches many files in a few folders and runs nothing that could change them
// has each folder judged once: a folder that turns into a link leading out while the
// scope lasts keeps its verdict, and is refused once the scope ends. A file's own name
// is looked at every time.
TEST(FileIOLocal, SteadyFoldersAreJudgedOnce) {
    th::TempDir tmp;
    const fs::path work = tmp / "work", outside = tmp / "outside";
    th::write_file(work / "out/a.html", "a\n");
    th::write_file(outside / "b.html", "b\n");
    InFolder here(work);
    {
        SteadyFolders steady;
        EXPECT_EQ(leaves_working_copy("out/a.html", Deed::write), std::nullopt);
        fs::remove_all(work / "out");
        fs::create_symlink("../outside", work / "out");
        EXPECT_EQ(leaves_working_copy("out/a.html", Deed::write), std::nullopt);
        fs::create_symlink("../outside/b.html", work / "b.html");
        EXPECT_NE(leaves_working_copy("b.html", Deed::write), std::nullopt);
    }
    EXPECT_NE(leaves_working_copy("out/a.html", Deed::write), std::nullopt);
}

TEST(FileIOLocal, PackageFieldsFromSetupPy) {
    th::TempDir dir;
    InFolder here(dir.path());
    auto none = get_package_name_version();
    EXPECT_EQ(none.name, "unknown");
    EXPECT_EQ(none.version, "unknown");
    EXPECT_FALSE(none.author.has_value());

    th::write_file(dir / "setup.py",
                   "if __name__ == '__main__':\n    pass\n"
                   "setup(\n    name=\"demo-tool\",\n    version = '0.0.1rc0',\n    author_email='a@b',\n"
                   "    author='王小明',\n"
                   "    entry_points={\n        'console_scripts': [\n            'demo = demo_tool.cli:main',\n"
                   "        ],\n    },\n)\n");
    auto info = get_package_name_version();
    EXPECT_EQ(info.name, "demo-tool");
    EXPECT_EQ(info.version, "0.0.1rc0");
    EXPECT_EQ(info.author, "王小明");
    EXPECT_EQ(get_cli_name("setup.py", "fallback"), "demo");
    EXPECT_EQ(get_cli_name("missing.py", "fallback"), "fallback");
}
