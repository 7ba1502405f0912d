// Programme tables and service classes: PAT rows, CS detection, PMT contents, and which
// programme each output slot receives. Sections come from the synthesizer, which builds them
// independently of the program.
#include "stream/tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "state/run_state.h"
#include "synth.h"

namespace quill {
namespace {

using synth::Service;
using synth::Stream;

constexpr std::uint8_t kVideo = synth::kStreamMpeg2Video;
constexpr std::uint8_t kAac = synth::kStreamAdtsAac;
constexpr std::uint8_t kCarousel = synth::kStreamDataCarousel;

Service service(int sid, int pmt, std::vector<Stream> streams, int pcr = 0x01FF, int version = 0) {
    Service s;
    s.service_id = static_cast<std::uint16_t>(sid);
    s.pmt_pid = static_cast<std::uint16_t>(pmt);
    s.pcr_pid = static_cast<std::uint16_t>(pcr);
    s.version = static_cast<std::uint8_t>(version);
    s.streams = std::move(streams);
    return s;
}

// Feeds whole packets through the table work, the way routing does before it routes them.
struct Tables : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    PacketReport report;

    void SetUp() override {
        for (auto& s : run->outputs) s.file.enabled = 1;
        run->options.buffer_mb = 0;
    }
    OutputStream& slot(int k) { return run->outputs[static_cast<std::size_t>(k)]; }
    const ProgramEntry& row(int i) { return run->tables.entries[static_cast<std::size_t>(i)]; }

    void pat(std::uint16_t tsid, const std::vector<synth::PatEntry>& entries) {
        synth::Mux mux;
        mux.pat(tsid, entries);
        feed_tables(mux.packets.at(0));
    }
    void pmt(const Service& s) {
        synth::Mux mux;
        mux.pmt(s);
        feed_tables(mux.packets.at(0));
    }
    void feed_tables(const synth::Packet& p) {
        report = PacketReport{};
        const int pid = synth::pid_of(p);
        if (pid == kPatPid) {
            pat_table_work(*run, p.data(), report);
        } else if (pid == kCatPid) {
            cat_table_work(run->tables, p.data());
        } else if (pid == kOneSegPmtPid || pid == kOneSeg2PmtPid) {
            oneseg_pmt_work(*run, pid == kOneSegPmtPid ? kSlotOneSeg : kSlotOneSeg2, p.data(), report);
        } else {
            const int r = find_pmt_row(run->tables, pid);
            ASSERT_GE(r, 0) << "PID " << pid << " is not a PMT PID of the programme table";
            PmtStreams streams;
            if (pmt_table_work(*run, r, p.data(), streams, report)) classify_services(*run, r, streams, report);
        }
    }
    // The three-service terrestrial PAT with the one-segment service behind it.
    void terrestrial_pat(std::uint16_t tsid = 0x7FE8) {
        pat(tsid, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}, {0x0402, 0x01F2}, {0x0598, 0x1FC8}});
    }
};

// ---------------------------------------------------------------------------
// PAT

TEST_F(Tables, PatKeepsConsecutiveServicesAndFindsTheOneSegmentEntry) {
    terrestrial_pat();
    ASSERT_EQ(run->tables.count, 3);
    EXPECT_EQ(row(0).program_number, 0x0400);
    EXPECT_EQ(row(2).pmt_pid, 0x01F2);
    EXPECT_EQ(find_pmt_row(run->tables, 0x01F1), 1);
    EXPECT_EQ(find_pmt_row(run->tables, 0x1FC8), -1);
    EXPECT_EQ(report.oneseg_found, 1);
    EXPECT_EQ(slot(kSlotOneSeg).programme.service_id, 0x0598);
    EXPECT_EQ(slot(kSlotOneSeg).programme.pmt_pid, 0x1FC8);
    EXPECT_EQ(run->tables.pat_header_template[8], 0x7F);  // transport_stream_id high byte
}

