#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <csignal>

#include "common/harness.hpp"
#include "support/folder_lock.hpp"
#include "support/paths.hpp"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::vector<std::string> keys_of(const YAML::Node& map) {
    std::vector<std::string> out;
    for (const auto& item : map) out.push_back(item.first.Scalar());
    return out;
}

const std::string evil = "x\"><script>alert(1).txt";

th::Outcome varnel(const fs::path& cwd, const std::vector<std::string>& args, const std::string& input = "") {
    th::Run run;
    run.args = {"varnel"};
    run.args.insert(run.args.end(), args.begin(), args.end());
    run.cwd = cwd;
    run.input = input;
    return th::run(run);
}

}  // namespace

TEST(VarnelCli, BuildsIndexAndPackageAndAddsChosenFiles) {
    th::TempDir dir;
    th::write_file(dir / "config.yaml", R"(document_title: "Team & Docs"
document_description: "Handbook"
download_link: "package.zip"
document1_title: "Guide"
document1_file: "guide-v1.html"
document1_description: "The guide"
document2_title: "Old"
document2_file: "gone.pdf"
)");
    for (const auto& name : {std::string("guide-v1.html"), std::string("guide-v2.html"), std::string("notes.txt"),
                             std::string(".env"), evil})
        th::write_file(dir / name, "content of " + name);
    th::write_file(dir / "sub" / "inner.html", "x");
    fs::create_symlink(dir / "notes.txt", dir / "notes-link.md");

    // Choose the second unlisted file, then the first; an empty title is asked again.
    auto r = varnel(dir.path(), {"-c", "config.yaml"}, "2,1\n\nEvil\nd1\nNotes\nd2\n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Done: Successfully generated Varnel at: "));
    EXPECT_THAT(r.out, HasSubstr("\n💬 正在為 [" + evil + "] 設定索引資訊："));

    EXPECT_EQ(th::zip_listing(dir / "package.zip"),
              (std::vector<std::string>{"guide-v2.html:deflate", "notes.txt:deflate", evil + ":deflate"}));

    auto config = YAML::LoadFile((dir / "config.yaml").string());
    EXPECT_EQ(keys_of(config),
              (std::vector<std::string>{"document_title", "document_description", "download_link", "document1_title",
                                        "document1_file", "document1_description", "document2_title",
                                        "document2_file", "document2_description", "document3_title",
                                        "document3_file", "document3_description"}));
    EXPECT_EQ(config["document1_file"].as<std::string>(), "guide-v2.html");
    EXPECT_EQ(config["document2_title"].as<std::string>(), "Evil");
    EXPECT_EQ(config["document2_file"].as<std::string>(), evil);
    EXPECT_EQ(config["document3_file"].as<std::string>(), "notes.txt");
    EXPECT_EQ(config["download_link"].as<std::string>(), "package.zip");

    auto page = th::read_file(dir / "index.html");
    EXPECT_THAT(page, Not(HasSubstr("<script>")));
    EXPECT_THAT(page, HasSubstr("<title>Team &amp; Docs</title>"));
    auto guide = page.find("href=\"guide-v2.html\"");
    auto evil_card = page.find("<h2>📄 Evil</h2>");
    auto notes = page.find("<h2>📄 Notes</h2>");
    ASSERT_NE(guide, std::string::npos);
    EXPECT_LT(guide, evil_card);
    EXPECT_LT(evil_card, notes);
    EXPECT_THAT(page,
                HasSubstr(R"(<a href="package.zip" class="download-btn" download>📥 Download Offline Package (.zip)</a>)"));
}

TEST(VarnelCli, WrongFolderKeepsTheConfiguration) {
    th::TempDir dir;
    const std::string yaml = "download_link: \"package.zip\"\ndocument1_file: \"guide-v1.html\"\n"
                             "document2_title: \"B\"\ndocument2_file: \"b.pdf\"\n";
    th::write_file(dir / "config.yaml", yaml);
    auto r = varnel(dir.path(), {"-c", "config.yaml"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / "package.zip"));
    auto config = YAML::LoadFile((dir / "config.yaml").string());
    EXPECT_EQ(keys_of(config), (std::vector<std::string>{"download_link", "document1_file", "document2_title",
                                                         "document2_file"}));
    EXPECT_EQ(config["download_link"].as<std::string>(), "package.zip");
    EXPECT_EQ(config["document2_file"].as<std::string>(), "b.pdf");
}

