#include "job/descrambler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "job/job_context.h"
#include "job/options.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "substitute_transform.h"

// The binding is exercised against the substitute library built with the tests; it logs every call
// it receives, which is what these tests read back.

namespace quill {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes clear_packet(int pid, int cc, std::uint8_t fill) {
    Bytes p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(pid >> 8);
    p[2] = static_cast<std::uint8_t>(pid);
    p[3] = static_cast<std::uint8_t>(0x10 | (cc & 15));
    return p;
}

// `count` packets of PID 0x111, scrambled with the library's key; `clear` receives the originals.
Bytes scrambled_packets(int count, Bytes* clear = nullptr, std::uint8_t key = substitute::kKnownKey) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes p = clear_packet(0x111, i, static_cast<std::uint8_t>(i * 7));
        if (clear) clear->insert(clear->end(), p.begin(), p.end());
        substitute::scramble(p.data(), key);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

struct DescramblerTest : ::testing::Test {
    std::string log_path = ::testing::TempDir() + "b25_calls_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    Options options;
    Descrambler d;

    void SetUp() override {
        std::remove(log_path.c_str());
        setenv("SUBSTITUTE_B25_LOG", log_path.c_str(), 1);
        unsetenv("SUBSTITUTE_B25");
        options.descramble_mode = 2;
    }
    void TearDown() override {
        release_descrambler(d);
        unsetenv("SUBSTITUTE_B25_LOG");
        unsetenv("SUBSTITUTE_B25");
        std::remove(log_path.c_str());
    }
    BindResult bind(const char* behaviour = "", const std::string& library = SUBSTITUTE_B25_LIBRARY) {
        setenv("SUBSTITUTE_B25", behaviour, 1);
        return bind_descrambler(d, library, options);
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream f(log_path);
        for (std::string line; std::getline(f, line);) lines.push_back(line);
        return lines;
    }
};

using Calls = std::vector<std::string>;

TEST_F(DescramblerTest, BindingCallsInitialisationAndTheSettingsInOrder) {
    ASSERT_EQ(bind(), BindResult::Bound);
    EXPECT_NE(d.decoder2, nullptr);
    EXPECT_EQ(calls(), (Calls{"create", "initialize 4", "setting_5 1", "drop 0", "emm 0"}));

    release_descrambler(d);
    options.descramble_mode = 3;
    options.descramble_emm = 1;
    ASSERT_EQ(bind(), BindResult::Bound);
    EXPECT_EQ(calls(), (Calls{"create", "initialize 4", "setting_5 1", "drop 0", "emm 0", "release", "create",
                              "initialize 4", "setting_5 1", "drop 1", "emm 1"}));
}

TEST_F(DescramblerTest, ResetGivesTheSettingsAgainAndReleaseEndsTheObjectOnce) {
    options.descramble_mode = 3;
    ASSERT_EQ(bind(), BindResult::Bound);
    descrambler_reset(d);
    release_descrambler(d);
    release_descrambler(d);  // the record is empty now: nothing more reaches the library
    descrambler_reset(d);
    EXPECT_EQ(calls(), (Calls{"create", "initialize 4", "setting_5 1", "drop 1", "emm 0", "reset", "setting_5 1",
                              "drop 1", "emm 0", "release"}));
    EXPECT_EQ(d.decoder, nullptr);
    EXPECT_EQ(d.library, nullptr);
}

TEST_F(DescramblerTest, BasicInterfaceGetsNoSettingsAndReportsNoEmm) {
    options.descramble_mode = 3;
    options.descramble_emm = 1;
    ASSERT_EQ(bind("basic,emm=7"), BindResult::Bound);
    EXPECT_EQ(d.decoder2, nullptr);
    descrambler_reset(d);
    EXPECT_EQ(descrambler_emm_count(d), 0);
    EXPECT_EQ(calls(), (Calls{"create", "initialize 4", "reset"}));
}

TEST_F(DescramblerTest, EmmCountComesFromTheExtendedInterface) {
    ASSERT_EQ(bind("emm=7"), BindResult::Bound);
    EXPECT_EQ(descrambler_emm_count(d), 7);
    EXPECT_EQ(calls().back(), "emm_count");
}

TEST_F(DescramblerTest, FailuresToBindLeaveNothingLoaded) {
    EXPECT_EQ(bind("", ::testing::TempDir() + "no_such_folder/B25Decoder.so"), BindResult::LoadFailed);
    EXPECT_EQ(bind("", ""), BindResult::LoadFailed);
    EXPECT_EQ(bind("", SUBSTITUTE_B25_NO_FACTORY_LIBRARY), BindResult::InitFailed);
    EXPECT_EQ(bind("null_factory"), BindResult::InitFailed);
    EXPECT_EQ(calls(), Calls{});  // the factory handed out no object
    EXPECT_EQ(bind("init_fail"), BindResult::InitFailed);
    // An object that failed its initialisation is released before the library goes.
    EXPECT_EQ(calls(), (Calls{"create", "initialize 4", "release"}));
    EXPECT_EQ(d.decoder, nullptr);
    EXPECT_EQ(d.library, nullptr);
}

TEST_F(DescramblerTest, LibraryIsLookedForBesideTheExecutable) {
    const std::string exe = executable_path();
    ASSERT_NE(exe.find('/'), std::string::npos);
    EXPECT_EQ(descrambler_library_path(), exe.substr(0, exe.rfind('/') + 1) + "B25Decoder.so");
}

// A buffer laid out like the read buffer: the chunk at its start, `room` bytes available.
struct Chunk {
    std::unique_ptr<std::uint8_t[]> buffer;
    explicit Chunk(const Bytes& bytes, std::size_t room) : buffer(new std::uint8_t[room]) {
        std::copy(bytes.begin(), bytes.end(), buffer.get());
    }
    Bytes first(int n) const { return Bytes(buffer.get(), buffer.get() + n); }
};

TEST_F(DescramblerTest, ChunksAreDescrambledInPlaceWithTheLengthsTheLibraryGives) {
    ASSERT_EQ(bind(), BindResult::Bound);
    Bytes clear;
    const Bytes scrambled = scrambled_packets(20, &clear);
    // A chunk that ends inside the sixth packet: the library keeps the cut packet for later.
    Chunk a(Bytes(scrambled.begin(), scrambled.begin() + 1000), kReadBufferSize);
    const int n1 = decode_chunk(d, a.buffer.get(), 1000, kReadBufferSize);
    EXPECT_EQ(n1, 5 * 188);
    EXPECT_EQ(a.first(n1), Bytes(clear.begin(), clear.begin() + n1));
    // The rest comes out longer than it went in.
    Chunk b(Bytes(scrambled.begin() + 1000, scrambled.end()), kReadBufferSize);
    const int n2 = decode_chunk(d, b.buffer.get(), static_cast<int>(scrambled.size()) - 1000, kReadBufferSize);
    EXPECT_EQ(n2, 15 * 188);
    EXPECT_EQ(b.first(n2), Bytes(clear.begin() + n1, clear.end()));
}

TEST_F(DescramblerTest, HeldBackOutputComesOutLaterAndLonger) {
    ASSERT_EQ(bind("hold=3"), BindResult::Bound);
    Bytes clear;
    const Bytes scrambled = scrambled_packets(30, &clear);
    Bytes out;
    for (int i = 0; i < 3; ++i) {
        Chunk c(Bytes(scrambled.begin() + i * 1880, scrambled.begin() + (i + 1) * 1880), kReadBufferSize);
        const int n = decode_chunk(d, c.buffer.get(), 1880, kReadBufferSize);
        EXPECT_EQ(n, i < 2 ? 0 : 3 * 1880);
        const Bytes got = c.first(n);
        out.insert(out.end(), got.begin(), got.end());
    }
    EXPECT_EQ(out, clear);
}

TEST_F(DescramblerTest, RejectedChunksAndOutputWithoutRoomStayAsRead) {
    ASSERT_EQ(bind("reject_every=2"), BindResult::Bound);
    const Bytes scrambled = scrambled_packets(10);
    Chunk a(scrambled, 4096);
    EXPECT_EQ(decode_chunk(d, a.buffer.get(), 1880, 4096), 1880);  // accepted
    Chunk b(scrambled, 4096);
    EXPECT_EQ(decode_chunk(d, b.buffer.get(), 1880, 4096), 1880);  // rejected
    EXPECT_EQ(b.first(1880), scrambled);

    // The output must fit between the chunk and the end of the read buffer: exactly fitting is
    // taken, one byte less room is refused with a warning, and the chunk stays as read.
    release_descrambler(d);
    ASSERT_EQ(bind("oversize"), BindResult::Bound);
    constexpr std::size_t kOversize = 9u * 1024u * 1024u;
    Chunk c(scrambled, kOversize);
    EXPECT_EQ(decode_chunk(d, c.buffer.get(), 1880, kOversize), static_cast<int>(kOversize));
    Chunk e(scrambled, kReadBufferSize);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(decode_chunk(d, e.buffer.get(), 1880, kOversize - 1), 1880);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(e.first(1880), scrambled);
    EXPECT_NE(out.find("warning - descrambler output of 9437184 bytes does not fit the read buffer"),
              std::string::npos);
}

TEST_F(DescramblerTest, OutputHandedBackInTheChunkItselfIsKept) {
    ASSERT_EQ(bind("in_place"), BindResult::Bound);
    Bytes clear;
    const Bytes scrambled = scrambled_packets(8, &clear);
    Chunk c(scrambled, 8192);
    EXPECT_EQ(decode_chunk(d, c.buffer.get(), static_cast<int>(scrambled.size()), 8192),
              static_cast<int>(scrambled.size()));
    EXPECT_EQ(c.first(static_cast<int>(clear.size())), clear);
}

TEST_F(DescramblerTest, UnknownKeysPassOrAreDroppedByTheSetting) {
    Bytes expected;
    Bytes mixed = scrambled_packets(3, &expected);
    const Bytes unknown = scrambled_packets(2, nullptr, substitute::kUnknownKey);
    mixed.insert(mixed.end(), unknown.begin(), unknown.end());
    expected.insert(expected.end(), unknown.begin(), unknown.end());

    ASSERT_EQ(bind(), BindResult::Bound);
    Chunk a(mixed, 8192);
    EXPECT_EQ(decode_chunk(d, a.buffer.get(), 5 * 188, 8192), 5 * 188);
    EXPECT_EQ(a.first(5 * 188), expected);

    release_descrambler(d);
    options.descramble_mode = 3;
    ASSERT_EQ(bind(), BindResult::Bound);
    Chunk b(mixed, 8192);
    EXPECT_EQ(decode_chunk(d, b.buffer.get(), 5 * 188, 8192), 3 * 188);
    EXPECT_EQ(b.first(3 * 188), Bytes(expected.begin(), expected.begin() + 3 * 188));
}

TEST_F(DescramblerTest, PrerollOffersWholeChunksUpToTheLimitOrTheEnd) {
    ASSERT_EQ(bind(), BindResult::Bound);
    const std::string path = ::testing::TempDir() + "b25_preroll.ts";
    auto count_decodes = [&](std::size_t file_size) {
        const std::size_t logged_before = calls().size();
        {
            std::ofstream f(path, std::ios::binary);
            const Bytes zeros(file_size, 0);
            f.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
        }
        std::vector<std::uint8_t> buffer(kChunkSize);
        Source source;
        EXPECT_TRUE(source_begin(source, file_open_read(path.c_str()), "", ""));
        descrambler_preroll(d, source, buffer.data());
        source_end(source);
        int decodes = 0;
        std::string last;
        const Calls all = calls();
        for (std::size_t i = logged_before; i < all.size(); ++i)
            if (const std::string& line = all[i]; line.rfind("decode", 0) == 0) {
                ++decodes;
                last = line;
            }
        return std::make_pair(decodes, last);
    };
    // 63 chunks are 516,096 bytes: the first count at or above 512,000.
    EXPECT_EQ(count_decodes(2'000'000), std::make_pair(63, std::string("decode 8192 -> 8192")));
    EXPECT_EQ(count_decodes(100'000), std::make_pair(13, std::string("decode 1696 -> 1696")));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace quill
