// Packet routing: which output receives each packet, grouped by rule. Packets come from the
// synthesizer's scenarios; outputs are written unbuffered into a temporary folder and read back.
#include "job/dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "job/job_context.h"
#include "output/naming.h"
#include "segment/programme_split.h"
#include "platform/file_io.h"
#include "stream/ts_packet.h"
#include "synth.h"

namespace quill {
namespace {

using PidSet = std::set<int>;

struct Routing : ::testing::Test {
    std::unique_ptr<JobContext> ctx = std::make_unique<JobContext>();
    RunState* run = &ctx->run;
    std::string prefix;
    alignas(8) std::uint8_t unit[188]{};
    PacketReport report;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix = ::testing::TempDir() + "routing_" + info->name() + "_";
        run->options.buffer_mb = 0;
    }
    void TearDown() override {
        for (int k = 0; k < kSlotCount; ++k) {
            close(k);
            std::remove(path(k).c_str());
            if (!slot(k).file.path.empty()) std::remove(slot(k).file.path.c_str());
        }
    }
    std::string path(int k) const { return prefix + std::to_string(k) + ".ts"; }
    OutputStream& slot(int k) { return run->outputs[static_cast<std::size_t>(k)]; }

    // Slots as the job names and enables them for the options set so far.
    void start() {
        const Options& o = run->options;
        for (int k = 0; k < kSlotCount; ++k) {
            OutputStream& s = slot(k);
            s.file.path = path(k);
            s.programme.in_use = (k == kSlotHd && o.null_only) ? 1 : 0;
            if (k == kSlotHd) s.file.enabled = o.null_only ? 1 : o.hd_enabled;
            else if (k <= kSlotOneSeg2) s.file.enabled = o.oneseg_enabled;
            else s.file.enabled = o.cs_mode ? 1 : o.sd_enabled[static_cast<std::size_t>(k - 3)];
        }
    }
    long long feed(const synth::Packet& p) {
        std::copy(p.begin(), p.end(), unit);
        ctx->job.current = unit;
        return process_packet(*ctx, synth::pid_of(p), report);
    }
    void feed(const std::vector<synth::Packet>& packets) {
        for (const auto& p : packets) ASSERT_NE(feed(p), -1);
    }
    void close(int k) {
        if (slot(k).file.fd >= 0) file_close(slot(k).file.fd);
        slot(k).file.fd = -1;
    }
    std::vector<synth::Packet> output(int k) {
        close(k);
        std::ifstream f(slot(k).file.path, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.size() % 188, 0u);
        std::vector<synth::Packet> packets(bytes.size() / 188);
        for (std::size_t i = 0; i < packets.size(); ++i)
            std::copy_n(bytes.begin() + static_cast<long>(i * 188), 188, packets[i].begin());
        return packets;
    }
    PidSet pids(int k) {
        PidSet set;
        for (const auto& p : output(k)) set.insert(synth::pid_of(p));
        return set;
    }
    bool exists(int k) { return path_identity(slot(k).file.path.c_str()).valid; }
    static std::size_t count_pid(const std::vector<synth::Packet>& packets, int pid) {
        return static_cast<std::size_t>(
            std::count_if(packets.begin(), packets.end(), [&](const synth::Packet& p) { return synth::pid_of(p) == pid; }));
    }
    // Runs a scenario twice, as the job's look-ahead pass does, and keeps what the second pass wrote.
    void run_twice(const std::vector<synth::Packet>& packets) {
        start();
        feed(packets);
        for (int k = 0; k < kSlotCount; ++k) {
            close(k);
            std::remove(slot(k).file.path.c_str());
        }
        feed(packets);
    }
};

synth::Config short_run(std::uint64_t packets = 6000) { return synth::Config{.packets = packets}; }

// ---------------------------------------------------------------------------
// The generated PAT

TEST_F(Routing, EachOutputGetsAPatNamingOnlyItsOwnService) {
    run_twice(synth::hd(short_run()));
    const auto hd = output(kSlotHd);
    ASSERT_FALSE(hd.empty());
    std::size_t pats = 0;
    for (const auto& p : hd) {
        if (synth::pid_of(p) != 0) continue;
        ++pats;
        EXPECT_EQ(p[7], 17);  // section_length
        EXPECT_EQ(p[17], 0x04);
        EXPECT_EQ(p[18], 0x00);
        EXPECT_EQ(p[19], 0xE1);
        EXPECT_EQ(p[20], 0xF0);
        const auto section = synth::read_section(p);
        ASSERT_TRUE(section.has_value());
        EXPECT_TRUE(section->crc_ok);
        EXPECT_EQ(section->table_id_extension, 0x7FE8);
    }
    const auto input = synth::hd(short_run());
    EXPECT_EQ(pats, count_pid(input, 0));  // one per received PAT
    for (const auto& p : output(kSlotOneSeg)) {
        if (synth::pid_of(p) != 0) continue;
        EXPECT_EQ(p[17], 0x05);
        EXPECT_EQ(p[18], 0x98);
        EXPECT_EQ(p[19], 0xFF);
        EXPECT_EQ(p[20], 0xC8);
    }
}

// ---------------------------------------------------------------------------
// Service classes: HD with a one-segment service, three SD services

TEST_F(Routing, HdRecordingKeepsOnlyTheServiceAndItsOneSegmentCompanion) {
    run_twice(synth::hd(short_run()));
    EXPECT_EQ(pids(kSlotHd), (PidSet{0x0000, 0x01F0, 0x0111, 0x0112, 0x01FF}));
    // The one-segment service shares the PCR PID 0x01FF with the HD service.
    EXPECT_EQ(pids(kSlotOneSeg), (PidSet{0x0000, 0x1FC8, 0x0181, 0x0183, 0x01FF}));
    EXPECT_FALSE(exists(kSlotOneSeg2));
    EXPECT_FALSE(exists(3));

    // Every selected packet arrives unchanged and in order.
    std::vector<synth::Packet> expected;
    for (const auto& p : synth::hd(short_run())) {
        const int pid = synth::pid_of(p);
        if (pid == 0x01F0 || pid == 0x0111 || pid == 0x0112 || pid == 0x01FF) expected.push_back(p);
    }
    std::vector<synth::Packet> got;
    for (const auto& p : output(kSlotHd))
        if (synth::pid_of(p) != 0) got.push_back(p);
    EXPECT_TRUE(got == expected);
}

TEST_F(Routing, HierarchicalLowQualityLayerAndCarouselsAreDropped) {
    run_twice(synth::hierarchical(short_run()));
    EXPECT_EQ(pids(kSlotHd), (PidSet{0x0000, 0x01F0, 0x0111, 0x0112, 0x01FF}));
}

TEST_F(Routing, SdServicesSharedAudioGoesToTheLowestSlotSharedPcrToEvery) {
    run_twice(synth::sd3(short_run(9000)));
    EXPECT_FALSE(exists(kSlotHd));
    EXPECT_EQ(pids(3), (PidSet{0x0000, 0x01F0, 0x0111, 0x0112, 0x01FF}));
    EXPECT_EQ(pids(4), (PidSet{0x0000, 0x01F1, 0x0121, 0x01FF}));
    EXPECT_EQ(pids(5), (PidSet{0x0000, 0x01F2, 0x0131, 0x0132, 0x02FF}));
    EXPECT_EQ(pids(kSlotOneSeg), (PidSet{0x0000, 0x1FC8, 0x0181, 0x0183, 0x01FF}));

    // The PCR PID shared with the one-segment service reaches SD1 and SD2 every time.
    const auto input = synth::sd3(short_run(9000));
    EXPECT_EQ(count_pid(output(3), 0x01FF), count_pid(input, 0x01FF));
    EXPECT_EQ(count_pid(output(4), 0x01FF), count_pid(input, 0x01FF));
    EXPECT_EQ(count_pid(output(kSlotOneSeg), 0x01FF), count_pid(input, 0x01FF));
    // Each SD file's PAT names its own service and PMT.
    for (int k = 3; k <= 5; ++k)
        for (const auto& p : output(k))
            if (synth::pid_of(p) == 0) {
                EXPECT_EQ((p[17] << 8) | p[18], 0x0400 + (k - 3));
                EXPECT_EQ(((p[19] & 0x1F) << 8) | p[20], 0x01F0 + (k - 3));
            }
}

TEST_F(Routing, ADisabledSdSlotDoesNotSwallowAStreamItShares) {
    run->options.sd_enabled[0] = 0;
    run_twice(synth::sd3(short_run(9000)));
    EXPECT_FALSE(exists(3));
    EXPECT_EQ(pids(4), (PidSet{0x0000, 0x01F1, 0x0121, 0x0112, 0x01FF}));
}

TEST_F(Routing, PmtPacketsBeforeTheDecisionAreDropped) {
    start();
    feed(synth::hd(short_run(3)));  // PAT and the first PMT only
    EXPECT_EQ(report.service_mode, MODE_UNDECIDED);
    EXPECT_FALSE(exists(kSlotHd));
}

TEST_F(Routing, NullPacketsAreNotAPcrEvenWhenAPmtNamesNoPcr) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});
    mux.pmt(synth::Service{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x1FFF, .streams = {{0x02, 0x0111}}});
    mux.pmt(synth::Service{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x1FFF, .streams = {{0x02, 0x0111}}});
    mux.null(5);
    mux.filler(0x0111);
    start();
    feed(mux.packets);
    EXPECT_EQ(pids(kSlotHd), (PidSet{0x01F0, 0x0111}));
}

