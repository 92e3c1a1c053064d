#include <gtest/gtest.h>

#include <string>

#include "support/base64.hpp"

using support::base64_encode;

TEST(Base64, EncodesTheStandardTestVectors) {
    struct Case { std::string in, out; };
    for (const auto& c : std::vector<Case>{
             {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
             {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
         })
        EXPECT_EQ(base64_encode(c.in), c.out) << c.in;
}

TEST(Base64, EncodesEveryByteValueWithoutLineBreaks) {
    // High bytes must not be sign-extended; the last two alphabet letters are "+" and "/".
    EXPECT_EQ(base64_encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(base64_encode(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(base64_encode(std::string("\xff", 1)), "/w==");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string encoded = base64_encode(all + all);
    EXPECT_EQ(encoded.size(), 684u);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(encoded.substr(0, 8), "AAECAwQF");
    EXPECT_EQ(encoded.substr(encoded.size() - 4), "/v8=");
}
