#include "sites/PasswordEncoding.h"

#include <gtest/gtest.h>

namespace {

struct EncodingCase {
    std::string clear;
    std::string encoded;
};

TEST(PasswordEncoding, EncodesAndDecodesKnownValues)
{
    const EncodingCase cases[] = {
        {"abc", "E9D9C9"},
        {"", ""},
        {std::string("\x00\xff", 2), "FF00"},
        {"Pass w0rd!", "FAE9C8C8FD88FCD8B9ED"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodePassword(c.clear), c.encoded) << c.clear;
        EXPECT_EQ(DecodePassword(c.encoded), c.clear) << c.encoded;
    }
}

TEST(PasswordEncoding, DecodingIgnoresATrailingOddCharacter)
{
    const EncodingCase cases[] = {
        {"a", "E9D"},
        {"", "E"},
        {"ab", "E9D9C"},
        {"abc", "e9d9c9"}, // lower-case hex reads the same
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodePassword(c.encoded), c.clear) << c.encoded;
}

TEST(PasswordEncoding, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string encoded = EncodePassword(all);
    EXPECT_EQ(encoded.size(), 512u);
    EXPECT_EQ(encoded.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(DecodePassword(encoded), all);
}

} // namespace