// ---------------------------------------------------------------------------
// -EIT, -ECM, -EMM, -PID

TEST_F(Routing, SiTablesAreDroppedUnlessKept) {
    run_twice(synth::hd(short_run()));
    const PidSet hd = pids(kSlotHd);
    for (int pid : {0x0001, 0x0010, 0x0011, 0x0012, 0x0014, 0x0901, 0x0902, 0x0140, 0x1FFF})
        EXPECT_EQ(hd.count(pid), 0u) << std::hex << pid;
}

TEST_F(Routing, EitKeepsNitSdtEitTotInEveryMainOutput) {
    run->options.keep_eit = 1;
    run_twice(synth::sd3(short_run(9000)));
    const auto input = synth::sd3(short_run(9000));
    for (int k : {3, 4, 5}) {
        const auto out = output(k);
        for (int pid : {0x0010, 0x0011, 0x0012, 0x0014}) EXPECT_EQ(count_pid(out, pid), count_pid(input, pid)) << k;
        EXPECT_EQ(count_pid(out, 0x0901), 0u);
    }
    // The one-segment output carries its own service only.
    for (int pid : {0x0010, 0x0011, 0x0012, 0x0014}) EXPECT_EQ(count_pid(output(kSlotOneSeg), pid), 0u);
}

TEST_F(Routing, EcmKeepsNitAndEachServicesEcmPids) {
    run->options.keep_ecm = 1;
    run_twice(synth::sd3(short_run(9000)));
    const auto input = synth::sd3(short_run(9000));
    for (int k : {3, 4, 5}) {
        const auto out = output(k);
        EXPECT_EQ(count_pid(out, 0x0901), count_pid(input, 0x0901)) << k;  // one ECM PID shared by all
        EXPECT_EQ(count_pid(out, 0x0010), count_pid(input, 0x0010));
        EXPECT_EQ(count_pid(out, 0x0012), 0u);
    }
}

