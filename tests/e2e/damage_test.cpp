// Damaged and hostile recordings, end to end. Every case runs the real binary (under ASan/UBSan in
// the sanitizer build) and checks four things: it exits normally (0 or 2, never a signal), it says
// nothing on standard error (no sanitizer report), it prints the expected line for the damaged
// input, and the rest of that input and of the input list are still processed.
//
//   case                                   damage                               expected
//   ------------------------------------   ----------------------------------   ------------------------------
//   0 to 10 packets                        too short for a unit size            unit-size line up to 8 packets
//   directory, /dev/null, /dev/zero,       not a recording                      open line or unit-size line
//   /dev/urandom, /proc/self/mem (EIO)
//   188/192/204 units one after another    unit size changes mid-file           first and last run kept
//   garbage 10 B .. 10 MiB                 at start, middle, end                only the garbage is lost
//   truncation                             inside the 4-byte header, the body   whole packets kept
//   bit flips                              every bit of the PAT and the PMT     each input ends, list goes on
//   lengths                                section/descriptor/ES_info/AF/PES    packets routed by PID
//   ADTS header split over two packets     audio start with the header cut      no mode taken, packets kept
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using synth::Packet;

const std::string kDone = "\r  ( 0 MB/ 0 MB) 100%\n";
const std::string kNoUnitSize = "error - failed on select_unit_size()\n";

using e2e::concat;

Bytes non_null(const std::vector<Packet>& packets) {
    Bytes b;
    for (const auto& p : packets)
        if (synth::pid_of(p) != synth::kPidNull) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// The normal ending of a run: a signal or a sanitizer report fails here.
void expect_clean_exit(const e2e::RunResult& r) {
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 2) << "exit " << r.exit_code << "\n" << r.err;
    EXPECT_EQ(r.err, "");
}

// One terrestrial HD service with exactly one PAT and one PMT at the start, then video, audio
// and PCR: every table decision rests on those two packets.
const synth::Service kHd{.service_id = 0x0400,
                         .pmt_pid = 0x01F0,
                         .pcr_pid = 0x01FF,
                         .streams = {{synth::kStreamMpeg2Video, 0x0111}, {synth::kStreamAdtsAac, 0x0112}}};

std::vector<Packet> one_table_recording(int frames = 6) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0, synth::kPidNit}, {0x0400, 0x01F0}});
    mux.pmt(kHd);
    for (int f = 0; f < frames; ++f) {
        mux.pcr(0x01FF, 90000u + 3000u * static_cast<unsigned>(f));
        mux.pes_video(0x0111, {.type = f % 3 ? synth::Picture::P : synth::Picture::I,
                               .pts = 93000u + 3003u * static_cast<unsigned>(f), .size = 600});
        mux.pes_audio(0x0112, {.pts = 93000u + 1920u * static_cast<unsigned>(f), .size = 200});
        mux.null(1);
    }
    return mux.packets;
}

// A small plain multiplex for the unit and garbage cases (PAT, payload on three PIDs, nulls).
std::vector<Packet> sample_packets(int count) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});
    for (int i = 0; mux.packets.size() < static_cast<std::size_t>(count); ++i) {
        mux.filler(static_cast<std::uint16_t>(0x0111 + i % 3), static_cast<std::uint8_t>(i));
        if (i % 4 == 0) mux.null(1);
    }
    mux.packets.resize(static_cast<std::size_t>(count));
    return mux.packets;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

bool starts_with(const Bytes& b, const Bytes& prefix) {
    return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}
bool ends_with(const Bytes& b, const Bytes& suffix) {
    return b.size() >= suffix.size() && std::equal(suffix.rbegin(), suffix.rend(), b.rbegin());
}

// ---------------------------------------------------------------------------
// Inputs that are not recordings

