// Inputs that once crashed a module, found by the fuzz harnesses; each stays as a case here.
#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "vemtora/publishing/pressling.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace varnel = vemtora::varnel;

TEST(FuzzRegressions, EntryThatIsABareRootTakesTheMatchedFile) {
    // A file named "-v1" has an empty family name, and so has the entry "/": the entry
    // has no file name to replace, and no "/-v2" is there, so it names the file matched.
    brenkit::app_logging::Capture quiet;
    varnel::Docs docs{{"1", std::nullopt, "/"}, {"2", std::nullopt, "//"}};
    auto unlisted = varnel::update_docs_to_latest_versions(docs, {"-v1", "-v2"});
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(docs[0].file, "-v2");
    EXPECT_EQ(docs[1].file, "-v2");
    EXPECT_TRUE(unlisted.empty());
}

TEST(FuzzRegressions, ImageInsideAnImageText) {
    // The inner image is part of the outer one's text; writing the outer one first freed
    // the inner one before it was written.
    EXPECT_EQ(vemtora::pressling::markdown_to_html("![![a](in.png) b](out.png)"),
              R"(<p><img alt="a b" src="out.png" /></p>)");
    EXPECT_EQ(vemtora::pressling::markdown_to_html("[![x](a.png)](page.html)"),
              R"(<p><a href="page.html"><img alt="x" src="a.png" /></a></p>)");
}

TEST(FuzzRegressions, RawHtmlInsideImageTextAndHeadings) {
    // Replacing an image or a heading frees the raw HTML inside it: the markdown
    // attribute is dropped from it before that.
    EXPECT_EQ(vemtora::pressling::markdown_to_html("![a <em markdown>b</em>](x.png)"), R"(<p><img alt="a b" src="x.png" /></p>)");
    EXPECT_EQ(vemtora::pressling::markdown_to_html("# a <span markdown=\"1\">b</span>"), R"(<h1 id="a-b">a <span>b</span></h1>)");
}
