// The console program end to end: usage, exit codes, per-input errors, unit sizes, damaged
// stretches and the null-removal copy, on recordings built by the synthesizer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;

std::string golden(const std::string& name) {
    Bytes b = e2e::read_file(std::string(QUILL_GOLDEN_DIR) + "/" + name);
    return std::string(b.begin(), b.end());
}

// A small multiplex: PAT, a PMT, video/audio-like payload on three PIDs, nulls in between.
std::vector<synth::Packet> sample_packets(int count) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});
    for (int i = 0; mux.packets.size() < static_cast<std::size_t>(count); ++i) {
        mux.filler(static_cast<uint16_t>(0x0111 + i % 3), static_cast<uint8_t>(i));
        if (i % 4 == 0) mux.null(1);
    }
    mux.packets.resize(static_cast<std::size_t>(count));
    return mux.packets;
}

using e2e::concat;

// The line that closes every input processed to its end (files below 1 MB, nothing scrambled).
const std::string kDone = "\r  ( 0 MB/ 0 MB) 100%\n";

Bytes non_null(const std::vector<synth::Packet>& packets) {
    Bytes b;
    for (const auto& p : packets)
        if (synth::pid_of(p) != synth::kPidNull) b.insert(b.end(), p.begin(), p.end());
    return b;
}

TEST(UsageTest, NoArgumentsPrintUsageAndExitOne) {
    e2e::TempDir dir;
    e2e::RunResult r = e2e::run_quillodine({}, dir.path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, golden("usage.txt"));

    r = e2e::run_quillodine({"-OVL-1,0", "x.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, golden("usage_negative_overlap.txt"));
    EXPECT_EQ(r.err, golden("usage.txt") + "-OVLの前方パケットサイズにはマイナスは指定できません\r\n\r\n");

    for (auto args : {std::vector<std::string>{"-EIT"}, {"x.ts", "-OUT"}, {"x.ts", "-BUFF"}}) {
        r = e2e::run_quillodine(args, dir.path);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, golden("usage.txt"));
        EXPECT_EQ(r.out, "");  // nothing was processed
    }
}

TEST(ModeSummaryTest, FirstLineShowsFlagsAndOutputs) {
    e2e::TempDir dir;
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    } cases[] = {
        {{"-SD3"}, "EITフラグ:オフ／ECMフラグ:オフ／EMMフラグ:オフ／HD○,SD○○×,1SEG○\n"},
        {{"-EIT", "-EMM", "-HD", "-1SEG", "-SD"}, "EITフラグ:オン／ECMフラグ:オフ／EMMフラグ:オン／HD×,SD×××,1SEG×\n"},
        {{"-NULL", "-EIT"}, "NULL除去モードオン\n"},
        {{"-GOPONLYCH"}, "GOP作成モードオン\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("missing.ts");
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        EXPECT_EQ(r.out, c.first_line + "error - failed on open(missing.ts) [src]\n");
        EXPECT_EQ(r.exit_code, 2);
    }
}

TEST(NullRemovalTest, CopiesEveryNonNullPacketInOrder) {
    e2e::TempDir dir;
    auto packets = sample_packets(3000);
    e2e::write_file(dir.file("rec.ts"), concat(packets));
    for (const char* buff : {"0", "1", "10", "4096"}) {
        e2e::RunResult r = e2e::run_quillodine({"-NULL", "-BUFF", buff, "rec.ts"}, dir.path);
        EXPECT_EQ(r.exit_code, 0) << buff;
        EXPECT_EQ(r.out, "NULL除去モードオン\nrec.ts\n" + kDone);
        EXPECT_EQ(e2e::read_file(dir.file("rec_NULL.ts")), non_null(packets)) << "-BUFF " << buff;
    }
    EXPECT_EQ(e2e::list_dir(dir.path), (std::vector<std::string>{"rec.ts", "rec_NULL.ts"}));
}

TEST(NullRemovalTest, UnitSizesGiveTheSamePlainPackets) {
    e2e::TempDir dir;
    auto packets = sample_packets(500);
    for (auto unit : {synth::Unit::u188, synth::Unit::u192, synth::Unit::u204}) {
        Bytes file = synth::to_units(packets, unit);
        e2e::write_file(dir.file("rec.ts"), file);
        e2e::RunResult r = e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(e2e::read_file(dir.file("rec_NULL.ts")), non_null(packets)) << static_cast<int>(unit);
    }
    // A file that ends inside a unit: the last unit still holds its 188 packet bytes.
    Bytes file = synth::to_units(packets, synth::Unit::u204);
    file.resize(file.size() - 16);
    e2e::write_file(dir.file("rec.ts"), file);
    EXPECT_EQ(e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path).exit_code, 0);
    EXPECT_EQ(e2e::read_file(dir.file("rec_NULL.ts")), non_null(packets));
    // One byte fewer and the last packet is incomplete: it is left out.
    file.pop_back();
    e2e::write_file(dir.file("rec.ts"), file);
    EXPECT_EQ(e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path).exit_code, 0);
    auto shorter = packets;
    shorter.pop_back();
    EXPECT_EQ(e2e::read_file(dir.file("rec_NULL.ts")), non_null(shorter));
}

