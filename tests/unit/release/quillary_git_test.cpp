#include <gtest/gtest.h>

#include "harness.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace q = vemtora::quillary;

namespace {

// The diff query works on the current folder.
class InFolder {
  public:
    explicit InFolder(const std::filesystem::path& p) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(p);
    }
    ~InFolder() { std::filesystem::current_path(saved_); }

  private:
    std::filesystem::path saved_;
};

}  // namespace

TEST(QuillaryGit, DiffSinceLastTagFallsBackToRootCommitThenNothing) {
    th::TempDir dir;
    th::git(dir.path(), {"init", "-q", "-b", "main"});
    InFolder in(dir.path());
    // No commit at all: nothing to compare.
    auto [none_diff, none_base] = q::get_git_diff_since_last_tag("src");
    EXPECT_EQ(none_diff, "");
    EXPECT_FALSE(none_base);

    th::write_file(dir / "src/a.py", "one\n");
    th::write_file(dir / "other.txt", "x\n");
    th::git(dir.path(), {"-c", "user.name=T", "-c", "user.email=t@e", "add", "."});
    th::git(dir.path(), {"-c", "user.name=T", "-c", "user.email=t@e", "commit", "-q", "-m", "first"});
    const std::string root = th::git(dir.path(), {"rev-parse", "HEAD"});
    th::write_file(dir / "src/a.py", "one\ntwo\n");
    th::write_file(dir / "other.txt", "y\n");
    // Commits but no tag: compared with the root commit, only inside the folder.
    auto [diff, base] = q::get_git_diff_since_last_tag("src");
    EXPECT_EQ(base, root.substr(0, root.find('\n')));
    EXPECT_NE(diff.find("+two\n"), std::string::npos);
    EXPECT_EQ(diff.find("other.txt"), std::string::npos);
    EXPECT_EQ(diff.back(), '\n');

    th::git(dir.path(), {"tag", "v1.0.0"});
    auto [tag_diff, tag_base] = q::get_git_diff_since_last_tag("./src");
    EXPECT_EQ(tag_base, "v1.0.0");
    EXPECT_NE(tag_diff.find("+two\n"), std::string::npos);
    th::git(dir.path(), {"checkout", "-q", "--", "."});
    auto [clean_diff, clean_base] = q::get_git_diff_since_last_tag("src");
    EXPECT_EQ(clean_diff, "");
    EXPECT_EQ(clean_base, "v1.0.0");
}