TEST(DamagedInputTest, TooFewPacketsForAUnitSize) {
    e2e::TempDir dir;
    const auto packets = sample_packets(10);
    std::vector<std::string> args = {"-NULL"};
    std::string expected = "NULL除去モードオン\n";
    for (int n = 0; n <= 10; ++n) {
        const std::string name = "p" + std::to_string(n) + ".ts";
        e2e::write_file(dir.file(name), concat({packets.begin(), packets.begin() + n}));
        args.push_back(name);
        expected += name + "\n" + (n < 9 ? kNoUnitSize : kDone);
    }
    e2e::RunResult r = e2e::run_quillodine(args, dir.path);
    expect_clean_exit(r);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, expected);
    EXPECT_FALSE(e2e::file_exists(dir.file("p8_NULL.ts")));
    EXPECT_EQ(e2e::read_file(dir.file("p9_NULL.ts")), non_null({packets.begin(), packets.begin() + 9}));
}

TEST(DamagedInputTest, DirectoriesDevicesAndUnreadableFiles) {
    e2e::TempDir dir;
    const auto packets = sample_packets(300);
    e2e::write_file(dir.file("ok.ts"), concat(packets));
    mkdir(dir.file("folder.ts").c_str(), 0755);
    // /proc/self/mem opens but every read at offset 0 fails (EIO): the read error is the end.
    e2e::RunResult r = e2e::run_quillodine(
        {"-NULL", "folder.ts", "/dev/null", "/dev/zero", "/dev/urandom", "/proc/self/mem", "ok.ts"}, dir.path);
    expect_clean_exit(r);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "NULL除去モードオン\n"
                     "error - failed on open(folder.ts) [src]\n"
                     "null\n" + kNoUnitSize +
                     "zero\n" + kNoUnitSize +
                     "urandom\n" + kNoUnitSize +
                     "mem\n" + kNoUnitSize +
                     "ok.ts\n" + kDone);
    EXPECT_EQ(e2e::read_file(dir.file("ok_NULL.ts")), non_null(packets));
}

// ---------------------------------------------------------------------------
// Unit sizes, garbage, truncation

// The unit size is settled at the start of a pass: runs of other unit sizes are damage to it, and
// reading picks up again where units of the first size come back.
TEST(DamagedInputTest, MixedUnitSizesKeepTheFirstAndTheLastRun) {
    using synth::Unit;
    const auto packets = sample_packets(400);
    const std::vector<Packet> a(packets.begin(), packets.begin() + 100), b(packets.begin() + 100, packets.begin() + 200),
        c(packets.begin() + 200, packets.begin() + 300), d(packets.begin() + 300, packets.end());
    for (Unit first : {Unit::u188, Unit::u192, Unit::u204}) {
        SCOPED_TRACE(static_cast<int>(first));
        const Unit second = first == Unit::u188 ? Unit::u192 : Unit::u188;
        const Unit third = first == Unit::u204 ? Unit::u192 : Unit::u204;
        Bytes file = synth::to_units(a, first);
        for (const auto& [part, unit] : {std::pair{&b, second}, {&c, third}, {&d, first}}) {
            Bytes more = synth::to_units(*part, unit);
            file.insert(file.end(), more.begin(), more.end());
        }
        e2e::TempDir dir;
        e2e::write_file(dir.file("mixed.ts"), file);
        e2e::write_file(dir.file("ok.ts"), concat(a));
        e2e::RunResult r = e2e::run_quillodine({"-NULL", "mixed.ts", "ok.ts"}, dir.path);
        expect_clean_exit(r);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, "NULL除去モードオン\nmixed.ts\n" + kDone + "ok.ts\n" + kDone);
        const Bytes got = e2e::read_file(dir.file("mixed_NULL.ts"));
        EXPECT_EQ(got.size() % 188, 0u);
        EXPECT_TRUE(starts_with(got, non_null(a)));
        EXPECT_TRUE(ends_with(got, non_null(d)));
        // At most a few stray 0x47 positions inside the foreign runs may pass for packets.
        EXPECT_LE(got.size(), non_null(a).size() + non_null(d).size() + 4 * 188);
    }
}

