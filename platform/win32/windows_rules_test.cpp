// The Windows rules of the platform layer: drive letters, both separators, code page 932 names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

#include "console.h"
#include "debug_channel.h"
#include "file_io.h"
#include "library.h"
#include "name_text.h"
#include "path.h"
#include "system.h"

namespace quill {
namespace {

TEST(WindowsPathTest, SplitsDriveFolderBaseAndExtension) {
    struct Case {
        const char* path;
        const char* drive;
        const char* folder;
        const char* base;
        const char* ext;
    } cases[] = {
        {"C:\\rec\\news.ts", "C:", "\\rec\\", "news", ".ts"},
        {"D:news.ts", "D:", "", "news", ".ts"},
        {"C:/rec/sub\\a.b.m2ts", "C:", "/rec/sub\\", "a.b", ".m2ts"},
        {"\\\\server\\share\\rec.ts", "", "\\\\server\\share\\", "rec", ".ts"},
        {"rec.d\\noext", "", "rec.d\\", "noext", ""},
        {"C:\\rec\\", "C:", "\\rec\\", "", ""},
        {"", "", "", "", ""},
        // 表 is 0x95 0x5C in code page 932: its trail byte is not a separator.
        {"C:\\\x95\x5C\\\x95\x5C.ts", "C:", "\\\x95\x5C\\", "\x95\x5C", ".ts"},
        {"\x95\x5C\x95\x5C", "", "", "\x95\x5C\x95\x5C", ""},
    };
    for (const Case& c : cases) {
        PathParts p = split_path(c.path);
        EXPECT_EQ(p.drive, c.drive) << c.path;
        EXPECT_EQ(p.folder, c.folder) << c.path;
        EXPECT_EQ(p.base, c.base) << c.path;
        EXPECT_EQ(p.ext, c.ext) << c.path;
    }
}

TEST(WindowsPathTest, JoinAddsColonBackslashAndDotOnlyWhereMissing) {
    EXPECT_EQ(join_path("C:", "\\out\\", "rec_HD", ".ts"), "C:\\out\\rec_HD.ts");
    EXPECT_EQ(join_path("C", "\\out", "rec_HD", "ts"), "C:\\out\\rec_HD.ts");
    EXPECT_EQ(join_path("", "/out/", "rec", ".log"), "/out/rec.log");
    EXPECT_EQ(join_path("", "", "rec", ""), "rec");
    // A folder ending in 表 (trail byte 0x5C) still needs its separator.
    EXPECT_EQ(join_path("C:", "\\\x95\x5C", "a", ".ts"), "C:\\\x95\x5C\\a.ts");
    PathParts p = split_path("E:\\a\\b\\rec.ts");
    EXPECT_EQ(join_path(p.drive, p.folder, p.base, p.ext), "E:\\a\\b\\rec.ts");
    EXPECT_EQ(kPathSeparator, '\\');
}

TEST(WindowsNameTextTest, NamesAreCodePage932) {
    EXPECT_EQ(last_char_bytes("ab\x94\xD4"), 2u);        // 番
    EXPECT_EQ(last_char_bytes("ab\xB1"), 1u);            // half-width katakana
    EXPECT_EQ(utf16_bytes("abc"), 6u);
    EXPECT_EQ(utf16_bytes("\x94\xD4\x91\x67"), 4u);      // 番組: two characters, two units each
    EXPECT_EQ(utf16_bytes("C:\\\x95\x5C.ts"), 14u);      // C:\表.ts
    EXPECT_EQ(utf16_bytes(std::string(5000, 'x')), 8192u);  // at most 4096 units are counted
    EXPECT_EQ(utf16_bytes(""), 0u);
}

class WindowsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        dir = std::string(temp) + "quill-platform-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override {
        DeleteFileA((dir + "\\a.ts").c_str());
        DeleteFileA((dir + "\\b.ts").c_str());
        RemoveDirectoryA(dir.c_str());
    }
    std::string dir;
};

