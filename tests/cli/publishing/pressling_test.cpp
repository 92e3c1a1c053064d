#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "harness.hpp"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;

th::Outcome pressling(const th::TempDir& dir, std::vector<std::string> args, std::string input = "") {
    args.insert(args.begin(), "pressling");
    return th::run({.args = args, .cwd = dir.path(), .input = input});
}

// Bracketed words, each a few bytes that the parser keeps as several nodes of a few hundred
// bytes: about `bytes` of text that asks for far more memory than its size.
std::string brackets(size_t bytes) {
    std::string text;
    text.reserve(bytes);
    while (text.size() < bytes) text += "[a] ";
    return text;
}

const char* const kPage = "# Guide\n\n## Table\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n```cpp\nint x = 1 < 2;\n```\n";

}  // namespace

TEST(PresslingCli, GivenFileWithBareOutputFolder) {
    th::TempDir dir;
    th::write_file(dir / "docs/notes.md", kPage);
    // "-o -f": the bare -o means the current folder, and -f still takes its file.
    th::Outcome r = pressling(dir, {"-o", "-f", "docs/notes.md"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Done: pressling 執行成功。\n");
    EXPECT_THAT(r.err, HasSubstr("✅ 已手動指定輸出目錄：./\n"));
    std::string page = th::read_file(dir / "notes.html");
    EXPECT_THAT(page, HasSubstr("<title>notes.md</title>"));
    EXPECT_THAT(page, HasSubstr("<pre><code class=\"language-cpp\">int x = 1 &lt; 2;</code></pre>"));
}

TEST(PresslingCli, FileOptionMustNameAFile) {
    th::TempDir dir;
    fs::create_directory(dir / "docs");
    th::Outcome missing = pressling(dir, {"-f", "nope.md"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.err, HasSubstr("Error: Invalid value for '--file' / '-f': File 'nope.md' does not exist."));
    th::Outcome folder = pressling(dir, {"--generate-config", "-f", "docs"});
    EXPECT_EQ(folder.status, 2);
    EXPECT_THAT(folder.err, HasSubstr("File 'docs' is a directory."));
    EXPECT_FALSE(fs::exists(dir / "config_pressling_template.yaml"));
}

TEST(PresslingCli, GenerateConfigWinsOverConfigFile) {
    th::TempDir dir;
    th::write_file(dir / "my.yaml", "config: [broken");
    th::Outcome r = pressling(dir, {"--generate-config", "-c", "my.yaml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("✅ Success! Template file created at: "));
    EXPECT_EQ(th::read_file(dir / "config_pressling_template.yaml"),
              "config:\n  input_path: \"./\"\n  output_path: \"./\"\n  embed_images: true\n"
              "  watermark_enable: false\n  watermark_text: \"CONFIDENTIAL\"\n");
}

TEST(PresslingCli, NothingToConvertIsAnError) {
    th::TempDir dir;
    th::Outcome r = pressling(dir, {"-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("❌ 使用者未選擇任何 Markdown 檔案，或該路徑下無檔案。\n"));
    EXPECT_TRUE(r.err.ends_with("Error: 使用者取消或未找到檔案\n")) << r.err;
    EXPECT_TRUE(fs::is_directory(dir / "out"));  // the output folder is set up first
}

TEST(PresslingCli, FailedFilesAreCountedAndTheOthersStillWritten) {
    th::TempDir dir;
    th::write_file(dir / "in/a.md", "# A\n");
    th::write_file(dir / "in/b.md", "# B\n");
    th::write_file(dir / "in/c.md", "");  // empty: skipped, not failed
    fs::create_directories(dir / "out/b.html");  // the page of b cannot be written
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");
    th::Outcome r = pressling(dir, {"--config=config.yaml"}, "a\n");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：3 個檔案中有 1 個轉換失敗。\n")) << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 處理 "));
    EXPECT_THAT(th::read_file(dir / "out/a.html"), HasSubstr("<h1 id=\"a\">A</h1>"));
    EXPECT_FALSE(fs::exists(dir / "out/c.html"));
}

// An answer piped in is not echoed as a typed one is: the program ends the question's line
// itself, so the next message, on either stream, starts a line of its own.
TEST(PresslingCli, APipedAnswerEndsTheQuestionsLine) {
    th::TempDir dir;
    th::write_file(dir / "in/a.md", "# A\n");
    th::write_file(dir / "in/b.md", "# B\n");
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");
    th::Outcome r = th::run({.args = {"-c", "exec \"$0\" \"$@\" 2>&1", th::vemtora_binary().string(), "pressling",
                                      "-c", "config.yaml"},
                             .cwd = dir.path(),
                             .input = "a\n",
                             .program = "bash"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("範圍如 2-5，a 為全部，直接按 Enter 不選）: \n✅ 正在處理: in/a.md\n"));
}

#if !defined(__SANITIZE_ADDRESS__)
// Memory that runs out (here the address space is capped) fails the page that needed it,
// with the system's reason, and the run goes on with the next page: it never aborts.
TEST(PresslingCli, MemoryThatRunsOutFailsThePageNotTheProgram) {
    th::TempDir dir;
    th::write_file(dir / "in/a.md", "# A\n");
    th::write_file(dir / "in/brackets.md", brackets(std::size_t{4} << 20));
    th::write_file(dir / "in/z.md", "# Z\n");
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");
    th::Outcome r = th::run({.args = {"-c", "ulimit -v 250000; exec \"$0\" \"$@\"", th::vemtora_binary().string(),
                                      "pressling", "-c", "config.yaml"},
                             .cwd = dir.path(),
                             .input = "a\n",
                             .program = "bash"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 處理 in/brackets.md 失敗: Cannot allocate memory\n"));
    EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：3 個檔案中有 1 個轉換失敗。\n")) << r.err;
    EXPECT_THAT(th::read_file(dir / "out/a.html"), HasSubstr("<h1 id=\"a\">A</h1>"));
    EXPECT_THAT(th::read_file(dir / "out/z.html"), HasSubstr("<h1 id=\"z\">Z</h1>"));
}
#endif

// Sources that give one page name: the later page replaces the earlier one, and the run
// says which page went and why. A page from before the run is replaced without a word.
TEST(PresslingCli, PageReplacedInTheSameRunIsReported) {
    th::TempDir dir;
    th::write_file(dir / "in/a/README.md", "# A\n");
    th::write_file(dir / "in/b/README.md", "# B\n");
    th::write_file(dir / "in/c/other.md", "# C\n");
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");
    for (int run = 0; run < 2; ++run) {
        th::Outcome r = pressling(dir, {"-c", "config.yaml"}, "a\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.err, HasSubstr("⚠️ 頁面 out/README.html 原本來自 in/a/README.md，現已被 in/b/README.md 的頁面取代。\n"));
        EXPECT_EQ(r.err.find("⚠️"), r.err.rfind("⚠️")) << r.err;
        EXPECT_THAT(th::read_file(dir / "out/README.html"), HasSubstr("<h1 id=\"b\">B</h1>"));
    }
}

// A source that is no regular file (a FIFO, a device) is a failed file and is never
// opened, so the run cannot wait on it.
TEST(PresslingCli, SourcesThatCannotBeReadFail) {
    th::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.md").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.md");
    fs::create_symlink("/dev/null", dir / "null.md");
    for (const char* name : {"pipe.md", "zero.md", "null.md"}) {
        th::Outcome r = pressling(dir, {"-f", name});
        EXPECT_EQ(r.status, 1) << name << r.err;
        EXPECT_THAT(r.err,
                    HasSubstr(std::string("❌ 處理 ") + (dir / name).string() + " 失敗: 不是可讀取的一般檔案\n"));
        EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：1 個檔案中有 1 個轉換失敗。\n")) << r.err;
    }
}

// A regular file the user may not read is a failed file, not an empty one.
TEST(PresslingCli, UnreadableSourceFails) {
    TH_UNPRIVILEGED_USER(user);
    th::TempDir dir;
    th::write_file(dir / "in/a.md", "# A\n");
    th::write_file(dir / "in/secret.md", "# Secret\n");
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");
    th::give_to(dir.path(), user);
    fs::permissions(dir / "in/secret.md", fs::perms::none);
    th::Outcome r = th::run({.args = {"pressling", "-c", "config.yaml"}, .cwd = dir.path(), .input = "a\n", .user = user});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 無法讀取Markdown 檔案: secret: "));
    EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：2 個檔案中有 1 個轉換失敗。\n")) << r.err;
    EXPECT_THAT(th::read_file(dir / "out/a.html"), HasSubstr("<h1 id=\"a\">A</h1>"));

    // Empty, it is still one that could not be read: failed, not skipped as an empty one.
    // (Made writable first: a test run by its owner, not root, is held by the mode too.)
    fs::permissions(dir / "in/secret.md", fs::perms::owner_read | fs::perms::owner_write);
    th::write_file(dir / "in/secret.md", "");
    th::give_to(dir / "in/secret.md", user);
    fs::permissions(dir / "in/secret.md", fs::perms::none);
    r = th::run({.args = {"pressling", "-c", "config.yaml"}, .cwd = dir.path(), .input = "a\n", .user = user});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 無法讀取Markdown 檔案: secret: "));
    EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：2 個檔案中有 1 個轉換失敗。\n")) << r.err;
}

// A value written into the option's argument is the path, whatever it begins with.
TEST(PresslingCli, ConfigPathMayBeginWithADash) {
    th::TempDir dir;
    th::write_file(dir / "-x", "config:\n  output_path: out\n");
    th::write_file(dir / "notes.md", kPage);
    for (const char* option : {"--config=-x", "-c-x"}) {
        th::Outcome r = pressling(dir, {option, "-f", "notes.md"});
        EXPECT_EQ(r.status, 0) << option << r.err;
        EXPECT_TRUE(fs::exists(dir / "out/notes.html")) << option;
        fs::remove_all(dir / "out");
    }
}

// A huge file is refused by its size, 18 KB asking for ten million table cells by its
// table, and two megabytes of brackets by the memory its parse asks for; all are failed
// files, the others are still written.
TEST(PresslingCli, OversizedAndHostileFilesFailWithTheirReason) {
    th::TempDir dir;
    th::write_file(dir / "in/a.md", "# A\n\n| a | b |\n|---|---|\n| 1 |\n\n![k](key.txt)\n");
    th::write_file(dir / "in/key.txt", "API_KEY=sk-live-123\n");
    th::write_file(dir / "in/huge.md", "# Huge\n");
    fs::resize_file(dir / "in/huge.md", std::uintmax_t{1} << 30);  // sparse: no disk used
    th::write_file(dir / "in/wide.md", th::padded_table(2000, 5000));
    th::write_file(dir / "in/brackets.md", brackets(std::size_t{2} << 20));
    th::write_file(dir / "config.yaml", "config:\n  input_path: in\n  output_path: out\n");

    th::Outcome r = th::run({.args = {"pressling", "-c", "config.yaml"}, .cwd = dir.path(), .input = "a\n", .capped = true});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("Error: pressling 執行失敗：4 個檔案中有 3 個轉換失敗。\n")) << r.err;
    // The parse may take memory in proportion to the page, and this one asks for far more.
    EXPECT_THAT(r.err, HasSubstr("❌ 處理 in/brackets.md 失敗: parsing needs more than "));
    EXPECT_FALSE(fs::exists(dir / "out/brackets.html"));
    EXPECT_THAT(r.err, HasSubstr("❌ 處理 in/huge.md 失敗: 檔案大小 1073741824 位元組，超過 64 MiB 上限\n"));
    EXPECT_THAT(r.err, HasSubstr("❌ 處理 in/wide.md 失敗: a table of 2000 columns and 5001 rows exceeds the limit of "
                                 "250000 cells\n"));
    EXPECT_FALSE(fs::exists(dir / "out/huge.html"));
    EXPECT_FALSE(fs::exists(dir / "out/wide.html"));
    std::string page = th::read_file(dir / "out/a.html");
    EXPECT_THAT(page, HasSubstr("<td>1</td>\n<td></td>\n"));  // an ordinary table keeps its padding
    EXPECT_THAT(page, HasSubstr("<img alt=\"k\" src=\"key.txt\" />"));
    EXPECT_THAT(r.err, HasSubstr("⚠️ 無法將圖片 in/key.txt 編碼為 Base64: not a PNG, JPEG, GIF, WebP, BMP, ICO, AVIF, "
                                 "HEIC/HEIF, TIFF or SVG image\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("找不到圖片")));  // the file is there
}

TEST(PresslingCli, DebugModeWritesThePreparedMarkdown) {
    struct Case {
        std::vector<std::string> debug_args;
        std::map<std::string, std::optional<std::string>> env;
    };
    for (const auto& c : {Case{{"--debug"}, {}}, Case{{}, {{"DOVUD_DEBUG", "1"}}}}) {
        th::TempDir dir;
        th::write_file(dir / "notes.md", "Created: today\n# T\n");
        std::vector<std::string> args = {"pressling", "-f", "notes.md", "-o", "out"};
        args.insert(args.end(), c.debug_args.begin(), c.debug_args.end());
        th::Outcome r = th::run({.args = args, .cwd = dir.path(), .env = c.env});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(th::read_file(dir / "out/notes.md_debug.md"), "\n# T\n\n[TOC]\n\n\n");
        EXPECT_THAT(r.err, HasSubstr("偵錯模式已開啟。找到並選擇了 1 個 Markdown 檔案。"));
    }
}

// The page as a browser builds it: headings, table and code are in the document.
TEST(PresslingCli, PageOpensInHeadlessChromium) {
    const fs::path chromium = "/usr/bin/chromium";
    if (!fs::exists(chromium)) GTEST_SKIP() << "chromium is not installed (bash scripts/install-deps.sh browser)";
    th::TempDir dir;
    th::write_file(dir / "guide.md", kPage);
    ASSERT_EQ(pressling(dir, {"-f", "guide.md", "-o", "site"}).status, 0);
    th::Outcome dom = th::run({.args = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                        "--no-first-run", "--disable-background-networking",
                                        "--disable-component-update", "--disable-sync",
                                        "--user-data-dir=" + (dir / "profile").string(), "--dump-dom",
                                        "file://" + (dir / "site/guide.html").string()},
                               .cwd = dir.path(),
                               .program = chromium.string()});
    ASSERT_EQ(dom.status, 0) << dom.err;
    for (const char* part : {"<h1 id=\"guide\">Guide</h1>", "<h2 id=\"table\">Table</h2>", "<div class=\"toc\">",
                             "<th>a</th>", "<td>2</td>", "<code class=\"language-cpp\">int x = 1 &lt; 2;</code>"})
        EXPECT_THAT(dom.out, HasSubstr(part));
}

// A byte-order mark (editors on Windows write one) is not part of the text.
TEST(PresslingCli, ByteOrderMarkIsDropped) {
    th::TempDir dir;
    th::write_file(dir / "bom.md", "\xEF\xBB\xBF# Title\nStatus: draft\n\ntext\n");
    th::Outcome r = pressling(dir, {"-f", "bom.md", "-o", "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string page = th::read_file(dir / "out/bom.html");
    EXPECT_THAT(page, HasSubstr("<h1 id=\"title\">Title</h1>\n<div class=\"toc\">"));
    EXPECT_THAT(page, Not(HasSubstr("draft")));
    EXPECT_THAT(page, Not(HasSubstr("\xEF\xBB\xBF")));
}

// The repository decides which links it holds: a Markdown file the search finds, or a
// picture a page shows, whose link leads out of the working copy is not read. A file the
// user names with -f is the user's, wherever it leads.
TEST(PresslingCli, RepositoryLinksLeadNowhere) {
    // The smallest PNG: its signature is all the encoder looks at.
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    struct Case {
        std::string name;
        th::Links links;
        std::string page;  // page.md, when not empty
        std::vector<std::string> args;
        int status;
        std::string line;  // {outside} is the folder outside, canonical
    };
    const std::vector<Case> cases = {
        {"lone Markdown file linked to a secret", {{"notes.md", "../outside/secret.md"}}, "", {}, 1,
         "⚠️ 符號連結 notes.md 指向工作目錄之外的 {outside}/secret.md，已略過"},
        {"picture linked out", {{"pic.png", "../outside/private.png"}}, "# Page\n\n![x](pic.png)\n", {}, 0,
         "符號連結 pic.png 指向工作目錄之外的 {outside}/private.png，未讀取"},
        {"file named by the user", {{"notes.md", "../outside/secret.md"}}, "", {"-f", "notes.md"}, 0, "✅ 正在處理: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::TempDir tmp;
        const fs::path work = tmp / "work", outside = tmp / "outside";
        th::write_file(outside / "secret.md", "# PRIVATE KEY\n");
        th::write_file(outside / "private.png", png);
        fs::create_directories(work);
        if (!c.page.empty()) th::write_file(work / "page.md", c.page);
        th::plant_links(work, c.links);
        auto args = c.args;
        args.insert(args.begin(), "pressling");
        auto r = th::run({.args = args, .cwd = work});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr(th::with_outside(c.line, outside)));
        const bool named = !c.args.empty();
        if (named)
            EXPECT_THAT(th::read_file(work / "notes.html"), HasSubstr("PRIVATE KEY"));
        else
            EXPECT_THAT(th::read_file(work / "notes.html"), Not(HasSubstr("PRIVATE KEY")));
        EXPECT_THAT(th::read_file(work / "page.html"), Not(HasSubstr("data:image/png")));
    }
}

// A picture is inlined only from the working copy or from a folder the user named: any
// other reference a page makes (a climb out, an absolute path elsewhere, a file: URL)
// stays as written, with a warning that names it, so a cloned page cannot carry the
// user's own pictures into a page that gets published.
TEST(PresslingCli, PicturesComeOnlyFromTheWorkingCopyOrANamedFolder) {
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    struct Case {
        std::string name;
        std::string reference;  // {outside} is the folder outside, canonical
        std::vector<std::string> args;
        bool inlined;
    };
    const std::vector<Case> cases = {
        {"climb out", "../outside/private.png", {}, false},
        {"absolute path elsewhere", "{outside}/private.png", {}, false},
        {"file URL", "file://{outside}/private.png", {}, false},
        {"climb out and back in", "../work/pics/in.png", {}, true},
        {"folder of a configuration the user named", "{outside}/private.png", {"-c", "named.yaml"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::TempDir tmp;
        const fs::path work = tmp / "work", outside = tmp / "outside";
        th::write_file(outside / "private.png", png);
        th::write_file(work / "pics/in.png", png);
        th::write_file(work / "named.yaml", "config:\n  input_path: \"../outside\"\n");
        const std::string reference = th::with_outside(c.reference, outside);
        th::write_file(work / "doc.md", "# Doc\n\n![photo](" + reference + ")\n");
        auto args = c.args;
        args.insert(args.end(), {"-f", "doc.md"});
        args.insert(args.begin(), "pressling");
        th::Outcome r = th::run({.args = args, .cwd = work});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string page = th::read_file(work / "doc.html");
        if (c.inlined) {
            EXPECT_THAT(page, HasSubstr("<img alt=\"photo\" src=\"data:image/png;base64,"));
            continue;
        }
        EXPECT_THAT(page, HasSubstr("<img alt=\"photo\" src=\"" + reference + "\" />"));
        EXPECT_THAT(r.err, HasSubstr("⚠️ 未嵌入圖片 " + reference + ": "));
    }
}