// Garbage without sync bytes: only the garbage is lost wherever it lies, except at the very
// start, where a stretch that fills the first read leaves no unit size to find.
TEST(DamagedInputTest, GarbageAtTheStartInTheMiddleAndAtTheEnd) {
    const auto packets = sample_packets(600);
    const Bytes clean = concat(packets);
    const std::size_t sizes[] = {10, 1000, 100 * 1024, 10 * 1024 * 1024};
    e2e::TempDir dir;
    std::vector<std::string> args = {"-NULL"};
    std::string expected = "NULL除去モードオン\n";
    std::vector<std::string> good;
    for (std::size_t len : sizes) {
        for (const char* where : {"start", "middle", "end"}) {
            Bytes file = clean;
            const std::size_t at = where[0] == 's' ? 0 : where[0] == 'm' ? 300 * 188 + 17 : clean.size();
            synth::insert_garbage(file, at, len, len + at, synth::Sync::Avoid);
            const std::string name = std::string(where) + std::to_string(len) + ".ts";
            e2e::write_file(dir.file(name), file);
            args.push_back(name);
            const bool lost = where[0] == 's' && len >= 1000;
            const std::string mb = "( " + std::to_string(file.size() / 1048576) + " MB/ " +
                                   std::to_string(file.size() / 1048576) + " MB) 100%\n";
            expected += name + "\n" + (lost ? kNoUnitSize : "\r  " + mb);
            if (!lost) good.push_back(name.substr(0, name.size() - 3));
        }
    }
    e2e::RunResult r = e2e::run_quillodine(args, dir.path);
    expect_clean_exit(r);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, expected);
    // A stretch in the middle splits a packet: the packets before and after it are all kept.
    for (const auto& base : good) {
        SCOPED_TRACE(base);
        const Bytes got = e2e::read_file(dir.file(base + "_NULL.ts"));
        if (base.rfind("middle", 0) == 0) {
            EXPECT_TRUE(starts_with(got, non_null({packets.begin(), packets.begin() + 300})));
            EXPECT_TRUE(ends_with(got, non_null({packets.begin() + 301, packets.end()})));
            EXPECT_LE(got.size(), non_null(packets).size());
        } else {
            EXPECT_TRUE(got == non_null(packets));
        }
    }
}

// Random garbage with stray sync bytes between good packets, in 192-byte units: whatever the
// stray bytes fake, every packet on both sides is kept in order.
TEST(DamagedInputTest, GarbageWithStraySyncBytes) {
    const auto packets = sample_packets(900);
    for (std::size_t len : {5000u, 70000u, 1100000u}) {
        SCOPED_TRACE(len);
        Bytes before = synth::to_units({packets.begin(), packets.begin() + 450}, synth::Unit::u192);
        const Bytes after = synth::to_units({packets.begin() + 450, packets.end()}, synth::Unit::u192);
        const Bytes junk = synth::garbage(len, len, synth::Sync::Stray);
        before.insert(before.end(), junk.begin(), junk.end());
        before.insert(before.end(), after.begin(), after.end());
        e2e::TempDir dir;
        e2e::write_file(dir.file("rec.ts"), before);
        e2e::RunResult r = e2e::run_quillodine({"-NULL", "rec.ts"}, dir.path);
        expect_clean_exit(r);
        EXPECT_EQ(r.exit_code, 0);
        const Bytes got = e2e::read_file(dir.file("rec_NULL.ts"));
        EXPECT_TRUE(starts_with(got, non_null({packets.begin(), packets.begin() + 450})));
        EXPECT_TRUE(ends_with(got, non_null({packets.begin() + 450, packets.end()})));
    }
}

TEST(DamagedInputTest, TruncationInsideTheHeaderAndInsideThePacket) {
    const auto packets = sample_packets(200);
    e2e::TempDir dir;
    std::vector<std::string> args = {"-NULL"};
    struct Cut {
        synth::Unit unit;
        std::size_t extra;  // bytes of the last unit left
        bool kept;          // the last packet is still whole
    } cuts[] = {{synth::Unit::u188, 1, false},   {synth::Unit::u188, 3, false},  {synth::Unit::u188, 4, false},
                {synth::Unit::u188, 187, false}, {synth::Unit::u192, 2, false},  {synth::Unit::u192, 191, false},
                {synth::Unit::u204, 100, false}, {synth::Unit::u204, 188, true}, {synth::Unit::u204, 203, true}};
    int i = 0;
    for (const Cut& c : cuts) {
        Bytes file = synth::to_units(packets, c.unit);
        const std::size_t unit = static_cast<std::size_t>(c.unit);
        file.resize(199 * unit + c.extra);
        const std::string name = "cut" + std::to_string(i++) + ".ts";
        e2e::write_file(dir.file(name), file);
        args.push_back(name);
    }
    e2e::RunResult r = e2e::run_quillodine(args, dir.path);
    expect_clean_exit(r);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(count_of(r.out, kDone), std::size(cuts));
    i = 0;
    for (const Cut& c : cuts) {
        SCOPED_TRACE(i);
        const std::vector<Packet> kept(packets.begin(), packets.begin() + (c.kept ? 200 : 199));
        EXPECT_TRUE(e2e::read_file(dir.file("cut" + std::to_string(i++) + "_NULL.ts")) == non_null(kept));
    }
}

