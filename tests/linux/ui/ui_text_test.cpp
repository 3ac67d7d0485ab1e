// Texts cross between the logic's UTF-16 and GTK's UTF-8 in both directions; what the logic
// reads back must be what it wrote, and text GTK cannot take must still be shown.
#include <gtest/gtest.h>

#include "platform/linux/gtk/text.h"
#include "resources/catalogue.h"

TEST(TextCrossing, CatalogueTextsSurviveTheRoundTripUnitForUnit) {
    // Umlauts, ß, the CR LF pairs and the apostrophes of the hint texts.
    for (const std::uint32_t id : {40000u, 40001u, 40015u, 40036u}) {
        const char16_t* text = FindCatalogueText(id);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text).c_str()), std::u16string(text)) << id;
    }
    EXPECT_EQ(Utf8FromUtf16(u"Gerät\r\nß"), "Ger\xC3\xA4t\r\n\xC3\x9F");
}

TEST(TextCrossing, CharactersBeyondTheBasicPlaneKeepTheirSurrogatePair) {
    const std::u16string text = u"a\U0001F50Cb";
    EXPECT_EQ(Utf8FromUtf16(text.c_str()), "a\xF0\x9F\x94\x8C" "b");
    EXPECT_EQ(Utf16FromUtf8("a\xF0\x9F\x94\x8C" "b"), text);
}

TEST(TextCrossing, BrokenTextIsShownWithReplacementCharactersNotDropped) {
    const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    EXPECT_EQ(Utf8FromUtf16(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(Utf16FromUtf8("x\xC3(y"), u"x\uFFFD(y");
    EXPECT_EQ(Utf8FromUtf16(nullptr), "");
}