TEST(VarnelCli, BareConfigTakesTheOnlyCandidate) {
    th::TempDir dir;
    auto gen = varnel(dir.path(), {"--generate-config", "-c", "missing.yaml"});
    ASSERT_EQ(gen.status, 0) << gen.err;
    EXPECT_THAT(gen.out, HasSubstr("✅ Success! Template file created at: "));
    th::write_file(dir / "log.txt", "log");

    auto r = varnel(dir.path(), {"-c", "--debug"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("💬 偵測到僅有單一設定檔，已自動選用："));
    EXPECT_THAT(th::read_file(dir / "index.html"), HasSubstr("<h2>📟 [log text file]</h2>"));
    // Entries of the template that have no file here are dropped from the chosen file.
    auto config = YAML::LoadFile((dir / "config_varnel_template.yaml").string());
    EXPECT_FALSE(config["document1_file"]);
    EXPECT_EQ(config["document3_file"].as<std::string>(), "log.txt");
}

TEST(VarnelCli, DefaultModeOnlyLogsUnlistedFiles) {
    th::TempDir dir;
    th::write_file(dir / "template_doc-v3.html", "doc");
    th::write_file(dir / "extra.txt", "x");
    auto r = varnel(dir.path(), {});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("💬 偵測到未在 YAML 中記載且非最新版的檔案列表：['extra.txt']"));
    EXPECT_THAT(th::read_file(dir / "index.html"), HasSubstr("href=\"template_doc-v3.html\""));
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().extension(), ".yaml");
}

// A document whose name is not UTF-8 cannot be written into the configuration, the page or
// the package as it is: it is left out with a line that names it, and the rest is indexed
// and packed as usual. A package that was not written gets no download button.
TEST(VarnelCli, NamesThatAreNotUtf8AreLeftOut) {
    const std::string yaml =
        "download_link: \"package.zip\"\ndocument1_title: \"Guide\"\ndocument1_file: \"guide.html\"\n";
    for (const bool guide : {true, false}) {
        SCOPED_TRACE(guide);
        th::TempDir dir;
        th::write_file(dir / "config.yaml", yaml);
        th::write_file(dir / "d\xff-v2.txt", "a name in Latin-1");
        if (guide) th::write_file(dir / "guide.html", "guide");
        // A file offered for the index would be taken.
        auto r = varnel(dir.path(), {"-c", "config.yaml"}, "a\nTitle\nAbout\n");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr("d\\xff-v2.txt"));
        EXPECT_EQ(th::read_file(dir / "config.yaml"), yaml);
        auto page = th::read_file(dir / "index.html");
        EXPECT_THAT(page, Not(HasSubstr("\xff")));
        if (guide) {
            EXPECT_EQ(th::zip_listing(dir / "package.zip"), (std::vector<std::string>{"guide.html:deflate"}));
            EXPECT_THAT(page, HasSubstr(R"(<a href="package.zip" class="download-btn" download>)"));
        } else {
            EXPECT_FALSE(fs::exists(dir / "package.zip"));
            EXPECT_THAT(page, Not(HasSubstr("class=\"download-btn\"")));
        }
    }
}