// ---------------------------------------------------------------------------
// Tables and headers

// Every single-bit flip of the only PAT and the only PMT, each flipped recording one input of a
// single run: every input is read to its end and the list goes on to the untouched control at
// its end, whose output is exact.
TEST(DamagedInputTest, EveryBitFlipOfThePatAndThePmt) {
    const auto packets = one_table_recording();
    ASSERT_EQ(synth::pid_of(packets[0]), 0);
    ASSERT_EQ(synth::pid_of(packets[1]), 0x01F0);
    const Bytes clean = concat(packets);
    for (std::size_t packet : {0u, 1u}) {
        SCOPED_TRACE(packet);
        e2e::TempDir dir;
        std::vector<std::string> args = {"-EIT", "-ECM", "-EMM", "-PTS", "-GOPCH", "-LOG"};
        for (std::size_t bit = 0; bit < 188 * 8; ++bit) {
            Bytes file = clean;
            synth::flip_bit(file, packet * 188 + bit / 8, static_cast<unsigned>(bit % 8));
            const std::string name = "f" + std::to_string(bit) + ".ts";
            e2e::write_file(dir.file(name), file);
            args.push_back(name);
        }
        e2e::write_file(dir.file("control.ts"), clean);
        args.push_back("control.ts");
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        expect_clean_exit(r);
        for (std::size_t bit = 0; bit < 188 * 8; ++bit) {
            const std::string name = "f" + std::to_string(bit) + ".ts\n";
            const auto at = r.out.find(name);
            ASSERT_NE(at, std::string::npos) << name;
            const auto next = r.out.find(".ts\n", at + name.size());
            const std::string report = r.out.substr(at, next == std::string::npos ? std::string::npos : next - at);
            // (a flip of the scrambling bits adds the scrambled count "H:1" to the line)
            EXPECT_NE(report.find("\r  ( 0 MB/ 0 MB) 100%"), std::string::npos) << report;
        }
        // Flips of the sync byte leave the other packets enough for a unit size: every input ends
        // with its closing line, and none fails.
        EXPECT_EQ(r.exit_code, 0) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
        EXPECT_TRUE(e2e::file_exists(dir.file("control_HD.ts")));
        const Bytes control = e2e::read_file(dir.file("control_HD.ts"));
        EXPECT_EQ(control.size() % 188, 0u);
        EXPECT_GE(control.size(), 188u * (packets.size() - 6));  // every packet but the nulls
    }
}

// Packet of a PID with payload only, the section or bytes written from byte 4 on.
Packet raw_packet(std::uint16_t pid, const Bytes& from_byte4, bool unit_start = true, std::uint8_t cc = 0) {
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((unit_start ? 0x40 : 0) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid);
    p[3] = static_cast<std::uint8_t>(0x10 | (cc & 0x0F));
    std::copy_n(from_byte4.begin(), std::min<std::size_t>(from_byte4.size(), 184), p.begin() + 4);
    return p;
}

