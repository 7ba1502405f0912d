#include "console.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

struct EncodingGuard {
    ConsoleEncoding saved = console_encoding();
    ~EncodingGuard() { console_set_encoding(saved); }
};

TEST(ConsoleTest, ConvertsToCodePage932OnlyWhenAsked) {
    EncodingGuard guard;
    const std::string text = "EITフラグ:オン／HD○,SD×～";
    console_set_encoding(ConsoleEncoding::Utf8);
    EXPECT_EQ(to_console_text(text.data(), text.size()), text);

    console_set_encoding(ConsoleEncoding::Cp932);
    EXPECT_EQ(to_console_text(text.data(), text.size()),
              "EIT\x83\x74\x83\x89\x83\x4F:\x83\x49\x83\x93\x81\x5E" "HD\x81\x9B,SD\x81\x7E\x81\x60");
}

TEST(ConsoleTest, ForeignBytesPassThroughUnchanged) {
    EncodingGuard guard;
    console_set_encoding(ConsoleEncoding::Cp932);
    const std::string path = "rec\xFF\xFE.ts\n";  // not UTF-8: a name in another encoding
    EXPECT_EQ(to_console_text(path.data(), path.size()), path);
}

}  // namespace
}  // namespace quill
