#include "path.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(PathTest, SplitsFolderBaseAndExtension) {
    struct Case {
        const char* path;
        const char* folder;
        const char* base;
        const char* ext;
    } cases[] = {
        {"/rec/news.ts", "/rec/", "news", ".ts"},
        {"news.ts", "", "news", ".ts"},
        {"/rec/a.b.c.m2ts", "/rec/", "a.b.c", ".m2ts"},
        {"/rec/noext", "/rec/", "noext", ""},
        {"/rec.d/noext", "/rec.d/", "noext", ""},  // a dot in the folder is not an extension
        {"/rec/", "/rec/", "", ""},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        PathParts p = split_path(c.path);
        EXPECT_EQ(p.drive, "") << c.path;
        EXPECT_EQ(p.folder, c.folder) << c.path;
        EXPECT_EQ(p.base, c.base) << c.path;
        EXPECT_EQ(p.ext, c.ext) << c.path;
    }
}

TEST(PathTest, JoinAddsOnlyMissingSeparators) {
    EXPECT_EQ(join_path("", "/out/", "rec_HD", ".ts"), "/out/rec_HD.ts");
    EXPECT_EQ(join_path("", "/out", "rec_HD", "ts"), "/out/rec_HD.ts");
    EXPECT_EQ(join_path("", "", "rec", ".log"), "rec.log");
    EXPECT_EQ(join_path("", "", "rec", ""), "rec");
    PathParts p = split_path("/a/b/rec.ts");
    EXPECT_EQ(join_path(p.drive, p.folder, p.base, p.ext), "/a/b/rec.ts");
}

}  // namespace
}  // namespace quill
