#include <gtest/gtest.h>

#include "vemtora/release/quillary_detail.hpp"

namespace q = vemtora::quillary;

TEST(QuillaryVersion, NextVersionsTable) {
    struct Case {
        std::optional<std::string> input;
        std::string release, rc;
    };
    const Case cases[] = {
        {"1.2.10", "1.2.11", "1.2.11rc0"},
        {"1.2.9", "1.3.0", "1.3.0rc0"},
        {"1.9.9", "2.0.0", "2.0.0rc0"},
        {"9.9.9", "10.0.0", "10.0.0rc0"},
        {"1.19.9", "1.20.0", "1.20.0rc0"},
        {"1.2.3rc4", "1.2.3", "1.2.3rc5"},
        {"1.2.3rc0", "1.2.3", "1.2.3rc1"},
        {"v1.2.3", "1.2.4", "1.2.4rc0"},
        {"CICD-v2.0.9", "2.1.0", "2.1.0rc0"},
        {"1.02.09", "1.3.0", "1.3.0rc0"},
        {"01.2.3rc07", "01.2.3", "01.2.3rc8"},
        {"1.2.3\n", "1.2.4", "1.2.4rc0"},
        // No bound on the numbers: nothing wraps or is cut.
        {"1.2.99999999999999999999", "1.2.100000000000000000000", "1.2.100000000000000000000rc0"},
        {"99999999999999999999.9.9", "100000000000000000000.0.0", "100000000000000000000.0.0rc0"},
        {"1.2.3rc18446744073709551615", "1.2.3", "1.2.3rc18446744073709551616"},
        // Not a version: the starting pair.
        {std::nullopt, "0.0.1", "0.0.1rc0"},
        {"", "0.0.1", "0.0.1rc0"},
        {"1.2", "0.0.1", "0.0.1rc0"},
        {"V1.2.3", "0.0.1", "0.0.1rc0"},
        {"1.2.3-beta", "0.0.1", "0.0.1rc0"},
        {"1.2.3rc", "0.0.1", "0.0.1rc0"},
        {" 1.2.3", "0.0.1", "0.0.1rc0"},
        {"1.2.3 ", "0.0.1", "0.0.1rc0"},
        {"1.2.3.4", "0.0.1", "0.0.1rc0"},
        {"CICD-vv1.2.3", "0.0.1", "0.0.1rc0"},
        {"1.2.3\n\n", "0.0.1", "0.0.1rc0"},
    };
    for (const auto& c : cases) {
        auto [release, rc] = q::get_next_versions(c.input);
        EXPECT_EQ(release, c.release) << c.input.value_or("<none>");
        EXPECT_EQ(rc, c.rc) << c.input.value_or("<none>");
    }
}

TEST(QuillaryVersion, ParseVersion) {
    auto p = q::parse_version("1.2.3");
    EXPECT_EQ(p.base, "1.2.3");
    EXPECT_FALSE(p.rc);
    p = q::parse_version("CICD-v1.2.3rc2");
    EXPECT_EQ(p.base, "1.2.3");
    EXPECT_EQ(p.rc, "2");
    EXPECT_EQ(q::parse_version("1.2.3rc007").rc, "7");
    for (const char* bad : {"1.2.3.4", "1.2.3rc", ""}) {
        p = q::parse_version(std::string(bad));
        EXPECT_FALSE(p.base) << bad;
        EXPECT_FALSE(p.rc) << bad;
    }
}

TEST(QuillaryVersion, TypedVersionMustBeAVersionString) {
    for (const char* good : {"1.2.3", "0.0.1rc0", "10.20.30rc4"}) EXPECT_TRUE(q::is_version_string(good)) << good;
    for (const char* bad : {"", "v1.2.3", "1.2", "1.2.3 ", "1.2.3\n", "1.2.3-beta", "1.2.3rc", "1.2.3\"; rm -rf x"})
        EXPECT_FALSE(q::is_version_string(bad)) << bad;
}
