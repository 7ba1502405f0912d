// One clean file per service, end to end: the real binary splits synthesized recordings and
// every output is compared byte for byte with what this test derives from the synthesizer's
// packet list — the input packets of the service's PIDs in input order, each received PAT
// replaced by a PAT naming only that service, built here with the synthesizer's own CRC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using synth::Packet;
using PidSet = std::set<int>;

using e2e::concat;

// ISO/IEC 13818-1 PAT with the network entry and one programme, behind the received header.
Packet own_pat(const Packet& received, int service_id, int pmt_pid) {
    Packet p;
    p.fill(0xFF);
    for (int i = 0; i < 13; ++i) p[static_cast<std::size_t>(i)] = received[static_cast<std::size_t>(i)];
    p[6] = 0xB0;
    p[7] = 17;
    const std::uint8_t entries[8] = {0x00, 0x00, 0xE0, 0x10, static_cast<std::uint8_t>(service_id >> 8),
                                     static_cast<std::uint8_t>(service_id), static_cast<std::uint8_t>(0xE0 | (pmt_pid >> 8)),
                                     static_cast<std::uint8_t>(pmt_pid)};
    for (int i = 0; i < 8; ++i) p[static_cast<std::size_t>(13 + i)] = entries[i];
    const std::uint32_t crc = synth::crc32_mpeg2(p.data() + 5, 16);
    for (int i = 0; i < 4; ++i) p[static_cast<std::size_t>(21 + i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return p;
}

struct Expect {
    int service_id;
    int pmt_pid;
    PidSet pids;  // besides the PAT
    std::size_t from = 0;
    std::size_t to = SIZE_MAX;  // input packet indexes [from, to)
};

Bytes expected(const std::vector<Packet>& input, const Expect& e) {
    Bytes b;
    for (std::size_t i = e.from; i < input.size() && i < e.to; ++i) {
        const Packet& p = input[i];
        const int pid = synth::pid_of(p);
        if (pid == 0) {
            const Packet pat = own_pat(p, e.service_id, e.pmt_pid);
            b.insert(b.end(), pat.begin(), pat.end());
        } else if (e.pids.count(pid)) {
            b.insert(b.end(), p.begin(), p.end());
        }
    }
    return b;
}

PidSet pids_of(const Bytes& file) {
    PidSet s;
    for (const auto& p : e2e::split_packets(file)) s.insert(((p[1] & 0x1F) << 8) | p[2]);
    return s;
}

const PidSet kHd{0x01F0, 0x0111, 0x0112, 0x01FF};
const PidSet kOneSeg{0x1FC8, 0x0181, 0x0183, 0x01FF};  // the PCR PID is shared with the HD service

struct RoutingE2E : ::testing::Test {
    e2e::TempDir dir;
    e2e::RunResult result;

    void write_input(const std::string& name, const std::vector<Packet>& packets) {
        e2e::write_file(dir.file(name), concat(packets));
    }
    void run(std::vector<std::string> args) {
        result = e2e::run_quillodine(args, dir.path);
        ASSERT_EQ(result.exit_code, 0) << result.out;
        EXPECT_EQ(result.out.find("error - "), std::string::npos) << result.out;
    }
    Bytes out(const std::string& name) { return e2e::read_file(dir.file(name)); }
    std::vector<std::string> files() { return e2e::list_dir(dir.path); }
};

const synth::Config kTwoSeconds{.seconds = 2.0};

TEST_F(RoutingE2E, HdRecordingGivesTheHdServiceAndTheOneSegmentService) {
    const auto input = synth::hd(kTwoSeconds);
    write_input("rec.ts", input);
    run({"rec.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"rec.ts", "rec_1SEG.ts", "rec_HD.ts"}));
    const Bytes hd = out("rec_HD.ts");
    EXPECT_EQ(pids_of(hd), (PidSet{0x0000, 0x01F0, 0x0111, 0x0112, 0x01FF}));
    EXPECT_TRUE(hd == expected(input, {0x0400, 0x01F0, kHd})) << "HD file differs";
    EXPECT_TRUE(out("rec_1SEG.ts") == expected(input, {0x0598, 0x1FC8, kOneSeg})) << "1SEG file differs";

    // The first generated PAT, byte for byte as broadcast receivers read it.
    ASSERT_GE(hd.size(), 188u);
    EXPECT_EQ(hd[7], 17);
    EXPECT_EQ(hd[17], 0x04);
    EXPECT_EQ(hd[18], 0x00);
    EXPECT_EQ(hd[19], 0xE1);
    EXPECT_EQ(hd[20], 0xF0);
    Packet first;
    std::copy_n(hd.begin(), 188, first.begin());
    EXPECT_TRUE(synth::read_section(first)->crc_ok);

    // -WAIT2 reads 8 KiB at a time and opens read-rate counters at each pass: the same bytes.
    e2e::TempDir waited;
    run({"-WAIT2,1", "-OUT", waited.path + "/", "rec.ts"});
    EXPECT_EQ(e2e::list_dir(waited.path), (std::vector<std::string>{"rec_1SEG.ts", "rec_HD.ts"}));
    EXPECT_TRUE(e2e::read_file(waited.file("rec_HD.ts")) == hd);
    EXPECT_TRUE(e2e::read_file(waited.file("rec_1SEG.ts")) == out("rec_1SEG.ts"));
}

// Each option leaves out its output and no other. A service left out does not take a stream it
// shares: without SD1, SD2 gets audio 0x0112 and still the PCR 0x01FF.
TEST_F(RoutingE2E, OptionsSelectTheClasses) {
    const auto hd = synth::hd(kTwoSeconds);
    const auto sd = synth::sd3(kTwoSeconds);
    write_input("rec.ts", hd);
    write_input("sd.ts", sd);
    const std::vector<std::string> all_sd{"sd_1SEG.ts", "sd_SD1.ts", "sd_SD2.ts", "sd_SD3.ts"};
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files;
        std::vector<std::pair<std::string, Expect>> compared = {};
    } cases[] = {
        {{"-1SEG", "rec.ts"}, {"rec_HD.ts"}, {{"rec_HD.ts", {0x0400, 0x01F0, kHd}}}},
        {{"-HD", "rec.ts"}, {"rec_1SEG.ts"}},
        {{"-SD", "rec.ts"}, {"rec_1SEG.ts", "rec_HD.ts"}},
        {{"-HD", "sd.ts"}, all_sd},
        {{"-SD", "sd.ts"}, {"sd_1SEG.ts"}},
        {{"-SD1", "sd.ts"},
         {"sd_1SEG.ts", "sd_SD2.ts", "sd_SD3.ts"},
         {{"sd_SD2.ts", {0x0401, 0x01F1, {0x01F1, 0x0121, 0x0112, 0x01FF}}},
          {"sd_SD3.ts", {0x0402, 0x01F2, {0x01F2, 0x0131, 0x0132, 0x02FF}}}}},
        {{"-SD2", "sd.ts"},
         {"sd_1SEG.ts", "sd_SD1.ts", "sd_SD3.ts"},
         {{"sd_SD1.ts", {0x0400, 0x01F0, {0x01F0, 0x0111, 0x0112, 0x01FF}}}}},
        {{"-SD3", "sd.ts"}, {"sd_1SEG.ts", "sd_SD1.ts", "sd_SD2.ts"}},
        {{"-SD4", "-SD5", "-SD6", "-SD7", "sd.ts"}, all_sd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        e2e::TempDir folder;
        auto args = c.args;
        args.insert(args.begin(), {"-OUT", folder.path + "/"});
        run(args);
        EXPECT_EQ(e2e::list_dir(folder.path), c.files);
        for (const auto& [name, want] : c.compared)
            EXPECT_TRUE(e2e::read_file(folder.file(name)) == expected(name[0] == 's' ? sd : hd, want)) << name;
    }
}

TEST_F(RoutingE2E, ThreeSdServicesInPatOrderWithSharedAudioAndPcr) {
    const auto input = synth::sd3(kTwoSeconds);
    write_input("rec.ts", input);
    run({"rec.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"rec.ts", "rec_1SEG.ts", "rec_SD1.ts", "rec_SD2.ts", "rec_SD3.ts"}));
    // Audio 0x0112 is listed by SD1 and SD2 and goes to SD1 only; PCR 0x01FF reaches both.
    EXPECT_TRUE(out("rec_SD1.ts") == expected(input, {0x0400, 0x01F0, {0x01F0, 0x0111, 0x0112, 0x01FF}}));
    EXPECT_TRUE(out("rec_SD2.ts") == expected(input, {0x0401, 0x01F1, {0x01F1, 0x0121, 0x01FF}}));
    EXPECT_TRUE(out("rec_SD3.ts") == expected(input, {0x0402, 0x01F2, {0x01F2, 0x0131, 0x0132, 0x02FF}}));
    EXPECT_TRUE(out("rec_1SEG.ts") == expected(input, {0x0598, 0x1FC8, kOneSeg}));
}

TEST_F(RoutingE2E, SwitchFromHdToSdMidFile) {
    const synth::Config config{.seconds = 3.0};
    const std::uint64_t switch_at = synth::packet_count(synth::hd_multiplex(), config) / 2;
    const auto input = synth::hd_to_sd(switch_at, config);
    write_input("rec.ts", input);
    run({"rec.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"rec.ts", "rec_1SEG.ts", "rec_HD.ts", "rec_SD1.ts", "rec_SD2.ts", "rec_SD3.ts"}));
    // The services are decided anew at the first PMT by which every PMT has been seen again since
    // the latest PAT; that PMT packet already goes to its SD file. Until then the HD file goes on.
    std::size_t decided = input.size();
    std::set<int> seen;
    for (std::size_t i = switch_at; i < input.size() && decided == input.size(); ++i) {
        const int pid = synth::pid_of(input[i]);
        if (pid == 0) seen.clear();
        if (pid == 0x01F0 || pid == 0x01F1 || pid == 0x01F2) seen.insert(pid);
        if (seen.size() == 3) decided = i;
    }
    ASSERT_LT(decided, input.size());
    EXPECT_TRUE(out("rec_HD.ts") == expected(input, {0x0400, 0x01F0, kHd, 0, decided})) << "HD file differs";
    EXPECT_TRUE(out("rec_SD1.ts") == expected(input, {0x0400, 0x01F0, {0x01F0, 0x0111, 0x0112, 0x01FF}, decided}));
    EXPECT_TRUE(out("rec_SD2.ts") == expected(input, {0x0401, 0x01F1, {0x01F1, 0x0121, 0x01FF}, decided}));
    EXPECT_TRUE(out("rec_SD3.ts") == expected(input, {0x0402, 0x01F2, {0x01F2, 0x0131, 0x0132, 0x02FF}, decided}));
    EXPECT_TRUE(out("rec_1SEG.ts") == expected(input, {0x0598, 0x1FC8, kOneSeg}));
}

TEST_F(RoutingE2E, BsIsOneHdServiceWithoutCsMode) {
    const auto input = synth::bs(kTwoSeconds);
    write_input("bs.ts", input);
    run({"bs.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"bs.ts", "bs_HD.ts"}));
    EXPECT_TRUE(out("bs_HD.ts") == expected(input, {101, 0x01F0, {0x01F0, 0x0100, 0x0110, 0x01FF}}));
}

TEST_F(RoutingE2E, CsRecordingRestartsInCsModeAndTheNextInputDoesNot) {
    const auto cs = synth::cs(kTwoSeconds);
    const auto hd = synth::hd(kTwoSeconds);
    write_input("cs.ts", cs);
    write_input("hd.ts", hd);
    run({"cs.ts", "hd.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"cs.ts", "cs_CS1(211).ts", "cs_CS2(212).ts", "cs_CS3(213).ts", "hd.ts",
                                                 "hd_1SEG.ts", "hd_HD.ts"}));
    for (int i = 0; i < 3; ++i) {
        const std::string name = "cs_CS" + std::to_string(i + 1) + "(" + std::to_string(211 + i) + ").ts";
        EXPECT_TRUE(out(name) == expected(cs, {211 + i, 0x01F0 + i, {0x01F0 + i, 0x0111 + 0x10 * i, 0x0112 + 0x10 * i}}))
            << name;
    }
    EXPECT_TRUE(out("hd_HD.ts") == expected(hd, {0x0400, 0x01F0, kHd}));
}

// CS services that share their streams keep one slot, fed by the service with the smaller PMT PID
// for the whole input, even where the other service's PMT comes first after every PAT.
TEST_F(RoutingE2E, SharedCsSlotKeepsTheSmallerPmtPidService) {
    synth::Service a{.service_id = 211, .pmt_pid = 0x01F0, .pcr_pid = 0x0111, .streams = {{0x02, 0x0111}, {0x0F, 0x0112}}};
    synth::Service b = a;
    b.service_id = 212;
    b.pmt_pid = 0x01F1;
    synth::Mux mux;
    for (int cycle = 0; cycle < 30; ++cycle) {
        mux.pat(0x7040, {{0, 0x0010}, {211, 0x01F0}, {212, 0x01F1}});
        mux.pmt(b);
        mux.pmt(a);
        for (int i = 0; i < 20; ++i) mux.filler(i % 2 ? 0x0112 : 0x0111, static_cast<std::uint8_t>(i));
    }
    write_input("cs.ts", mux.packets);
    run({"cs.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"cs.ts", "cs_CS1(211).ts"}));
    EXPECT_TRUE(out("cs_CS1(211).ts") == expected(mux.packets, {211, 0x01F0, {0x01F0, 0x0111, 0x0112}}));
}

// An HD recording that turns into a CS multiplex half way, with its one-segment entry: the CS
// look-ahead counts the one-segment PMT as seen and ends in the HD half, so the CS file holds its
// service from the first packet of the input; nothing of the abandoned HD pass stays behind, GOP
// lists included.
TEST_F(RoutingE2E, HdTurningCsHoldsTheServiceFromTheStartAndLeavesNoHdFiles) {
    const synth::Config config{.seconds = 3.0};
    const std::uint64_t switch_at = synth::packet_count(synth::hd_multiplex(), config) / 2;
    const auto input = synth::generate(synth::hd_multiplex(), config,
                                       {{switch_at, [](synth::Multiplex& m) { m.network.transport_stream_id = 0x7040; }}});
    write_input("rec.ts", input);
    run({"-GOP", "rec.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"rec.ts", "rec_1SEG.ts", "rec_CS1(1024).ts", "rec_CS1(1024).ts.txt"}));
    EXPECT_TRUE(out("rec_CS1(1024).ts") == expected(input, {0x0400, 0x01F0, kHd})) << "CS file differs";
    // The same recording processed with -CS from the start.
    e2e::write_file(dir.file("hd.ts"), concat(synth::hd(kTwoSeconds)));
    run({"-CS", "hd.ts"});
    EXPECT_TRUE(out("hd_CS1(1024).ts") == expected(synth::hd(kTwoSeconds), {0x0400, 0x01F0, kHd})) << "-CS file differs";
}

TEST_F(RoutingE2E, CsListWritesOnlyTheListedServices) {
    const auto cs = synth::cs(kTwoSeconds);
    write_input("cs.ts", cs);
    run({"-CS211,213", "cs.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"cs.ts", "cs_CS1(211).ts", "cs_CS2(213).ts"}));
    EXPECT_TRUE(out("cs_CS2(213).ts") == expected(cs, {213, 0x01F2, {0x01F2, 0x0131, 0x0132}}));
}

// Kept tables go to the HD (and SD/CS) outputs; a one-segment output carries its own service only,
// the second one (PMT 0x1FC9) as much as the first.
TEST_F(RoutingE2E, KeptTablesJoinTheMainOutputs) {
    synth::Multiplex m = synth::hd_multiplex();
    synth::add_oneseg(m, synth::oneseg_service(0x0599, synth::kPidOneSeg2, 0x0191, 0x0193));
    const auto input = synth::generate(m, kTwoSeconds);
    write_input("rec.ts", input);
    const PidSet oneseg2{0x1FC9, 0x0191, 0x0193, 0x01FF};
    const PidSet si{0x0010, 0x0011, 0x0012, 0x0014};
    struct Case {
        std::vector<std::string> args;
        PidSet extra;
    } cases[] = {
        {{"-EIT"}, si},
        {{"-ECM"}, {0x0010, 0x0901}},
        {{"-EMM"}, {0x0001, 0x0902}},
    };
    for (const Case& c : cases) {
        auto args = c.args;
        args.push_back("rec.ts");
        run(args);
        PidSet hd = kHd;
        for (int pid : c.extra) hd.insert(pid);
        EXPECT_TRUE(out("rec_HD.ts") == expected(input, {0x0400, 0x01F0, hd})) << c.args[0];
        EXPECT_TRUE(out("rec_1SEG.ts") == expected(input, {0x0598, 0x1FC8, kOneSeg})) << c.args[0];
        // Both one-segment files hold their service from the input's first packet on.
        EXPECT_TRUE(out("rec_1SEG2.ts") == expected(input, {0x0599, 0x1FC9, oneseg2})) << c.args[0];
    }
}

TEST_F(RoutingE2E, PidListKeepsThosePidsInTheHdFileOnly) {
    auto input = synth::hd(kTwoSeconds);
    synth::Mux extra;
    for (int i = 0; i < 30; ++i) {
        extra.filler(0x001F, static_cast<std::uint8_t>(i));
        extra.filler(0x0020, static_cast<std::uint8_t>(i));
        extra.filler(0x0021, static_cast<std::uint8_t>(i));
    }
    for (std::size_t i = 0; i < extra.packets.size(); ++i)
        input.insert(input.begin() + static_cast<long>(50 + i * 40), extra.packets[i]);
    write_input("rec.ts", input);
    run({"-PID1F,20", "rec.ts"});
    PidSet hd = kHd;
    hd.insert(0x001F);
    hd.insert(0x0020);
    EXPECT_TRUE(out("rec_HD.ts") == expected(input, {0x0400, 0x01F0, hd}));
    EXPECT_TRUE(out("rec_1SEG.ts") == expected(input, {0x0598, 0x1FC8, kOneSeg}));

    // In a multi-service recording slot HD is not in use: nothing of them is kept.
    write_input("sd.ts", synth::sd3(kTwoSeconds));
    run({"-PID1F,20", "sd.ts"});
    for (const char* name : {"sd_SD1.ts", "sd_SD2.ts", "sd_SD3.ts"}) EXPECT_EQ(pids_of(out(name)).count(0x001F), 0u);
}

TEST_F(RoutingE2E, NoProgrammeMeansNoFileAndOneClearLine) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});  // the PMT never comes
    for (int i = 0; i < 200; ++i) mux.filler(0x0111, static_cast<std::uint8_t>(i));
    write_input("rec.ts", mux.packets);
    run({"rec.ts"});
    EXPECT_EQ(files(), (std::vector<std::string>{"rec.ts"}));
    EXPECT_NE(result.out.find("出力ファイルはありません"), std::string::npos) << result.out;
}

}  // namespace
