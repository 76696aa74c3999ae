#include "core/cp1251.h"

#include <gtest/gtest.h>

namespace p2k {
namespace {

TEST(Cp1251, EveryAssignedByteSurvivesTheRoundTrip)
{
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98)
            continue;
        const std::string raw(1, static_cast<char>(b));
        const std::optional<std::string> back = utf8ToCp1251(cp1251ToUtf8(raw));
        ASSERT_TRUE(back.has_value()) << b;
        EXPECT_EQ(*back, raw) << b;
    }
}

TEST(Cp1251, KnownLetters)
{
    EXPECT_EQ(cp1251ToUtf8("\xC0\xFF\xA8\xB8"), "АяЁё");
    EXPECT_EQ(cp1251ToUtf8("\x88\xB9"), "€№");
    EXPECT_EQ(cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
    EXPECT_EQ(utf8ToCp1251("Мелодия.mid"), std::optional<std::string>("\xCC\xE5\xEB\xEE\xE4\xE8\xFF.mid"));
}

TEST(Cp1251, TextItCannotCarryIsRefused)
{
    for (const char* text : {"中", "\xC0\xAF", "\xE0\x80\xAF", "\xD0", "\x80", "a\xFF", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"})
        EXPECT_FALSE(utf8ToCp1251(text).has_value()) << text;
}

} // namespace
} // namespace p2k
