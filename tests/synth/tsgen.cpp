// tsgen: writes a synthesized transport stream for demos and benchmarks.
// Packets are built on the fly and written in 1 MiB chunks, so any size works
// in constant memory.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "synth.h"

namespace {

const char kUsage[] =
    "usage: tsgen SCENARIO OUT.ts [--size BYTES|--seconds N] [--unit 188|192|204]\n"
    "             [--seed N] [--garbage OFFSET:LEN]...\n"
    "scenarios:\n"
    "  hd     terrestrial HD: one service under ids 0x0400-0x0402 plus one-segment 0x1FC8\n"
    "  sd3    three SD services (audio 0x0112 shared by SD1 and SD2) plus one-segment\n"
    "  hd2sd  hd, switching to sd3 with new PMT versions half way\n"
    "  bs     BS, transport_stream_id 0x4010, services 101 and 102\n"
    "  cs     CS, transport_stream_id 0x7040, services 211, 212, 213\n"
    "  hier   hd with a hierarchical low-quality video layer\n"
    "  null   one service, about 80% null packets\n"
    "  events hd: the present programme of 0x0400 changes at 1/5 and 3/5, its PMT version at 2/5\n"
    "         and 4/5 (the second time with video PID 0x0115)\n"
    "  audio  hd: audio 0x0112 stereo, dual mono from 1/4, stereo from 1/2, one mono frame at 3/4\n"
    "  hd2cs  hd, turning into the cs multiplex half way (new transport_stream_id and PMTs)\n"
    "  damaged hd with garbage of 1000 bytes at 1/4, 1.1 MB at 1/2, 10 bytes at 3/4; the last unit\n"
    "         cut in half\n"
    "BYTES takes K, M, G suffixes (powers of 1024). Default: --seconds 10, --unit 188.\n"
    "--garbage inserts LEN bytes without 0x47 before output byte OFFSET (repeatable).\n";

bool parse_u64(const char* s, uint64_t& out) {
    if (!s || !*s) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(s, &end, 0);
    if (errno != 0 || end == s) return false;
    uint64_t mul = 1;
    if (*end == 'K' || *end == 'k') mul = 1ull << 10, ++end;
    else if (*end == 'M' || *end == 'm') mul = 1ull << 20, ++end;
    else if (*end == 'G' || *end == 'g') mul = 1ull << 30, ++end;
    if (*end != '\0') return false;
    out = uint64_t(v) * mul;
    return true;
}

// The CS multiplex taking over a terrestrial one: new transport_stream_id, services, PMT versions
// and streams. Video rates are lowered so the three services fit the terrestrial mux rate.
void become_cs(synth::Multiplex& m) {
    const synth::Multiplex cs = synth::cs_multiplex();
    m.network = cs.network;
    m.services = cs.services;
    for (auto& s : m.services) s.version = 1;
    m.videos = cs.videos;
    for (auto& v : m.videos) v.mbps = 4.0;
    m.audios = cs.audios;
    m.pcr_pids = cs.pcr_pids;
    m.ecm_pids = cs.ecm_pids;
    m.emm_pids = cs.emm_pids;
    m.data_pids = cs.data_pids;
}

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string scenario = argv[1];
    std::string out = argv[2];
    uint64_t size = 0;
    double seconds = 10.0;
    uint64_t seed = 1;
    synth::Unit unit = synth::Unit::u188;
    std::vector<std::pair<uint64_t, size_t>> garbage;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--size") {
            if (!parse_u64(v, size) || size == 0) return usage();
            ++i;
        } else if (a == "--seconds") {
            if (!v) return usage();
            char* end = nullptr;
            seconds = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(seconds > 0)) return usage();
            ++i;
        } else if (a == "--unit") {
            uint64_t u = 0;
            if (!parse_u64(v, u)) return usage();
            if (u == 188) unit = synth::Unit::u188;
            else if (u == 192) unit = synth::Unit::u192;
            else if (u == 204) unit = synth::Unit::u204;
            else return usage();
            ++i;
        } else if (a == "--seed") {
            if (!parse_u64(v, seed)) return usage();
            ++i;
        } else if (a == "--garbage") {
            if (!v) return usage();
            std::string g = v;
            size_t colon = g.find(':');
            uint64_t off = 0, len = 0;
            if (colon == std::string::npos || !parse_u64(g.substr(0, colon).c_str(), off) ||
                !parse_u64(g.substr(colon + 1).c_str(), len))
                return usage();
            garbage.emplace_back(off, size_t(len));
            ++i;
        } else {
            return usage();
        }
    }

    synth::Multiplex m;
    std::vector<synth::TimedChange> changes;
    if (scenario == "hd") m = synth::hd_multiplex();
    else if (scenario == "sd3") m = synth::sd3_multiplex();
    else if (scenario == "hd2sd") m = synth::hd_multiplex();
    else if (scenario == "bs") m = synth::bs_multiplex();
    else if (scenario == "cs") m = synth::cs_multiplex();
    else if (scenario == "hier") m = synth::hierarchical_multiplex();
    else if (scenario == "null") m = synth::null_multiplex(0.8);
    else if (scenario == "events" || scenario == "audio" || scenario == "hd2cs" || scenario == "damaged")
        m = synth::hd_multiplex();
    else return usage();

    synth::Config c;
    c.seed = seed;
    c.seconds = seconds;
    if (size > 0) c.packets = std::max<uint64_t>(1, size / uint64_t(unit));
    uint64_t n = synth::packet_count(m, c);
    const uint64_t unit_bytes = uint64_t(unit);
    if (scenario == "hd2sd") changes = synth::hd_to_sd_changes(n / 2);
    if (scenario == "events") {
        // EIT p/f often enough that each stretch between changes sees it (a PMT split makes the
        // program learn the present event again).
        m.eit_ms = 300;
        changes = {synth::event_change(n / 5, 0x0400, 0x1001), synth::pmt_version_change(2 * n / 5, 0x0400),
                   synth::event_change(3 * n / 5, 0x0400, 0x1002),
                   synth::pmt_version_change(4 * n / 5, 0x0400, uint16_t(0x0115))};
    }
    if (scenario == "audio") {
        // AAC frames of 1024 samples at 48 kHz over the stream's length.
        const double pps = m.mux_mbps * 1e6 / (188.0 * 8.0);
        const uint64_t frames = uint64_t(double(n) / pps * 48000.0 / 1024.0);
        synth::audio_mode_change(m, 0x0112, frames / 4, 0);
        synth::audio_mode_change(m, 0x0112, frames / 2, 2);
        // A single frame in another mode is no change of mode.
        synth::audio_mode_change(m, 0x0112, 3 * frames / 4, 1);
        synth::audio_mode_change(m, 0x0112, 3 * frames / 4 + 1, 2);
    }
    if (scenario == "hd2cs") changes = {{n / 2, become_cs}};
    if (scenario == "damaged") {
        // Offsets off the unit grid, lengths from a few bytes to more than one read.
        garbage.emplace_back(n / 4 * unit_bytes + 77, 1000);
        garbage.emplace_back(n / 2 * unit_bytes, 1100000);
        garbage.emplace_back(3 * n / 4 * unit_bytes + 5, 10);
    }

    if (!synth::write_file(out, m, c, unit, std::move(changes), garbage)) {
        std::fprintf(stderr, "tsgen: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    if (scenario == "damaged") {
        std::error_code ec;
        const uintmax_t whole = std::filesystem::file_size(out, ec);
        if (!ec && whole > unit_bytes) std::filesystem::resize_file(out, whole - unit_bytes / 2, ec);
        if (ec) {
            std::fprintf(stderr, "tsgen: cannot truncate %s: %s\n", out.c_str(), ec.message().c_str());
            return 1;
        }
    }
    std::printf("%s: %llu packets of %d bytes (%s)\n", out.c_str(), static_cast<unsigned long long>(n), int(unit),
                scenario.c_str());
    return 0;
}