TEST_F(WindowsFileTest, IdentityFollowsTheFileNotItsSpelling) {
    const std::string a = dir + "\\a.ts";
    ASSERT_EQ(file_create_empty(a.c_str()), 0);
    ASSERT_EQ(file_create_empty((dir + "\\b.ts").c_str()), 0);
    int fd = file_open_read(a.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(file_identity(fd), path_identity((dir + "/./A.TS").c_str()));
    EXPECT_FALSE(file_identity(fd) == path_identity((dir + "\\b.ts").c_str()));
    EXPECT_FALSE(path_identity((dir + "\\missing.ts").c_str()).valid);
    file_close(fd);
    EXPECT_EQ(file_open_read(dir.c_str()), -1);  // a folder is not an input
}

TEST_F(WindowsFileTest, LargePositionsSizesAndBinaryBytes) {
    const std::string a = dir + "\\a.ts";
    int fd = file_open_rw_create(a.c_str());
    ASSERT_GE(fd, 0);
    const char bytes[] = "\r\n\x1A\n";  // no text-mode translation and no end-of-file mark
    EXPECT_EQ(file_write(fd, bytes, 4), 4);
    const long long five_gib = 5LL << 30;
    EXPECT_EQ(file_seek(fd, five_gib, 0), five_gib);
    EXPECT_EQ(file_write(fd, "x", 1), 1);
    EXPECT_EQ(file_seek(fd, 0, 2), five_gib + 1);
    EXPECT_EQ(file_truncate(fd, 4), 0);
    EXPECT_EQ(file_seek(fd, 0, 2), 4);
    EXPECT_EQ(file_seek(fd, 0, 0), 0);
    char back[8] = {};
    EXPECT_EQ(file_read(fd, back, sizeof back), 4);
    EXPECT_EQ(std::string(back, 4), std::string(bytes, 4));
    EXPECT_EQ(file_read(fd, back, sizeof back), 0);
    file_close(fd);
    EXPECT_EQ(file_remove(a.c_str()), 0);
    EXPECT_EQ(file_remove(a.c_str()), -1);
}

TEST(WindowsSystemTest, OwnPathAndLibraries) {
    const std::string exe = executable_path();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(split_path(exe).ext, ".exe");
    EXPECT_STREQ(library_extension(), ".dll");
    // A bare name would be looked for on the search path: never loaded.
    EXPECT_EQ(library_load("kernel32.dll"), nullptr);
    EXPECT_EQ(library_load(split_path(exe).drive + split_path(exe).folder + "missing.dll"), nullptr);
    LoadedLibrary* kernel = library_load("C:\\windows\\system32\\kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(library_symbol(kernel, "GetTickCount"), nullptr);
    EXPECT_EQ(library_symbol(kernel, "NoSuchExport"), nullptr);
    library_free(kernel);
}

// What OutputDebugStringA raises for a debugger: its text, with the terminating zero.
std::vector<std::string> g_debug_texts;

LONG CALLBACK catch_debug_text(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* r = pointers->ExceptionRecord;
    if (r->ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */ && r->NumberParameters >= 2)
        g_debug_texts.emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]),
                                   static_cast<std::size_t>(r->ExceptionInformation[0]));
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(WindowsDebugChannelTest, TraceTextReachesTheDebuggerWholeInCodePage932) {
    const ConsoleEncoding saved = console_encoding();
    console_set_encoding(ConsoleEncoding::Cp932);
    g_debug_texts.clear();
    PVOID handler = AddVectoredExceptionHandler(1, catch_debug_text);
    ASSERT_NE(handler, nullptr);
    debug_channel_write("\xE9\x9F\xB3\xE5\xA3\xB0\xE5\xB7\xAE\xE5\x88\x86,12\r\n");  // 音声差分
    RemoveVectoredExceptionHandler(handler);
    console_set_encoding(saved);
    ASSERT_EQ(g_debug_texts.size(), 1u);
    EXPECT_EQ(g_debug_texts[0], std::string("\x89\xB9\x90\xBA\x8D\xB7\x95\xAA,12\r\n", 14));
}

}  // namespace
}  // namespace quill