// 192-byte units with a 1 MiB damaged stretch in the middle. The unit right after the last good
// packet happens to begin with 0x47: it is taken as a packet, exactly as the reading rules say.
// Every intact packet after the damage is still there (the damage is far longer than a read).
TEST(DamageTest, LongDamagedStretchLosesOnlyTheDamagedBytes) {
    e2e::TempDir dir;
    auto packets = sample_packets(4000);
    const std::size_t cut = 1500;
    std::vector<synth::Packet> before(packets.begin(), packets.begin() + cut);
    std::vector<synth::Packet> after(packets.begin() + cut, packets.end());

    Bytes garbage(1 << 20);
    uint32_t x = 12345;
    for (auto& b : garbage) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
        if (b == 0x47) b = 0x46;
    }
    // Where the next packet would start (after the 4-byte prefix of the next unit): a fake packet.
    garbage[4] = 0x47;
    garbage[5] = 0x01;
    garbage[6] = 0x23;
    garbage.resize(garbage.size() + 77);  // not a whole number of units

    Bytes file = synth::to_units(before, synth::Unit::u192);
    file.insert(file.end(), garbage.begin(), garbage.end());
    Bytes tail = synth::to_units(after, synth::Unit::u192);
    file.insert(file.end(), tail.begin(), tail.end());
    e2e::write_file(dir.file("rec.ts"), file);

    e2e::RunResult r = e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 0);
    Bytes expected = non_null(before);
    expected.insert(expected.end(), garbage.begin() + 4, garbage.begin() + 4 + 188);
    const std::string scrambled = (garbage[7] >> 6) ? " H:1" : "";
    EXPECT_EQ(r.out, "NULL除去モードオン\nrec.ts\n\r  ( 1 MB/ 1 MB) 100%" + scrambled + "\n");
    Bytes rest = non_null(after);
    expected.insert(expected.end(), rest.begin(), rest.end());
    Bytes got = e2e::read_file(dir.file("rec_NULL.ts"));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

TEST(InputErrorsTest, EachBadInputGetsItsLineAndTheRunGoesOn) {
    e2e::TempDir dir;
    auto packets = sample_packets(300);
    e2e::write_file(dir.file("a.ts"), concat(packets));
    e2e::write_file(dir.file("b.ts"), concat(packets));
    e2e::write_file(dir.file("short.ts"), concat(std::vector<synth::Packet>(packets.begin(), packets.begin() + 8)));
    Bytes noise(20000, 0x00);
    for (std::size_t i = 0; i < noise.size(); i += 1000) noise[i] = 0x47;  // too sparse for a unit size
    e2e::write_file(dir.file("noise.ts"), noise);
    mkdir(dir.file("folder.ts").c_str(), 0755);
    e2e::RunResult r = e2e::run_quillodine(
        {"-NULL", "a.ts", "missing.ts", "short.ts", "folder.ts", "noise.ts", std::string(1100, 'x'), "b.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "NULL除去モードオン\n"
                     "a.ts\n" + kDone +
                     "error - failed on open(missing.ts) [src]\n"
                     "short.ts\n"
                     "error - failed on select_unit_size()\n"
                     "error - failed on open(folder.ts) [src]\n"
                     "noise.ts\n"
                     "error - failed on select_unit_size()\n"
                     "error - failed on open(" + std::string(1100, 'x') + ") [src]\n"
                     "b.ts\n" + kDone);
    EXPECT_TRUE(e2e::file_exists(dir.file("a_NULL.ts")));
    EXPECT_TRUE(e2e::file_exists(dir.file("b_NULL.ts")));
    EXPECT_FALSE(e2e::file_exists(dir.file("short_NULL.ts")));
    EXPECT_FALSE(e2e::file_exists(dir.file("noise_NULL.ts")));
}

TEST(InputErrorsTest, UnreadableInput) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    e2e::TempDir dir;
    e2e::write_file(dir.file("locked.ts"), concat(sample_packets(100)));
    chmod(dir.file("locked.ts").c_str(), 0);
    e2e::RunResult r = e2e::run_quillodine({"-NULL", "locked.ts"}, dir.path);
    EXPECT_EQ(r.out, "NULL除去モードオン\nerror - failed on open(locked.ts) [src]\n");
    EXPECT_EQ(r.exit_code, 2);
}