// Lengths that claim more than the packet holds, and adaptation fields of 183 to 255 bytes, on
// every PID the program reads: the tables that follow still decide the service, and every packet
// of the service's PIDs reaches the HD file.
TEST(DamagedInputTest, LengthsLargerThanThePacket) {
    std::vector<Packet> in;
    // PAT, PMT, CAT and EIT whose section_length is 0xFFF; a PMT whose program_info_length and
    // ES_info_length run past the end; a CAT whose descriptor does.
    Bytes pat = {0x00, 0x00, 0xBF, 0xFF, 0x7F, 0xE8, 0xC1, 0x00, 0x00};
    for (int i = 0; i < 60; ++i) pat.insert(pat.end(), {0x04, 0x00, 0xE1, 0xF0});
    in.push_back(raw_packet(0x0000, pat));
    Bytes pmt = {0x00, 0x02, 0xBF, 0xFF, 0x04, 0x00, 0xC1, 0x00, 0x00, 0xE1, 0xFF, 0xFF, 0xFF};
    in.push_back(raw_packet(0x01F0, pmt));
    Bytes pmt_es = {0x00, 0x02, 0xB0, 0xB3, 0x04, 0x00, 0xC3, 0x00, 0x00, 0xE1, 0xFF, 0xF0, 0x00,
                    0x02, 0xE1, 0x11, 0xFF, 0xFF};
    in.push_back(raw_packet(0x01F0, pmt_es));
    Bytes pmt_desc = {0x00, 0x02, 0xB0, 0x30, 0x04, 0x00, 0xC5, 0x00, 0x00, 0xE1, 0xFF, 0xF0, 0x06,
                      0x09, 0xFE, 0x00, 0x05, 0xE9, 0x01, 0x02, 0xE1, 0x11, 0xF0, 0x05, 0xC0, 0xFF, 0x00};
    in.push_back(raw_packet(0x01F0, pmt_desc));
    in.push_back(raw_packet(0x0001, {0x00, 0x01, 0xBF, 0xFF, 0xFF, 0xFF, 0xC1, 0x00, 0x00, 0x09, 0xFF, 0x00, 0x05}));
    in.push_back(raw_packet(0x0012, {0x00, 0x4E, 0xFF, 0xFF, 0x04, 0x00, 0xC1, 0x00, 0x00}));
    in.push_back(raw_packet(0x0014, {0x00, 0x73, 0xFF, 0xFF, 0xE4, 0x5A, 0x99, 0x99, 0x99, 0xFF, 0xFF}));

    // Then the good tables and the service, with hostile packets on its PIDs in between.
    synth::Mux mux;
    mux.pat(0x7FE8, {{0, synth::kPidNit}, {0x0400, 0x01F0}});
    mux.pmt(kHd);
    for (int f = 0; f < 4; ++f) {
        mux.pcr(0x01FF, 90000u + 3000u * static_cast<unsigned>(f));
        mux.pes_video(0x0111, {.type = synth::Picture::I, .pts = 93000u + 3003u * static_cast<unsigned>(f), .size = 400});
        mux.pes_audio(0x0112, {.pts = 93000u + 1920u * static_cast<unsigned>(f), .size = 200});
    }
    std::vector<Packet> service = mux.packets;
    for (std::uint16_t pid : {0x0111, 0x0112, 0x01FF, 0x0000, 0x01F0, 0x0014}) {
        for (int len = 183; len <= 255; ++len) {
            // Adaptation field (control 3) of `len` bytes with every flag set.
            Packet p = raw_packet(pid, {static_cast<std::uint8_t>(len), 0xFF, 0x00, 0x00, 0x01, 0xE0});
            p[3] = static_cast<std::uint8_t>(0x30 | (len & 0x0F));
            service.push_back(p);
        }
        // PES starts whose headers run past the end: the start code at bytes 180 to 187.
        for (int at = 170; at <= 185; ++at) {
            Packet p = raw_packet(pid, {});
            p[3] = 0x30;
            p[4] = static_cast<std::uint8_t>(at - 5);
            p[5] = 0x00;
            const std::uint8_t pes[] = {0x00, 0x00, 0x01, pid == 0x0112 ? std::uint8_t{0xC0} : std::uint8_t{0xE0},
                                        0xFF, 0xFF, 0x84, 0xC0, 0xFF};
            for (int k = 0; k < 9 && at + k < 188; ++k) p[static_cast<std::size_t>(at + k)] = pes[k];
            service.push_back(p);
        }
        // A PES header whose PES_header_data_length reaches past the packet.
        service.push_back(raw_packet(pid, {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x84, 0xC0, 0xFF, 0x21, 0x00}));
    }
    in.insert(in.end(), service.begin(), service.end());
    for (int i = 0; i < 20; ++i) in.push_back(raw_packet(synth::kPidNull, {}));

    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(in));
    e2e::write_file(dir.file("ok.ts"), concat(one_table_recording()));
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-EIT", "-ECM", "-EMM"}, {"-PTS", "-GOPCH", "-LOG", "-SEP2", "-SEPA2"},
          {"-GOPONLYTIME"}, {"-CS"}}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"rec.ts", "ok.ts"});
        SCOPED_TRACE(args[0]);
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        expect_clean_exit(r);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(count_of(r.out, kDone), 2u) << r.out;
    }
    // Routing by PID keeps every packet of the service's PIDs, damaged or not (no -PTS here).
    e2e::RunResult r = e2e::run_quillodine({"rec.ts"}, dir.path);
    expect_clean_exit(r);
    const auto got = e2e::split_packets(e2e::read_file(dir.file("rec_HD.ts")));
    for (std::uint16_t pid : {0x0111, 0x0112, 0x01FF}) {
        SCOPED_TRACE(pid);
        std::vector<Packet> want;
        for (const auto& p : service)
            if (synth::pid_of(p) == pid) want.push_back(p);
        std::vector<Packet> have;
        for (const auto& b : got)
            if (b.size() == 188 && ((b[1] & 0x1F) << 8 | b[2]) == pid) {
                Packet p;
                std::copy(b.begin(), b.end(), p.begin());
                have.push_back(p);
            }
        EXPECT_TRUE(have == want);
    }
}