TEST_F(Tables, PatOneSegmentEntriesNeedTheirSlotEnabledAndAGapInNumbering) {
    slot(kSlotOneSeg).file.enabled = 0;
    slot(kSlotOneSeg2).file.enabled = 0;
    terrestrial_pat();
    EXPECT_EQ(report.oneseg_found, 0);
    EXPECT_EQ(slot(kSlotOneSeg).programme.pmt_pid, 0);

    // A consecutive program_number on 0x1FC8 is an ordinary row, not a one-segment service.
    slot(kSlotOneSeg).file.enabled = 1;
    pat(0x7FE8, {{0x0400, 0x01F0}, {0x0401, 0x1FC8}});
    EXPECT_EQ(run->tables.count, 2);
    EXPECT_EQ(report.oneseg_found, 0);

    // A gap ends the rows: later services are not rows (and not one-segment unless on 0x1FC8/9).
    pat(0x7FE8, {{0x0400, 0x01F0}, {0x0402, 0x01F2}, {0x0403, 0x01F3}});
    EXPECT_EQ(run->tables.count, 1);
}

TEST_F(Tables, PatInCsModeKeepsEveryServiceUpToTwenty) {
    run->options.cs_mode = 1;
    std::vector<synth::PatEntry> entries{{0, 0x0010}};
    for (int i = 0; i < 25; ++i)
        entries.push_back({static_cast<std::uint16_t>(200 + 3 * i), static_cast<std::uint16_t>(0x0100 + i)});
    pat(0x7040, entries);
    EXPECT_EQ(run->tables.count, 20);
    EXPECT_EQ(row(19).program_number, 200 + 3 * 19);
    EXPECT_EQ(report.cs_detected, 0);  // already in CS mode
}

TEST_F(Tables, CsDetectionByTransportStreamId) {
    struct Case {
        std::uint16_t tsid;
        int detected;
    } cases[] = {{0x7040, 1}, {0x6000, 1}, {0x63FF, 1}, {0x7300, 1}, {0x6400, 0}, {0x7400, 0}, {0x4010, 0}, {0x7FE8, 0}};
    for (const Case& c : cases) {
        pat(c.tsid, {{211, 0x01F0}});
        EXPECT_EQ(report.cs_detected, c.detected) << std::hex << c.tsid;
    }
}

TEST_F(Tables, NonPatSectionOnPidZeroLeavesTheRowsButFeedsTheTemplate) {
    terrestrial_pat();
    synth::Mux mux;
    mux.section(kPatPid, synth::long_section(0x42, 0x1234, 0, 0, 0, {1, 2, 3, 4}));
    feed_tables(mux.packets.at(0));
    EXPECT_EQ(run->tables.count, 3);
    EXPECT_EQ(run->tables.pat_header_template[5], 0x42);
}

// ---------------------------------------------------------------------------
// CAT and PMT contents

TEST_F(Tables, CatCollectsEachEmmPidOnce) {
    synth::Mux mux;
    mux.cat({0x0902, 0x0903, 0x0902});
    feed_tables(mux.packets.at(0));
    feed_tables(mux.packets.at(0));
    EXPECT_EQ(run->tables.emm_pids[0], 0x0902);
    EXPECT_EQ(run->tables.emm_pids[1], 0x0903);
    EXPECT_EQ(run->tables.emm_pids[2], 0);
}

TEST_F(Tables, PmtSkipsCarouselsAndLowQualityLayersAndCollectsEcmPids) {
    pat(0x7FE8, {{0x0400, 0x01F0}});
    Service s = service(0x0400, 0x01F0,
                        {{kVideo, 0x0111, synth::hierarchical_descriptor(true, 0x0115)},
                         {kVideo, 0x0115, synth::hierarchical_descriptor(false, 0x0111)},
                         {kVideo, 0x0116, synth::hierarchical_descriptor(false, 0x1FFF)},  // no other layer: kept
                         {kAac, 0x0112, synth::ca_descriptor(0x0905)},
                         {kCarousel, 0x0140, synth::ca_descriptor(0x0906)}});
    s.program_descriptors = synth::ca_descriptor(0x0901);
    auto second = synth::ca_descriptor(0x0904);  // only the first programme-level CA descriptor counts
    s.program_descriptors.insert(s.program_descriptors.end(), second.begin(), second.end());
    pmt(s);
    ASSERT_EQ(row(0).es_count, 3);
    EXPECT_EQ(row(0).es_pids[0], 0x0111);
    EXPECT_EQ(row(0).es_pids[1], 0x0116);
    EXPECT_EQ(row(0).es_pids[2], 0x0112);
    EXPECT_EQ(row(0).ecm_pids[0], 0x0901);
    EXPECT_EQ(row(0).ecm_pids[1], 0x0905);
    EXPECT_EQ(row(0).ecm_pids[2], 0);

    // Single mode: slot 0 carries the programme, the PCR on its own PID.
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    EXPECT_EQ(slot(kSlotHd).programme.in_use, 1);
    EXPECT_EQ(slot(kSlotHd).programme.pcr_pid, 0x01FF);
    EXPECT_EQ(slot(kSlotHd).programme.ecm_pids[1], 0x0905);
}

