#include "output/naming.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

Options flen(bool utf16 = false) {
    Options o;
    o.limit_name_length = 1;
    o.count_name_as_utf16 = utf16 ? 1 : 0;
    return o;
}

TEST(NamingTest, JoinsPiecesWithoutShortening) {
    Options o;
    EXPECT_EQ(build_output_name(o, "", "/rec/", "news", "_HD", ".ts"), "/rec/news_HD.ts");
    EXPECT_EQ(build_output_name(o, "", "", "news", "_CS3(211)-2", ".ts"), "news_CS3(211)-2.ts");
    EXPECT_EQ(build_output_name(o, "", "/rec/", "news", "_tsselect", ".log"), "/rec/news_tsselect.log");
    const std::string long_base(300, 'a');
    EXPECT_EQ(build_output_name(o, "", "", long_base, "_HD", ".ts").size(), 306u);  // no -FLEN: kept whole
}

TEST(NamingTest, FlenCutsTheBaseNameToTheLimit) {
    const std::string folder = "/a/rec/";  // 7 bytes
    std::string name = build_output_name(flen(), "", folder, std::string(260, 'b'), "_HD", ".ts");
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name, folder + std::string(242, 'b') + "_HD.ts");
    // Exactly 255 bytes is left alone.
    EXPECT_EQ(build_output_name(flen(), "", folder, std::string(242, 'b'), "_HD", ".ts").size(), 255u);
    // -UNI counts every character twice: (7 + base + 3 + 3) x 2 <= 255 gives 114.
    name = build_output_name(flen(true), "", folder, std::string(260, 'b'), "_HD", ".ts");
    EXPECT_EQ(name, folder + std::string(114, 'b') + "_HD.ts");
    // -UNI without -FLEN has no effect.
    Options uni_only;
    uni_only.count_name_as_utf16 = 1;
    EXPECT_EQ(build_output_name(uni_only, "", folder, std::string(260, 'b'), "_HD", ".ts").size(), 273u);
}

TEST(NamingTest, FlenNeverSplitsAMultibyteCharacter) {
    // 84 three-byte characters (252 bytes) + "_HD.ts": the path is 258 bytes; one character goes.
    std::string base;
    for (int i = 0; i < 84; ++i) base += "\xE7\x95\xAA";
    std::string name = build_output_name(flen(), "", "", base, "_HD", ".ts");
    EXPECT_EQ(name, base.substr(0, 249) + "_HD.ts");
    // Under -UNI each of them is one code unit: 83 x 2 + 12 fits.
    name = build_output_name(flen(true), "", "", base, "_HD", ".ts");
    EXPECT_EQ(name, base + "_HD.ts");
}

TEST(NamingTest, ShortBaseNamesStayWhenTheFolderIsTooLong) {
    const std::string folder = "/" + std::string(300, 'f') + "/";
    EXPECT_EQ(build_output_name(flen(), "", folder, "ab", "_HD", ".ts"), folder + "ab_HD.ts");
    // Shortening stops at the shortest base name above 2 bytes.
    EXPECT_EQ(build_output_name(flen(), "", folder, "abcdef", "_HD", ".ts"), folder + "abc_HD.ts");
}

TEST(NamingTest, PathsAreLimitedTo1022Bytes) {
    Options o;
    EXPECT_EQ(build_output_name(o, "", "", std::string(2000, 'x'), "_HD", ".ts").size(), kMaxOutputPathBytes);
}

}  // namespace
}  // namespace quill