// An ADTS header that begins in the last bytes of an audio PES start and ends in the next packet:
// no mode is taken from the cut header, nothing is read past the packet, the packets are kept.
TEST(DamagedInputTest, AdtsHeaderSplitAcrossPackets) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0, synth::kPidNit}, {0x0400, 0x01F0}});
    mux.pmt(kHd);
    const Bytes adts = synth::adts_frame({.pts = 93000, .channel_configuration = 0, .size = 200});
    for (int offset = 1; offset <= 8; ++offset) {
        mux.pcr(0x01FF, 90000u + 3000u * static_cast<unsigned>(offset));
        mux.pes_video(0x0111, {.type = synth::Picture::I, .pts = 93000u + 3003u * static_cast<unsigned>(offset), .size = 300});
        // The PES header (14 bytes) is pushed to the end of the packet by the adaptation field so
        // that only `offset` bytes of the ADTS header fit.
        Bytes pes = synth::pes_packet(0xC0, adts, 93000u + 1920u * static_cast<unsigned>(offset), std::nullopt);
        Packet first = raw_packet(0x0112, {}, true, static_cast<std::uint8_t>(offset));
        const std::size_t header = 14 + static_cast<std::size_t>(offset);
        first[3] = static_cast<std::uint8_t>(0x30 | (offset & 0x0F));
        first[4] = static_cast<std::uint8_t>(188 - 5 - header);
        first[5] = 0x00;
        std::copy_n(pes.begin(), header, first.end() - static_cast<long>(header));
        mux.packets.push_back(first);
        Packet rest = raw_packet(0x0112, Bytes(pes.begin() + static_cast<long>(header), pes.end()), false,
                                 static_cast<std::uint8_t>(offset + 1));
        mux.packets.push_back(rest);
    }
    mux.null(30);
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(mux.packets));
    e2e::RunResult r = e2e::run_quillodine({"-GOPCH", "-SEPA2", "-PTS", "rec.ts"}, dir.path);
    expect_clean_exit(r);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(count_of(r.out, kDone), 1u);
    r = e2e::run_quillodine({"rec.ts"}, dir.path);
    std::size_t audio = 0;
    for (const auto& b : e2e::split_packets(e2e::read_file(dir.file("rec_HD.ts"))))
        if (((b[1] & 0x1F) << 8 | b[2]) == 0x0112) ++audio;
    EXPECT_EQ(audio, 16u);
}

}  // namespace