TEST_F(Routing, EmmKeepsTheCatAndTheEmmPidsItLists) {
    run->options.keep_emm = 1;
    run_twice(synth::hd(short_run()));
    const auto input = synth::hd(short_run());
    const auto hd = output(kSlotHd);
    EXPECT_EQ(count_pid(hd, 0x0001), count_pid(input, 0x0001));
    EXPECT_EQ(count_pid(hd, 0x0902), count_pid(input, 0x0902));
    EXPECT_GT(count_pid(hd, 0x0902), 0u);
    EXPECT_EQ(count_pid(hd, 0x0901), 0u);
}

TEST_F(Routing, PidListKeepsPidsInTheHdFileOnly) {
    auto with_extra_pids = [](std::vector<synth::Packet> packets) {
        synth::Mux mux;
        mux.filler(0x001F);
        mux.filler(0x0020);
        mux.filler(0x0021);
        packets.insert(packets.begin() + 40, mux.packets.begin(), mux.packets.end());
        return packets;
    };
    run->options.keep_pids = {0x1F, 0x20};
    run->options.keep_pid_count = 2;
    run->options.keep_pid_min = 0x1F;
    run->options.keep_pid_max = 0x20;
    run->options.keep_pids_active = 1;
    run_twice(with_extra_pids(synth::hd(short_run())));
    EXPECT_EQ(pids(kSlotHd), (PidSet{0x0000, 0x001F, 0x0020, 0x01F0, 0x0111, 0x0112, 0x01FF}));
    EXPECT_EQ(pids(kSlotOneSeg).count(0x001F), 0u);

    TearDown();
    ctx = std::make_unique<JobContext>();
    run = &ctx->run;
    run->options.buffer_mb = 0;
    run->options.keep_pids = {0x1F, 0x20};
    run->options.keep_pid_count = 2;
    run->options.keep_pid_min = 0x1F;
    run->options.keep_pid_max = 0x20;
    run->options.keep_pids_active = 1;
    run_twice(with_extra_pids(synth::sd3(short_run(9000))));
    for (int k = 3; k <= 5; ++k) EXPECT_EQ(pids(k).count(0x001F), 0u);
}

TEST_F(Routing, PidListNamingTablePidsStillReadsTheTables) {
    // Keeping the PMT, the one-segment PMT and the CAT must not stop their table work.
    run->options.keep_emm = 1;
    run->options.keep_pids = {0x01, 0x1F0, 0x1FC8};
    run->options.keep_pid_count = 3;
    run->options.keep_pid_min = 0x01;
    run->options.keep_pid_max = 0x1FC8;
    run->options.keep_pids_active = 1;
    run_twice(synth::hd(short_run()));
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    EXPECT_EQ(slot(kSlotOneSeg).programme.in_use, 1);
    EXPECT_EQ(run->tables.emm_pids[0], 0x0902);
    const PidSet hd = pids(kSlotHd);
    for (int pid : {0x0000, 0x0001, 0x01F0, 0x1FC8, 0x0111, 0x0112, 0x01FF, 0x0902}) EXPECT_EQ(hd.count(pid), 1u) << std::hex << pid;
}