TEST_F(Tables, RepeatedPmtsNeverCrowdOutANewVersion) {
    pat(0x7FE8, {{0x0400, 0x01F0}});
    const Service v0 = service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}});
    for (int i = 0; i < 25; ++i) pmt(v0);
    EXPECT_EQ(row(0).es_count, 2);
    pmt(v0);  // slot 0 took the streams; the next repetition brings video and audio PIDs
    EXPECT_EQ(slot(kSlotHd).programme.video_pid, 0x0111);
    EXPECT_EQ(slot(kSlotHd).programme.first_audio_pid, 0x0112);

    // A new version before the next PAT adds its streams; the slot follows it.
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}, {kAac, 0x0113}}, 0x01FF, 1));
    EXPECT_EQ(row(0).es_count, 3);
    EXPECT_EQ(slot(kSlotHd).programme.es_count, 3);
    EXPECT_EQ(slot(kSlotHd).programme.es_pids[2], 0x0113);
    EXPECT_EQ(slot(kSlotHd).programme.audio_pids[1], 0x0113);
    EXPECT_EQ(slot(kSlotHd).programme.previous_video_pid, 0x0111);
    EXPECT_EQ(row(0).last_pmt_version, 1);

    // The PAT empties the list: the next PMT starts it afresh.
    pat(0x7FE8, {{0x0400, 0x01F0}});
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0121}}, 0x01FF, 1));
    EXPECT_EQ(row(0).es_count, 1);
}

TEST_F(Tables, PcrOnAnElementaryPidOrNoneAtAllIsNotAPcrPidOfTheSlot) {
    pat(0x7FE8, {{0x0400, 0x01F0}});
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}}, 0x0111));
    EXPECT_EQ(slot(kSlotHd).programme.pcr_pid, 0);
    pat(0x7FE8, {{0x0400, 0x01F0}});
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}}, 0x1FFF, 1));
    EXPECT_EQ(slot(kSlotHd).programme.pcr_pid, 0);  // else every null packet would count as its PCR
}

// ---------------------------------------------------------------------------
// Classification, normal mode

// A PMT version reaches the slots that carry the row; only a version after an earlier one is a
// change (what -SEP2/-SEP3 split on), not the first one since the slot's assignment.
TEST_F(Tables, OnlyALaterPmtVersionIsAChange) {
    terrestrial_pat();
    for (int i = 0; i < 3; ++i) pmt(service(0x0400 + i, 0x01F0 + i, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    ASSERT_EQ(slot(kSlotHd).programme.in_use, 1);
    EXPECT_EQ(report.pmt_changed, 0u);
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    EXPECT_EQ(report.pmt_changed, 0u);  // the first version since the assignment
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0115}, {kAac, 0x0112}}, 0x01FF, 1));
    EXPECT_EQ(report.pmt_changed, 1u << kSlotHd);
    EXPECT_EQ(slot(kSlotHd).programme.video_pid, 0x0115);
    EXPECT_EQ(slot(kSlotHd).programme.previous_video_pid, 0x0111);
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0115}, {kAac, 0x0112}}, 0x01FF, 1));
    EXPECT_EQ(report.pmt_changed, 0u);  // repeated
}

