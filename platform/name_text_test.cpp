#include "name_text.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(NameTextTest, LastCharacterIsNeverSplit) {
    EXPECT_EQ(last_char_bytes_utf8(""), 0u);
    EXPECT_EQ(last_char_bytes_utf8("abc"), 1u);
    EXPECT_EQ(last_char_bytes_utf8("ab\xC3\xA9"), 2u);             // é
    EXPECT_EQ(last_char_bytes_utf8("\xE7\x95\xAA\xE7\xB5\x84"), 3u);  // 番組
    EXPECT_EQ(last_char_bytes_utf8("a\xF0\x9F\x93\xBA"), 4u);        // a 4-byte character
    // Broken sequences count byte by byte, so shortening always makes progress.
    EXPECT_EQ(last_char_bytes_utf8("a\xE7\x95"), 1u);
    EXPECT_EQ(last_char_bytes_utf8("a\x80"), 1u);

    EXPECT_EQ(last_char_bytes_cp932("abc"), 1u);
    EXPECT_EQ(last_char_bytes_cp932("a\x94\xD4"), 2u);  // a lead byte takes its trail byte
    EXPECT_EQ(last_char_bytes_cp932("\x94\x5C"), 2u);   // a trail byte that looks like '\'
    EXPECT_EQ(last_char_bytes_cp932("a\xB1"), 1u);      // half-width katakana: one byte
    EXPECT_EQ(last_char_bytes_cp932("a\x94"), 1u);      // a lone lead byte at the end
}

TEST(NameTextTest, Utf16LengthCountsCodeUnitsTwice) {
    EXPECT_EQ(utf16_bytes_utf8("abc"), 6u);
    EXPECT_EQ(utf16_bytes_utf8("\xE7\x95\xAA"), 2u);
    EXPECT_EQ(utf16_bytes_utf8("\xF0\x9F\x93\xBA"), 4u);  // a surrogate pair
    EXPECT_EQ(utf16_bytes_utf8(std::string(5000, 'x')), 8192u);  // at most 4096 units
}

}  // namespace
}  // namespace quill
