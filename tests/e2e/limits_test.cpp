// Fixed limits of the console program, pushed past their ends: 20 programmes, 20 elementary
// streams, 10 audio streams, 20 ECM and EMM PIDs, 17 SD/CS outputs, 20 -PID and -CS values,
// 1021-byte input paths and 255-byte name parts. What does not fit is left out without a
// message; nothing is written past an array (the sanitizer build runs these too).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using synth::Packet;

using e2e::concat;

std::set<int> pids_in(const std::string& path) {
    std::set<int> pids;
    for (const auto& b : e2e::split_packets(e2e::read_file(path))) pids.insert((b[1] & 0x1F) << 8 | b[2]);
    return pids;
}

void expect_clean_exit(const e2e::RunResult& r, int code) {
    EXPECT_EQ(r.exit_code, code) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

std::vector<std::string> stream_files(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& n : e2e::list_dir(dir))
        if (n.rfind(prefix, 0) == 0) names.push_back(n);
    return names;
}

// `count` services, each with a video PID of its own, all PMTs, then one video packet each.
std::vector<Packet> many_services(int count, std::uint16_t transport_stream_id) {
    synth::Mux mux;
    std::vector<synth::PatEntry> entries = {{0, synth::kPidNit}};
    std::vector<synth::Service> services;
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<std::uint16_t>(i);
        services.push_back({.service_id = static_cast<std::uint16_t>(transport_stream_id == 0x7040 ? 200 + n : 0x0400 + n),
                            .pmt_pid = static_cast<std::uint16_t>(0x0100 + n),
                            .pcr_pid = static_cast<std::uint16_t>(0x0600 + n),
                            .streams = {{synth::kStreamMpeg2Video, static_cast<std::uint16_t>(0x0300 + n)}}});
        entries.push_back({services.back().service_id, services.back().pmt_pid});
    }
    for (int round = 0; round < 12; ++round) {
        mux.pat(transport_stream_id, entries);
        for (const auto& s : services) mux.pmt(s);
        for (const auto& s : services) mux.filler(s.streams[0].pid, static_cast<std::uint8_t>(round));
    }
    return mux.packets;
}

TEST(LimitsTest, FortyServicesGiveTwentyProgrammesAndSeventeenSdOutputs) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(many_services(40, 0x7FE8)));
    e2e::RunResult r = e2e::run_quillodine({"rec.ts"}, dir.path);
    expect_clean_exit(r, 0);
    const auto files = stream_files(dir.path, "rec_SD");
    EXPECT_EQ(files.size(), 17u);
    for (int k = 1; k <= 17; ++k) {
        SCOPED_TRACE(k);
        const std::string path = dir.file("rec_SD" + std::to_string(k) + ".ts");
        ASSERT_TRUE(e2e::file_exists(path));
        EXPECT_EQ(pids_in(path).count(0x0300 + k - 1), 1u);
    }
    EXPECT_FALSE(e2e::file_exists(dir.file("rec_SD18.ts")));
}

TEST(LimitsTest, TwentyFiveCsServicesGiveSeventeenCsOutputs) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(many_services(25, 0x7040)));
    e2e::RunResult r = e2e::run_quillodine({"-CS", "rec.ts"}, dir.path);
    expect_clean_exit(r, 0);
    EXPECT_EQ(stream_files(dir.path, "rec_CS").size(), 17u) << r.out;
    // And with a -CS list longer than 20 values.
    std::string list = "-CS";
    for (int i = 0; i < 25; ++i) list += std::to_string(200 + i) + (i < 24 ? "," : "");
    r = e2e::run_quillodine({list, "rec.ts"}, dir.path);
    expect_clean_exit(r, 0);
    EXPECT_LE(stream_files(dir.path, "rec_CS").size(), 17u);
}

// A PMT listing 40 streams (the section runs on into a second packet, which is not read), 15 of
// them audio, 25 CA descriptors in the PMT and 25 EMM PIDs in the CAT.
TEST(LimitsTest, LongStreamAndCaLists) {
    synth::Service s{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF};
    for (int i = 0; i < 40; ++i)
        s.streams.push_back({i < 15 ? synth::kStreamAdtsAac : synth::kStreamMpeg2Video, static_cast<std::uint16_t>(0x0200 + i)});
    synth::Service ca = s;
    ca.pmt_pid = 0x01F1;
    ca.service_id = 0x0401;
    ca.streams.resize(20);
    for (int i = 0; i < 25; ++i) {
        Bytes d = synth::ca_descriptor(static_cast<std::uint16_t>(0x0900 + i));
        ca.program_descriptors.insert(ca.program_descriptors.end(), d.begin(), d.end());
    }
    std::vector<std::uint16_t> emm;
    for (int i = 0; i < 25; ++i) emm.push_back(static_cast<std::uint16_t>(0x0A00 + i));

    synth::Mux mux;
    for (int round = 0; round < 6; ++round) {
        mux.pat(0x7FE8, {{0, synth::kPidNit}, {0x0400, 0x01F0}});
        mux.pmt(s);
        mux.cat(emm);
        for (const auto& st : s.streams) mux.pes_audio(st.pid, {.pts = 90000u + 1920u * static_cast<unsigned>(round), .size = 150});
        for (int i = 0; i < 25; ++i) mux.filler(static_cast<std::uint16_t>(0x0A00 + i));
    }
    synth::Mux second;
    for (int round = 0; round < 6; ++round) {
        second.pat(0x7FE8, {{0, synth::kPidNit}, {0x0401, 0x01F1}});
        second.pmt(ca);
        for (int i = 0; i < 25; ++i) second.filler(static_cast<std::uint16_t>(0x0900 + i));
    }
    e2e::TempDir dir;
    e2e::write_file(dir.file("streams.ts"), concat(mux.packets));
    e2e::write_file(dir.file("ca.ts"), concat(second.packets));
    e2e::RunResult r = e2e::run_quillodine({"-ECM", "-EMM", "-GOPCH", "-SEPA2", "-PTS", "-LOG", "streams.ts", "ca.ts"}, dir.path);
    expect_clean_exit(r, 0);

    const auto streams = pids_in(dir.file("streams_HD.ts"));
    int kept = 0;
    for (int i = 0; i < 40; ++i) kept += static_cast<int>(streams.count(0x0200 + i));
    EXPECT_EQ(kept, 20) << "the first 20 streams of the PMT";
    for (int i = 0; i < 20; ++i) EXPECT_EQ(streams.count(0x0200 + i), 1u) << i;
    int emm_kept = 0;
    for (int i = 0; i < 25; ++i) emm_kept += static_cast<int>(streams.count(0x0A00 + i));
    EXPECT_LE(emm_kept, 20);
    EXPECT_GT(emm_kept, 0);

    const auto with_ca = pids_in(dir.file("ca_HD.ts"));
    int ecm_kept = 0;
    for (int i = 0; i < 25; ++i) ecm_kept += static_cast<int>(with_ca.count(0x0900 + i));
    EXPECT_LE(ecm_kept, 20);
    EXPECT_GT(ecm_kept, 0);
}