TEST_F(Tables, ServicesSharingTheirStreamsAreOneHdService) {
    terrestrial_pat();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run->tables.service_mode, MODE_UNDECIDED);
        pmt(service(0x0400 + i, 0x01F0 + i, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    }
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    EXPECT_EQ(report.service_mode, MODE_SINGLE);
    EXPECT_EQ(report.reassigned, 1u << kSlotHd);
    EXPECT_EQ(slot(kSlotHd).programme.service_id, 0x0400);
    EXPECT_EQ(slot(kSlotHd).programme.pmt_pid, 0x01F0);
    for (int k = kFirstMultiSlot; k < kSlotCount; ++k) EXPECT_EQ(slot(k).programme.in_use, 0);
}

TEST_F(Tables, TheHdSlotNamesTheServiceWhosePmtItCarries) {
    // The first service does not have the smallest PMT PID: the slot takes that PMT and its service.
    pat(0x7FE8, {{0x0400, 0x01F2}, {0x0401, 0x01F0}, {0x0402, 0x01F1}});
    pmt(service(0x0400, 0x01F2, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    pmt(service(0x0401, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    pmt(service(0x0402, 0x01F1, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    EXPECT_EQ(slot(kSlotHd).programme.pmt_pid, 0x01F0);
    EXPECT_EQ(slot(kSlotHd).programme.service_id, 0x0401);
}

TEST_F(Tables, ServicesWithOtherStreamsAreSdServicesInPatOrder) {
    terrestrial_pat();
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    pmt(service(0x0401, 0x01F1, {{kVideo, 0x0121}, {kAac, 0x0112}}));
    EXPECT_EQ(run->tables.service_mode, MODE_UNDECIDED);  // the third PMT is still missing
    pmt(service(0x0402, 0x01F2, {{kVideo, 0x0131}, {kAac, 0x0132}}, 0x02FF));
    EXPECT_EQ(run->tables.service_mode, MODE_MULTI);
    EXPECT_EQ(report.service_mode, MODE_MULTI);
    EXPECT_EQ(slot(kSlotHd).programme.in_use, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(slot(kFirstMultiSlot + i).programme.in_use, 1);
        EXPECT_EQ(slot(kFirstMultiSlot + i).programme.service_id, 0x0400 + i);
        EXPECT_EQ(slot(kFirstMultiSlot + i).programme.pmt_pid, 0x01F0 + i);
    }
    EXPECT_EQ(slot(5).programme.pcr_pid, 0x02FF);
    EXPECT_EQ(slot(6).programme.in_use, 0);
}

TEST_F(Tables, TwoServicesSharingTheirFirstStreamShareOneSdSlot) {
    pat(0x7FE8, {{0x0400, 0x01F3}, {0x0401, 0x01F1}, {0x0402, 0x01F0}});
    pmt(service(0x0400, 0x01F3, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    pmt(service(0x0401, 0x01F1, {{kVideo, 0x0121}, {kAac, 0x0122}}));
    pmt(service(0x0402, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    ASSERT_EQ(run->tables.service_mode, MODE_MULTI);
    // SD1 holds 0x0400 and 0x0402; the smaller PMT PID is 0x0402's, so SD1 names 0x0402.
    EXPECT_EQ(slot(3).programme.pmt_pid, 0x01F0);
    EXPECT_EQ(slot(3).programme.service_id, 0x0402);
    EXPECT_EQ(slot(4).programme.service_id, 0x0401);
    EXPECT_EQ(slot(5).programme.in_use, 0);
}

TEST_F(Tables, AMissingPmtBlocksButAPmtWithoutKeptStreamsDoesNot) {
    terrestrial_pat();
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    pmt(service(0x0402, 0x01F2, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    EXPECT_EQ(run->tables.service_mode, MODE_UNDECIDED);
    // 0x0401 is a data service: its only stream is a carousel. It takes no part in the decision.
    pmt(service(0x0401, 0x01F1, {{kCarousel, 0x0140}}));
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    EXPECT_EQ(slot(kSlotHd).programme.service_id, 0x0400);
    EXPECT_EQ(row(1).es_count, 0);

    // A multiplex of data services only decides nothing.
    reset_tables(run->tables);
    slot(kSlotHd).programme.in_use = 0;
    pat(0x7FE8, {{0x0400, 0x01F0}});
    pmt(service(0x0400, 0x01F0, {{kCarousel, 0x0140}}));
    EXPECT_EQ(run->tables.service_mode, MODE_UNDECIDED);
}

TEST_F(Tables, SwitchFromHdToSdReassignsTheSlots) {
    terrestrial_pat();
    for (int i = 0; i < 3; ++i) pmt(service(0x0400 + i, 0x01F0 + i, {{kVideo, 0x0111}, {kAac, 0x0112}}));
    ASSERT_EQ(run->tables.service_mode, MODE_SINGLE);

    terrestrial_pat();
    pmt(service(0x0400, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x01FF, 1));
    // The HD slot follows the new version of its own PMT until the decision changes.
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    pmt(service(0x0401, 0x01F1, {{kVideo, 0x0121}, {kAac, 0x0112}}, 0x01FF, 1));
    pmt(service(0x0402, 0x01F2, {{kVideo, 0x0131}, {kAac, 0x0132}}, 0x02FF, 1));
    EXPECT_EQ(run->tables.service_mode, MODE_MULTI);
    EXPECT_EQ(report.reassigned, 0xFFFF8u);  // every SD slot
    EXPECT_EQ(slot(kSlotHd).programme.in_use, 0);
    EXPECT_EQ(slot(5).programme.es_pids[0], 0x0131);

    // And back: one HD service again.
    terrestrial_pat();
    for (int i = 0; i < 3; ++i) pmt(service(0x0400 + i, 0x01F0 + i, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x01FF, 2));
    EXPECT_EQ(run->tables.service_mode, MODE_SINGLE);
    EXPECT_EQ(slot(kSlotHd).programme.in_use, 1);
    EXPECT_EQ(slot(3).programme.in_use, 0);
}

TEST_F(Tables, MoreThanSeventeenSdServicesKeepWhatFits) {
    std::vector<synth::PatEntry> entries;
    for (int i = 0; i < 20; ++i) entries.push_back({static_cast<std::uint16_t>(0x0400 + i), static_cast<std::uint16_t>(0x0100 + i)});
    pat(0x7FE8, entries);
    for (int i = 0; i < 20; ++i)
        pmt(service(0x0400 + i, 0x0100 + i, {{kVideo, static_cast<std::uint16_t>(0x0200 + i)}}));
    EXPECT_EQ(run->tables.service_mode, MODE_MULTI);
    EXPECT_EQ(slot(19).programme.service_id, 0x0400 + 16);
}

// ---------------------------------------------------------------------------
// Classification, CS mode

TEST_F(Tables, CsServicesTakeSlotsAsTheirPmtsArriveAndTheListSelects) {
    run->options.cs_mode = 1;
    run->options.cs_services = {211, 212};
    run->options.cs_service_count = 2;
    pat(0x7040, {{0, 0x0010}, {211, 0x01F0}, {212, 0x01F1}, {213, 0x01F2}});
    pmt(service(213, 0x01F2, {{kVideo, 0x0131}, {kAac, 0x0132}}, 0x0131));
    EXPECT_EQ(run->tables.service_mode, MODE_UNDECIDED);
    EXPECT_EQ(slot(3).programme.in_use, 0);
    pmt(service(212, 0x01F1, {{kVideo, 0x0121}, {kAac, 0x0122}}, 0x0121));
    EXPECT_EQ(run->tables.service_mode, MODE_MULTI);
    EXPECT_EQ(report.reassigned, 1u << 3);
    EXPECT_EQ(slot(3).programme.service_id, 212);
    EXPECT_EQ(report.renamed, 1u << 3);  // the file name carries the service id
    // The assigning PMT already gives the slot its video and audio.
    EXPECT_EQ(slot(3).programme.video_pid, 0x0121);
    EXPECT_EQ(slot(3).programme.first_audio_pid, 0x0122);
    pmt(service(211, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x0111));
    EXPECT_EQ(slot(4).programme.service_id, 211);
    EXPECT_EQ(report.renamed, 1u << 4);
    EXPECT_EQ(slot(5).programme.in_use, 0);
}

TEST_F(Tables, CsServicesSharingStreamsStayOnTheSmallestPmt) {
    run->options.cs_mode = 1;
    pat(0x7040, {{211, 0x01F0}, {212, 0x01F1}});
    for (int repeat = 0; repeat < 3; ++repeat) {
        pmt(service(212, 0x01F1, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x0111));
        pmt(service(211, 0x01F0, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x0111));
        pmt(service(212, 0x01F1, {{kVideo, 0x0111}, {kAac, 0x0112}}, 0x0111));
        EXPECT_EQ(slot(3).programme.pmt_pid, 0x01F0);
        EXPECT_EQ(slot(3).programme.service_id, 211);
    }
    EXPECT_EQ(slot(4).programme.in_use, 0);
}

// ---------------------------------------------------------------------------
// One-segment PMTs

TEST_F(Tables, OneSegmentPmtFillsItsSlotAndASecondCopyIsDropped) {
    Service one = service(0x0598, 0x1FC8, {{synth::kStreamAvc, 0x0181}, {kAac, 0x0183}, {kCarousel, 0x0187}}, 0x0181);
    pmt(one);
    EXPECT_EQ(slot(kSlotOneSeg).programme.in_use, 1);
    EXPECT_EQ(slot(kSlotOneSeg).programme.es_count, 2);
    EXPECT_EQ(slot(kSlotOneSeg).programme.pcr_pid, 0);  // PCR on its video
    EXPECT_EQ(slot(kSlotOneSeg).programme.audio_pids[0], 0x0183);
    pmt(one);
    EXPECT_EQ(slot(kSlotOneSeg).programme.es_count, 2);

    one.pmt_pid = 0x1FC9;
    pmt(one);
    EXPECT_EQ(slot(kSlotOneSeg2).programme.in_use, 0);
    pmt(service(0x0599, 0x1FC9, {{synth::kStreamAvc, 0x0191}}, 0x01FF));
    EXPECT_EQ(slot(kSlotOneSeg2).programme.in_use, 1);
    EXPECT_EQ(slot(kSlotOneSeg2).programme.pcr_pid, 0x01FF);
}

// ---------------------------------------------------------------------------
// Malformed tables: never a crash, whatever the lengths claim.

TEST_F(Tables, EveryBitFlipAndLengthOfTheTablesIsSurvived) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}, {0x0598, 0x1FC8}});
    Service s = service(0x0400, 0x01F0,
                        {{kVideo, 0x0111, synth::hierarchical_descriptor(true, 0x0115)},
                         {kAac, 0x0112, synth::ca_descriptor(0x0905)}});
    s.program_descriptors = synth::ca_descriptor(0x0901);
    mux.pmt(s);
    s.pmt_pid = 0x1FC8;
    mux.pmt(s);
    mux.cat({0x0902});
    const std::vector<synth::Packet> good = mux.packets;
    run->options.keep_emm = 1;
    for (std::size_t which = 0; which < good.size(); ++which) {
        for (int byte = 4; byte < 60; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                synth::Packet p = good[which];
                p[static_cast<std::size_t>(byte)] ^= static_cast<std::uint8_t>(1 << bit);
                reset_tables(run->tables);
                feed_tables(good[0]);
                const int pid = synth::pid_of(p);
                if (pid != kPatPid && pid != kCatPid && pid != kOneSegPmtPid && find_pmt_row(run->tables, pid) < 0) continue;
                feed_tables(p);
            }
        }
        for (int length = 0; length < 4096; length += 7) {
            synth::Packet p = good[which];
            p[6] = static_cast<std::uint8_t>((p[6] & 0xF0) | (length >> 8));
            p[7] = static_cast<std::uint8_t>(length & 0xFF);
            reset_tables(run->tables);
            feed_tables(good[0]);
            feed_tables(p);
        }
    }
    SUCCEED();
}

}  // namespace
}  // namespace quill