// ---------------------------------------------------------------------------
// Only-mode stays as it was: -NULL copies everything but null packets.

TEST_F(Routing, NullOnlyModeCopiesEveryPacketButNullPackets) {
    run->options.null_only = 1;
    start();
    const auto input = synth::hd(short_run(2000));
    feed(input);
    std::vector<synth::Packet> expected;
    for (const auto& p : input)
        if (synth::pid_of(p) != 0x1FFF) expected.push_back(p);
    EXPECT_TRUE(output(kSlotHd) == expected);
}

// ---------------------------------------------------------------------------
// CS mode

TEST_F(Routing, CsServicesEachGetTheirOwnFile) {
    run->options.cs_mode = 1;
    run->input.folder = ::testing::TempDir();
    run->input.base = "routing_cs";
    run->input.ext = ".ts";
    for (int k = kFirstMultiSlot; k < kSlotCount; ++k) slot(k).file.suffix = "_CS" + std::to_string(k - 2);
    run_twice(synth::cs(short_run(9000)));
    EXPECT_EQ(slot(3).file.path, ::testing::TempDir() + "routing_cs_CS1(211).ts");
    std::map<int, PidSet> want{{211, {0x0000, 0x01F0, 0x0111, 0x0112}},
                               {212, {0x0000, 0x01F1, 0x0121, 0x0122}},
                               {213, {0x0000, 0x01F2, 0x0131, 0x0132}}};
    std::map<int, PidSet> got;
    for (int k = 3; k <= 5; ++k) got[slot(k).programme.service_id] = pids(k);
    EXPECT_EQ(got, want);
    EXPECT_FALSE(exists(6));
}

// A CS slot refilled with another service after a split keeps its split number in the name, also
// when only PMT splits are on, so that it does not write over its first file.
TEST(CsSplitNames, RefilledSlotKeepsItsSplitNumber) {
    auto ctx = std::make_unique<JobContext>();
    RunState* run = &ctx->run;
    run->options.cs_mode = 1;
    run->options.split_on_pmt = 1;
    run->options.buffer_mb = 0;
    const std::string folder = ::testing::TempDir();
    run->input.folder = folder;
    run->input.base = "programme_split_cs";
    run->input.ext = ".ts";
    for (int k = kFirstMultiSlot; k < kSlotCount; ++k) {
        OutputStream& s = run->outputs[static_cast<std::size_t>(k)];
        s.file.suffix = "_CS" + std::to_string(k - 2);
        s.file.enabled = 1;
    }
    synth::Mux mux;
    const synth::Service a{.service_id = 211, .pmt_pid = 0x01F1, .pcr_pid = 0x0111,
                           .streams = {{0x02, 0x0111}, {0x0F, 0x0112}}};
    synth::Service b = a;
    b.service_id = 212;
    b.pmt_pid = 0x01F0;
    mux.pat(0x7040, {{211, 0x01F1}, {212, 0x01F0}});
    mux.pmt(a);
    std::uint8_t unit[188];
    PacketReport report;
    auto feed = [&](const synth::Packet& p) {
        std::copy(p.begin(), p.end(), unit);
        ctx->job.current = unit;
        return process_packet(*ctx, synth::pid_of(p), report);
    };
    for (const auto& p : mux.packets) ASSERT_NE(feed(p), -1);
    OutputStream& cs1 = run->outputs[kFirstMultiSlot];
    ASSERT_EQ(cs1.programme.service_id, 211);
    EXPECT_EQ(cs1.file.path, folder + "programme_split_cs_CS1(211).ts");
    cs1.split.split_number = 1;  // as after a PMT split
    cs1.file.path = slot_file_path(*run, kFirstMultiSlot, 1);
    EXPECT_EQ(cs1.file.path, folder + "programme_split_cs_CS1(211)-1.ts");
    ASSERT_NE(feed(mux.packets[mux.section(b.pmt_pid, synth::pmt_section(b))]), -1);
    EXPECT_EQ(cs1.programme.service_id, 212);
    EXPECT_EQ(cs1.file.path, folder + "programme_split_cs_CS1(212)-1.ts");
    if (cs1.file.fd >= 0) file_close(cs1.file.fd);
    std::remove((folder + "programme_split_cs_CS1(211).ts").c_str());
}

}  // namespace
}  // namespace quill