TEST(LimitsTest, PidListLongerThanTwenty) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0, synth::kPidNit}, {0x0400, 0x01F0}});
    mux.pmt({.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF,
             .streams = {{synth::kStreamMpeg2Video, 0x0111}}});
    for (int round = 0; round < 10; ++round)
        for (int i = 0; i < 25; ++i) mux.filler(static_cast<std::uint16_t>(0x0700 + i));
    std::string list = "-PID";
    for (int i = 0; i < 25; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%s%X", i ? "," : "", 0x0700 + i);
        list += hex;
    }
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(mux.packets));
    e2e::RunResult r = e2e::run_quillodine({list, "rec.ts"}, dir.path);
    expect_clean_exit(r, 0);
    int kept = 0;
    for (int pid : pids_in(dir.file("rec_HD.ts"))) kept += pid >= 0x0700 && pid < 0x0719;
    EXPECT_EQ(kept, 20);
}

// Input paths of 1021 bytes are taken, 1022 bytes refused with the open line; a 255-byte name
// whose outputs would pass 255 bytes cannot be created without -FLEN, and can with it.
TEST(LimitsTest, PathAndNameLengths) {
    e2e::TempDir dir;
    const Bytes rec = concat(many_services(1, 0x7FE8));
    // Relative paths from the test folder: folders of 200 bytes, then the file name.
    auto deep_path = [&](std::size_t total) {
        std::string path;
        for (int level = 0; total - path.size() > 250; ++level) {
            path += std::string(200, 'd') + std::to_string(level) + "/";
            mkdir(dir.file(path).c_str(), 0755);
        }
        path += std::string(total - path.size() - 3, 'r') + ".ts";
        return path;
    };
    const std::string fits = deep_path(1021);
    std::string too_long = fits.substr(0, fits.size() - 3) + "r.ts";
    ASSERT_EQ(fits.size(), 1021u);
    ASSERT_EQ(too_long.size(), 1022u);
    e2e::write_file(dir.file(fits), rec);
    e2e::write_file(dir.file(too_long), rec);
    e2e::RunResult r = e2e::run_quillodine({"-FLEN", fits, too_long}, dir.path);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("error - failed on open(" + too_long + ") [src]\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("error - failed on open(" + fits + ") [src]\n"), std::string::npos) << r.out;

    const std::string name = std::string(252, 'n') + ".ts";
    e2e::write_file(dir.file(name), rec);
    r = e2e::run_quillodine({name}, dir.path);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("\nerror - failed on open [" + std::string(252, 'n') + "_HD.ts]\n"), std::string::npos) << r.out;
    r = e2e::run_quillodine({"-FLEN", "-GOP", "-LOGFILE", name}, dir.path);
    expect_clean_exit(r, 0);
    EXPECT_TRUE(e2e::file_exists(dir.file(std::string(249, 'n') + "_HD.ts")));

#ifndef QUILL_E2E_WINDOWS_PROGRAM  // its names are in code page 932, which has no U+20BB7
    // With -UNI the length is counted in UTF-16 (2 bytes a unit, 2 units for U+20BB7): a Japanese
    // name is cut to 127 units, further than the 255 bytes of -FLEN alone.
    auto japanese = [](int kana) {
        std::string base = "\xF0\xA0\xAE\xB7" + std::string(68, 'a');  // U+20BB7: 4 bytes, 2 units
        for (int i = 0; i < kana; ++i) base += "\xE3\x81\x82";          // U+3042: 3 bytes, 1 unit
        return base;
    };
    const std::string ja = japanese(60) + ".ts";
    ASSERT_EQ(ja.size(), 255u);
    e2e::write_file(dir.file(ja), rec);
    expect_clean_exit(e2e::run_quillodine({"-FLEN", "-UNI", ja}, dir.path), 0);
    EXPECT_EQ(stream_files(dir.path, "\xF0"), (std::vector<std::string>{japanese(51) + "_HD.ts", ja}));
    expect_clean_exit(e2e::run_quillodine({"-FLEN", ja}, dir.path), 0);
    EXPECT_TRUE(e2e::file_exists(dir.file(japanese(59) + "_HD.ts")));
#endif
}

}  // namespace