TEST(VarnelCli, EntriesInSubFoldersStayAndThePackageIsWhereItsLinkSays) {
    th::TempDir dir;
    th::write_file(dir / "config.yaml", R"(download_link: "dist/package.zip"
document1_title: "Guide"
document1_file: "guide-v1.html"
document2_title: "Setup"
document2_file: "guides/setup.html"
document2_description: "How to"
document3_file: "gone.pdf"
)");
    th::write_file(dir / "guide-v1.html", "1");
    th::write_file(dir / "guide-v2.html", "2");
    th::write_file(dir / "guides" / "setup.html", "setup");

    auto r = varnel(dir.path(), {"-c", "config.yaml"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // The scan sees only the top folder: the move to the newest version applies there,
    // while an entry whose file exists in a sub-folder is kept with all its keys.
    auto config = YAML::LoadFile((dir / "config.yaml").string());
    EXPECT_EQ(keys_of(config), (std::vector<std::string>{"download_link", "document1_title", "document1_file",
                                                         "document2_title", "document2_file",
                                                         "document2_description"}));
    EXPECT_EQ(config["document1_file"].as<std::string>(), "guide-v2.html");
    EXPECT_EQ(config["document2_file"].as<std::string>(), "guides/setup.html");
    EXPECT_THAT(r.err, Not(HasSubstr("guides/setup.html 匹配")));

    // The package, the written-back link and the button all name dist/package.zip.
    EXPECT_EQ(config["download_link"].as<std::string>(), "dist/package.zip");
    EXPECT_FALSE(fs::exists(dir / "package.zip"));
    EXPECT_EQ(th::zip_listing(dir / "dist" / "package.zip"), (std::vector<std::string>{"guide-v2.html:deflate"}));
    auto page = th::read_file(dir / "index.html");
    EXPECT_THAT(page, HasSubstr("href=\"guides/setup.html\""));
    EXPECT_THAT(page, HasSubstr(R"(<a href="dist/package.zip" class="download-btn" download>)"));
}

// A newer package of the same family beside the page does not move the link away from
// the package just written in the link's folder.
TEST(VarnelCli, PackageInAFolderKeepsItsLinkBesideANewerTopLevelPackage) {
    th::TempDir dir;
    th::write_file(dir / "config.yaml", "download_link: \"dist/package.zip\"\ndocument1_file: \"a.txt\"\n");
    th::write_file(dir / "a.txt", "a");
    th::write_file(dir / "package-v2.zip", "old");
    auto r = varnel(dir.path(), {"-c", "config.yaml"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "dist" / "package.zip"));
    EXPECT_EQ(YAML::LoadFile((dir / "config.yaml").string())["download_link"].as<std::string>(), "dist/package.zip");
    EXPECT_THAT(th::read_file(dir / "index.html"), HasSubstr(R"(<a href="dist/package.zip" class="download-btn")"));
}

TEST(VarnelCli, DownloadLinkOutsideTheWorkingFolderIsRefused) {
    th::TempDir outside;
    const std::string absolute = support::utf8_text(outside / "elsewhere" / "package.zip");
    for (const std::string& link : {std::string("../outside/package.zip"), absolute}) {
        th::TempDir dir;
        fs::create_directories(dir / "work");
        th::write_file(dir / "work" / "config.yaml", "download_link: \"" + link + "\"\ndocument1_file: \"a.txt\"\n");
        th::write_file(dir / "work" / "a.txt", "a");
        auto r = varnel(dir / "work", {"-c", "config.yaml"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_FALSE(fs::exists(dir / "outside")) << link;
        EXPECT_FALSE(fs::exists(outside / "elsewhere")) << link;
        // The package stays in the working folder and the link says so.
        EXPECT_EQ(th::zip_listing(dir / "work" / "package.zip"), (std::vector<std::string>{"a.txt:deflate"})) << link;
        EXPECT_EQ(YAML::LoadFile((dir / "work" / "config.yaml").string())["download_link"].as<std::string>(),
                  "package.zip")
            << link;
        EXPECT_THAT(th::read_file(dir / "work" / "index.html"), HasSubstr(R"(<a href="package.zip" class="download-btn")"))
            << link;
        EXPECT_THAT(r.err, HasSubstr("⚠️ 下載連結 " + link + " 位於工作資料夾之外"));
    }
}

// The download link names the package this run writes, whatever earlier releases of the
// user's lie beside it: the link never moves to one of them, so the next run does not write
// its archive over it, and no earlier release is packed into the new archive.
TEST(VarnelCli, EarlierPackagesOfTheUsersStayTheirs) {
    struct Case {
        std::string link;                   // as configured, and as it stays
        std::vector<std::string> releases;  // the user's earlier packages
    };
    const std::vector<Case> cases = {
        {"package.zip", {"package-v1.zip"}},
        {"dist/package.zip", {"package-v1.zip", "dist/package-v1.zip"}},
        {"docs/pkg-v2.zip", {"pkg-v3.zip", "docs/pkg-v1.zip", "docs/pkg-v3.zip"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        th::TempDir dir;
        th::write_file(dir / "config.yaml", "download_link: \"" + c.link + "\"\ndocument1_title: \"A\"\n"
                                            "document1_file: \"a.txt\"\n");
        th::write_file(dir / "a.txt", "a");
        for (const auto& release : c.releases) th::write_file(dir / release, "release " + release);
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            auto r = varnel(dir.path(), {"-c", "config.yaml"}, "\n");
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(YAML::LoadFile((dir / "config.yaml").string())["download_link"].as<std::string>(), c.link);
            EXPECT_THAT(th::read_file(dir / "index.html"),
                        HasSubstr("<a href=\"" + c.link + "\" class=\"download-btn\" download>"));
            for (const auto& release : c.releases) EXPECT_EQ(th::read_file(dir / release), "release " + release);
            EXPECT_EQ(th::zip_listing(dir / c.link), (std::vector<std::string>{"a.txt:deflate"}));
        }
    }
}

// A packing that fails keeps the download link and its card's entry, still writes the
// page, and ends the run with the packing's error. The page offers no package that is not
// there.
TEST(VarnelCli, FailedPackingKeepsTheLinkAndFails) {
    th::TempDir dir;
    th::write_file(dir / "config.yaml", "download_link: \"package.zip\"\ndocument1_title: \"Guide\"\n"
                                        "document1_file: \"guide.html\"\n");
    th::write_file(dir / "guide.html", "guide");
    fs::create_directories(dir / "package.zip/in-the-way");  // the archive cannot take its place
    auto r = varnel(dir.path(), {"-c", "config.yaml"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 打包壓縮檔失敗: "));
    EXPECT_THAT(r.err, HasSubstr("Error: Failed to create the offline package: "));
    EXPECT_THAT(r.out, Not(HasSubstr("Done")));
    auto config = YAML::LoadFile((dir / "config.yaml").string());
    EXPECT_EQ(config["download_link"].as<std::string>(), "package.zip");
    EXPECT_EQ(config["document1_file"].as<std::string>(), "guide.html");
    auto page = th::read_file(dir / "index.html");
    EXPECT_THAT(page, Not(HasSubstr("class=\"download-btn\"")));
    EXPECT_THAT(page, HasSubstr("href=\"guide.html\""));
}

// A configuration that cannot be written back is a failure (the titles typed for new
// entries would otherwise be lost without a word); the page is still written.
TEST(VarnelCli, FailedWriteBackFails) {
    TH_UNPRIVILEGED_USER(user);
    th::TempDir dir;
    th::write_file(dir / "config.yaml", "document1_title: \"Guide\"\ndocument1_file: \"guide.html\"\n");
    th::write_file(dir / "guide.html", "guide");
    th::write_file(dir / "new.txt", "new");
    th::give_to(dir.path(), user);
    fs::permissions(dir / "config.yaml", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto r = th::run({.args = {"varnel", "-c", "config.yaml"}, .cwd = dir.path(), .input = "1\nNew\nA new file\n",
                      .user = user});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("Error: Failed to save the configuration: "));
    EXPECT_THAT(r.out, Not(HasSubstr("Done")));
    EXPECT_THAT(th::read_file(dir / "index.html"), HasSubstr("<h2>📄 New</h2>"));
    EXPECT_EQ(th::read_file(dir / "config.yaml"), "document1_title: \"Guide\"\ndocument1_file: \"guide.html\"\n");
}

// Anchors and aliases are written back as anchors and aliases: a few lines that nest
// them stay a few lines instead of growing without bound.
TEST(VarnelCli, WriteBackKeepsAliases) {
    th::TempDir dir;
    std::string yaml = "document1_title: \"Guide\"\ndocument1_file: \"guide.html\"\n"
                       "a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
    for (int level = 1; level <= 9; ++level) {
        auto prev = "*a" + std::to_string(level - 1);
        const std::string n = std::to_string(level);
        yaml += "a" + n + ": &a" + n + " [";
        for (int i = 0; i < 10; ++i) yaml += (i ? ", " : "") + prev;
        yaml += "]\n";
    }
    th::write_file(dir / "config.yaml", yaml);
    th::write_file(dir / "guide.html", "guide");
    auto r = varnel(dir.path(), {"-c", "config.yaml"}, "\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_LT(fs::file_size(dir / "config.yaml"), 2 * yaml.size());
    auto config = YAML::LoadFile((dir / "config.yaml").string());
    EXPECT_TRUE(config["a9"][0].is(config["a8"]));
    EXPECT_EQ(config["a3"][1][2][3][4].as<std::string>(), "lol");
}

// The archive writer's scratch copy of an interrupted run is neither a document nor a
// member of the package.
TEST(VarnelCli, ArchiveScratchFilesAreNoDocuments) {
    th::TempDir dir;
    th::write_file(dir / "config.yaml", "download_link: \"package.zip\"\ndocument1_title: \"Guide\"\n"
                                        "document1_file: \"guide.html\"\n");
    th::write_file(dir / "guide.html", "guide");
    th::write_file(dir / "package.zip.Ab12Cd", "half an archive");
    th::write_file(dir / "package.zip.bak", "the user's own");
    auto r = varnel(dir.path(), {"-c", "config.yaml"}, "\n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(th::zip_listing(dir / "package.zip"),
              (std::vector<std::string>{"guide.html:deflate", "package.zip.bak:deflate"}));
    EXPECT_THAT(r.err, Not(HasSubstr("Ab12Cd")));
    EXPECT_THAT(th::read_file(dir / "index.html"), Not(HasSubstr("Ab12Cd")));
}

// Two runs on one configuration: the second is refused at once while the first waits for
// the titles of new entries, so the entries typed there are not lost to its write-back.
TEST(VarnelCli, SecondRunOnTheSameConfigurationIsRefused) {
    th::TempDir dir;
    const std::string yaml = "download_link: \"package.zip\"\ndocument1_title: \"Guide\"\n"
                             "document1_file: \"guide.html\"\n";
    th::write_file(dir / "config.yaml", yaml);
    th::write_file(dir / "guide.html", "guide");
    th::write_file(dir / "notes.txt", "notes");
    th::Outcome second;
    th::Run first{.args = {"varnel", "-c", "config.yaml"},
                  .cwd = dir.path(),
                  .while_running =
                      [&](int pid, const std::function<std::string()>& out) {
                          if (th::wait_for_text(out, "請輸入編號") && th::wait_for_sleep(pid))
                              second = varnel(dir.path(), {"-c", "config.yaml"}, "\n");
                          ::kill(pid, SIGINT);
                      },
                  .open_stdin = true};
    auto r = th::run(first);
    EXPECT_EQ(r.status, 1) << r.err;  // "Aborted!" at the question
    EXPECT_EQ(second.status, 1) << second.out << second.err;
    EXPECT_THAT(second.err, HasSubstr("❌ 另一個執行中的指令正在使用設定檔 config.yaml，請等它結束後再試一次。\n"));
    EXPECT_THAT(second.err, HasSubstr("Error: 另一個執行中的指令正在使用設定檔 config.yaml\n"));
    EXPECT_EQ(th::read_file(dir / "config.yaml"), yaml);
    EXPECT_FALSE(fs::exists(dir / "index.html"));
}

// The configuration is read only once the run holds it: a run that read it before another
// run wrote its entries back would write its stale copy over them afterwards. While the
// folder is held the second run is refused without reading the file.
TEST(VarnelCli, ConfigurationIsReadOnlyOnceTheRunHoldsIt) {
    th::TempDir dir;
    const std::string yaml = "document1_title: \"Guide\"\ndocument1_file: \"guide.html\"\n";
    th::write_file(dir / "config.yaml", yaml);
    th::write_file(dir / "guide.html", "guide");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (dir / "config.yaml").c_str(), IN_OPEN), 0);
    th::Outcome r;
    {
        support::FolderLock held(dir.path());  // as another run holds it
        ASSERT_FALSE(held.busy());
        r = varnel(dir.path(), {"-c", "config.yaml"}, "\n");
    }
    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    ::close(watch);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("❌ 另一個執行中的指令正在使用設定檔 config.yaml，請等它結束後再試一次。\n"));
    EXPECT_THAT(r.err, HasSubstr("Error: 另一個執行中的指令正在使用設定檔 config.yaml\n"));
    EXPECT_LE(got, 0) << "the configuration was opened while another run held it";
    EXPECT_EQ(th::read_file(dir / "config.yaml"), yaml);
}

// A value written into the option's argument is the path, whatever it begins with.
TEST(VarnelCli, ConfigPathMayBeginWithADash) {
    th::TempDir dir;
    th::write_file(dir / "guide.html", "guide");
    for (const char* option : {"--config=-x", "-c-x"}) {
        th::write_file(dir / "-x", "document_title: \"Dash\"\ndocument1_file: \"guide.html\"\n");
        auto r = varnel(dir.path(), {option}, "\n");
        EXPECT_EQ(r.status, 0) << option << r.err;
        EXPECT_THAT(th::read_file(dir / "index.html"), HasSubstr("<title>Dash</title>")) << option;
    }
}

// A cloned repository chooses its links: the page, the configuration it was found with,
// the package and the clean-up of a killed run's scratch copy stay inside the working
// copy. A configuration the user names with -c PATH is the user's, wherever it leads.
TEST(VarnelCli, WritesStayInsideTheWorkingCopy) {
    const std::string page_config = "document_description: \"a\\nssh-ed25519 AAAA attacker\"\ndocument1_file: \"a.txt\"\n";
    struct Case {
        std::string name;
        th::Links links;
        std::string config;  // written as config.yaml unless a link takes that name
        std::vector<std::string> args;
        int status;
        std::string err;  // a line the run prints; {outside} is the folder outside
    };
    const std::vector<Case> cases = {
        {"page through a link", {{"index.html", "../outside/victim"}}, page_config, {"-c", "config.yaml"}, 1,
         "Error: Failed to generate index file: 無法寫入HTML 索引 ./index.html: 符號連結 index.html 指向工作目錄之外的 "
         "{outside}/victim，未寫入"},
        {"found configuration through a link", {{"config.yaml", "../outside/victim"}}, "", {"-c"}, 1,
         "⚠️ 符號連結 config.yaml 指向工作目錄之外的 {outside}/victim，已略過"},
        {"package in a linked folder", {{"dist", "../outside"}}, "download_link: \"dist/package.zip\"\ndocument1_file: \"a.txt\"\n",
         {"-c", "config.yaml"}, 1,
         "❌ 打包壓縮檔失敗: 符號連結 dist 指向工作目錄之外的 {outside}，未寫入"},
        {"package through a link", {{"package.zip", "../outside/victim"}},
         "download_link: \"package.zip\"\ndocument1_file: \"a.txt\"\n", {"-c", "config.yaml"}, 1,
         "❌ 打包壓縮檔失敗: 符號連結 package.zip 指向工作目錄之外的 {outside}/victim，未寫入"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::TempDir tmp;
        const fs::path work = tmp / "work", outside = tmp / "outside";
        th::write_file(outside / "victim", "mine\n");
        th::write_file(outside / "package.zip.Ab12Cd", "");  // a killed run's scratch copy, or so it looks
        th::write_file(work / "a.txt", "a");
        th::plant_links(work, c.links);
        if (!c.config.empty()) th::write_file(work / "config.yaml", c.config);
        auto r = varnel(work, c.args, "\n");  // Enter at the menu of unlisted files
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr(th::with_outside(c.err, outside)));
        EXPECT_EQ(th::read_file(outside / "victim"), "mine\n");
        EXPECT_TRUE(fs::exists(outside / "package.zip.Ab12Cd"));
        EXPECT_FALSE(fs::exists(outside / "package.zip"));
    }

    // Named with -c PATH, a linked configuration is written back where it leads.
    th::TempDir tmp;
    th::write_file(tmp / "outside/config.yaml", "# written back without this line\ndocument1_file: \"a.txt\"\n");
    th::write_file(tmp / "work/a.txt", "a");
    fs::create_symlink("../outside/config.yaml", tmp / "work/config.yaml");
    auto r = varnel(tmp / "work", {"-c", "config.yaml"}, "\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(th::read_file(tmp / "outside/config.yaml"), Not(HasSubstr("# written back without this line")));
    EXPECT_TRUE(fs::is_symlink(tmp / "work/config.yaml"));
}
