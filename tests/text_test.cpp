#include "app/text.h"

#include "program_fixture.h"

namespace {

TEST(Catalogue, TextsAreUtf16ByteForByte) {
    const std::u16string ready = FindCatalogueText(IDS_READY);
    EXPECT_EQ(ready.substr(0, 18), u"VELTABOX am USB Bu");
    EXPECT_NE(ready.find(u"\u00fcbertragen.\r\n\r\n!!! Bitte"), std::u16string::npos) << "umlaut or line breaks wrong";
    EXPECT_NE(ready.find(u"PC<=>VELTABOX w\u00e4hrend"), std::u16string::npos);
    EXPECT_EQ(ready.back(), u'!');
    EXPECT_NE(std::u16string(FindCatalogueText(IDS_WRONG_MODE)).find(u"folgenderma\u00dfen"), std::u16string::npos);
    EXPECT_EQ(std::u16string(FindCatalogueText(IDS_SYSTEM_ERROR_CODE)), u"Das System meldet Fehlercode 0x%08x-0x%08x");
    EXPECT_EQ(std::u16string(FindCatalogueText(IDS_WRITING)), u"Firmware wird geschrieben, bitte warten...");
    EXPECT_EQ(FindCatalogueText(40003), nullptr);
    for (std::uint32_t id : {40000u, 40001u, 40002u, 40008u, 40009u, 40011u, 40012u, 40015u, 40017u, 40020u, 40022u,
                             40023u, 40025u, 40027u, 40028u, 40029u, 40030u, 40032u, 40036u, 40040u, 40041u, 40042u}) {
        EXPECT_NE(FindCatalogueText(id), nullptr) << id;
    }
}

TEST(Catalogue, LoadingCutsToTheBufferAndTerminates) {
    char16_t small[8];
    EXPECT_EQ(UiLoadString(IDS_UPDATE_FAILED, small, 8), 7);
    EXPECT_EQ(std::u16string(small), u"Update ");
    MessageBuffer full;
    full[0] = u'x';
    LoadMessage(40003, full);
    EXPECT_EQ(full[0], 0) << "an unknown number loads as empty text";
}

TEST(Text, ErrorCodeLineShowsCodeAndSystemErrorAsEightHexDigits) {
    MessageBuffer line;
    FormatText(line, MESSAGE_BUFFER_CHARS, FindCatalogueText(IDS_SYSTEM_ERROR_CODE), {static_cast<std::uint32_t>(-2), 5});
    EXPECT_EQ(std::u16string(line), u"Das System meldet Fehlercode 0xfffffffe-0x00000005");
    FormatText(line, MESSAGE_BUFFER_CHARS, u"%u.%u|%u", {0, 4294967295u, 7});
    EXPECT_EQ(std::u16string(line), u"0.4294967295|7");
}

TEST(Text, AppendingAndFormattingStayWithinTheBuffer) {
    char16_t buffer[6] = u"abc";
    TextAppend(buffer, 6, u"defgh");
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    char16_t formatted[5];
    FormatText(formatted, 5, u"%08x", {0xABCDEF12u});
    EXPECT_EQ(std::u16string(formatted), u"abcd");
}

TEST(Text, CopyingOutIsCutToTheBufferLikeGetWindowText) {
    char16_t buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(CopyText(u"Beenden", buffer, 4), 3);
    EXPECT_EQ(std::u16string(buffer), u"Bee");
    EXPECT_EQ(CopyText(u"", buffer, 4), 0);
    EXPECT_EQ(buffer[0], 0);
    buffer[0] = u'#';
    EXPECT_EQ(CopyText(u"Beenden", buffer, 0), 0);
    EXPECT_EQ(buffer[0], u'#');
}

}  // namespace
