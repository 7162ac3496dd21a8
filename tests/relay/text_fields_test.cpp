#include "relay/text_fields.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velmor {
namespace {

TEST(TextFields, Utf8FieldIsCutAtCharacterBoundaryAndTerminated) {
    struct Case {
        std::string text;
        size_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", 8, "abc"},
        {"abcdefgh", 8, "abcdefg"},
        // "é" is two bytes: with room for 3 bytes only "a" and "é" fit, not half of the next one.
        {"aéé", 4, "aé"},
        {"aéé", 3, "a"},
        {"€€", 6, "€"},                // three-byte characters
        {"\xF0\x9F\x8E\xA5x", 4, ""},  // a four-byte character never fits in three bytes
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        char field[16];
        std::memset(field, 'X', sizeof field);
        CopyToField(field, c.capacity, c.text);
        EXPECT_EQ(FieldText(field, c.capacity), c.expected) << c.text << " into " << c.capacity;
        EXPECT_EQ(field[c.capacity - 1], '\0');
        EXPECT_EQ(field[c.capacity], 'X') << "wrote past the field";
    }
}

TEST(TextFields, Utf16FieldNeverSplitsASurrogatePair) {
    char16_t field[4];
    const std::u16string text = u"ab\U0001F3A5";  // a, b, then a surrogate pair
    CopyToField(field, 4, text);
    EXPECT_EQ(FieldText(field, 4), u"ab");
    CopyToField(field, 4, u"abc");
    EXPECT_EQ(FieldText(field, 4), u"abc");
}

TEST(TextFields, FieldWithoutTerminatorIsReadOnlyToItsEnd) {
    const char field[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FieldText(field, 4), "abcd");
}

TEST(TextFields, Utf8AndUtf16RoundTripAndMalformedInputIsReplaced) {
    const std::string text = "Studio \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");      // truncated sequence at the end
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAFz"), u"\uFFFDz");  // overlong form
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

}  // namespace
}  // namespace velmor