TEST(ListFileTest, ReadOnlyListWithQuotesAndMissingEntries) {
    e2e::TempDir dir;
    auto packets = sample_packets(300);
    e2e::write_file(dir.file("a.ts"), concat(packets));
    mkdir(dir.file("sub dir").c_str(), 0755);
    e2e::write_file(dir.file("sub dir/b.ts"), concat(packets));
    e2e::write_text(dir.file("list.lst"), "\"" + dir.file("sub dir/b.ts") + "\"\r\n\n" + dir.file("a.ts") + "\r\n");
    chmod(dir.file("list.lst").c_str(), 0444);
    e2e::RunResult r = e2e::run_quillodine({"-NULL", "-FLIST", "list.lst"}, dir.path);
    EXPECT_EQ(r.out, "NULL除去モードオン\nb.ts\n" + kDone + "error - failed on open() [src]\na.ts\n" + kDone);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(e2e::read_file(dir.file("sub dir/b_NULL.ts")), non_null(packets));
    EXPECT_EQ(e2e::read_file(dir.file("a_NULL.ts")), non_null(packets));
}

TEST(OutputPlacementTest, OutFolderAndNeverOverwritingTheInput) {
    e2e::TempDir dir;
    auto packets = sample_packets(300);
    const Bytes original = concat(packets);
    e2e::write_file(dir.file("rec.ts"), original);
    mkdir(dir.file("out").c_str(), 0755);
    e2e::RunResult r = e2e::run_quillodine({"-NULL", "-OUT", dir.file("out"), "rec.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(e2e::read_file(dir.file("out/rec_NULL.ts")), non_null(packets));
    EXPECT_FALSE(e2e::file_exists(dir.file("rec_NULL.ts")));

    // The output name leads to the recording itself (here through a link): it is refused and
    // the recording stays as it was.
    ASSERT_EQ(symlink("rec.ts", dir.file("rec_NULL.ts").c_str()), 0);
    r = e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "NULL除去モードオン\nrec.ts\n\nerror - failed on open [rec_NULL.ts]\n");
    EXPECT_EQ(e2e::read_file(dir.file("rec.ts")), original);

    // -GOPONLY names slot 0 after the input itself and never opens it.
    r = e2e::run_quillodine({"-GOPONLY", "rec.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(e2e::read_file(dir.file("rec.ts")), original);
}

// Stream files, GOP lists and logs are created as every Unix tool creates files: 0666 less the
// umask, so that a media server or a second user can read what the owner's umask allows.
TEST(OutputPlacementTest, NewFilesTakeTheUmask) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(synth::hd({.seconds = 1.0})));
    for (const auto& [mask, mode] : {std::pair{022, 0644}, std::pair{077, 0600}}) {
        const mode_t previous = ::umask(static_cast<mode_t>(mask));
        const e2e::RunResult r = e2e::run_quillodine({"-GOP", "-LOGFILE", "rec.ts"}, dir.path);
        ::umask(previous);
        EXPECT_EQ(r.exit_code, 0);
        for (const char* name : {"rec_HD.ts", "rec_1SEG.ts", "rec_HD.ts.txt", "rec.log", "rec_tsselect.log"}) {
            struct stat st {};
            ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(mode)) << name << " under umask 0" << std::oct << mask;
            ::unlink(dir.file(name).c_str());
        }
    }
}

TEST(OutputPlacementTest, FullDiskIsReportedAndTheNextInputRuns) {
    if (!e2e::file_exists("/dev/full")) GTEST_SKIP();
    e2e::TempDir dir;
    auto packets = sample_packets(300);
    e2e::write_file(dir.file("rec.ts"), concat(packets));
    e2e::write_file(dir.file("ok.ts"), concat(packets));
    ASSERT_EQ(symlink("/dev/full", dir.file("rec_NULL.ts").c_str()), 0);
    e2e::RunResult r = e2e::run_quillodine({"-NULL", "rec.ts", "ok.ts"}, dir.path);
    EXPECT_EQ(r.exit_code, 2);
    // The buffered packets reach the disk when the input is finished, after its closing line.
    EXPECT_EQ(r.out, "NULL除去モードオン\nrec.ts\n" + kDone + "\nerror - failed on write() [rec_NULL.ts]\nok.ts\n" + kDone);
    r = e2e::run_quillodine({"-NULL", "-BUFF", "0", "rec.ts"}, dir.path);
    EXPECT_EQ(r.out, "NULL除去モードオン\nrec.ts\n\nerror - failed on write() [rec_NULL.ts]\n");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(e2e::read_file(dir.file("ok_NULL.ts")), non_null(packets));
}

}  // namespace
