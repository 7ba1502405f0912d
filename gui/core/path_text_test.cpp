#include "path_text.h"

#include <gtest/gtest.h>

#include "argument_line.h"
#include "input_files.h"

namespace quill::gui {
namespace {

// "表" in code page 932: its trail byte is the backslash.
constexpr const char* kHyoCp932 = "\x95\x5C";

TEST(PathText, TrailingBackslashesGoButATrailByteStays) {
    const std::string hyo = kHyoCp932;
    struct Case {
        std::string path, want;
    } cases[] = {
        {"D:\\rec\\" + hyo, "D:\\rec\\" + hyo},
        {"D:\\rec\\" + hyo + "\\\\", "D:\\rec\\" + hyo},
        {hyo, hyo},
        {"D:\\out dir\\\\\\", "D:\\out dir"},
        {"\\\\", ""},
        {"", ""},
        // Half-width katakana are single bytes, so the backslash after one is a separator.
        {"D:\\\xB1\\", "D:\\\xB1"},
        // A lone lead byte at the end takes nothing with it.
        {"D:\\\x95", "D:\\\x95"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(without_trailing_backslashes(c.path, last_char_bytes_cp932), c.want) << c.path;

    // UTF-8 never has 0x5C inside a character: "表\" loses only its separator.
    EXPECT_EQ(without_trailing_backslashes("D:\\\xE8\xA1\xA8\\\\", last_char_bytes_utf8),
              "D:\\\xE8\xA1\xA8");
}

TEST(PathText, FolderEndsAtTheLastSeparatorOfItsOwn) {
    const std::string hyo = kHyoCp932;
    EXPECT_EQ(folder_length("C:\\tools\\" + hyo + "\x8E\xA6.exe", last_char_bytes_cp932), 9u);
    EXPECT_EQ(folder_length("C:\\" + hyo + "\\" + hyo + ".exe", last_char_bytes_cp932), 6u);
    EXPECT_EQ(folder_length("C:gui.exe", last_char_bytes_cp932), 2u);
    EXPECT_EQ(folder_length(hyo + ".exe", last_char_bytes_cp932), 0u);
    EXPECT_EQ(folder_length("/opt/q/gui", last_char_bytes_utf8), 7u);
}

// The same checks through the front end with this build's own rule. The literals are UTF-8 here
// and code page 932 in the Windows build, where "表" ends in 0x5C.
TEST(PathText, FrontEndKeepsANameEndingInADoubleByteCharacter) {
    Settings s;
    s.out = true;
    s.out_path = "D:\\録画\\表\\";
    const ArgumentLine a = build_argument_line(s, "", 0, nullptr);
    EXPECT_EQ(a.line, "-EIT -ECM -EMM -SD -1SEG -OUT \"D:\\録画\\表\" ");

    const FrontEndPaths p = front_end_paths("C:\\表\\表示.exe");
    EXPECT_EQ(p.ini, "C:\\表\\表示.ini");
    EXPECT_EQ(p.console, "C:\\表\\Quillodine.exe");
}

}  // namespace
}  // namespace quill::gui
