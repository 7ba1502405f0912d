// Seed corpora from the stream synthesizer: for each fuzz target a handful of inputs that already
// reach deep into its code (tables that decide a service mode, PES starts with ADTS headers, GOP
// headers, programme and audio-mode changes). Usage: fuzz_seeds <folder>; writes <folder>/<target>/.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "synth.h"

namespace {

using synth::Bytes;
using synth::Packet;

std::string root;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes join(const std::vector<Packet>& packets) { return synth::to_units(packets); }

// Tables every few packets, so that a short piece of the recording decides its service mode.
synth::Multiplex dense(synth::Multiplex m) {
    m.pat_ms = m.pmt_ms = 1;
    m.cat_ms = m.nit_ms = m.sdt_ms = m.eit_ms = m.tot_ms = 2;
    m.ecm_ms = m.emm_ms = 3;
    m.pcr_ms = 1;
    return m;
}

std::vector<Packet> first(const synth::Multiplex& m, std::uint64_t n, std::vector<synth::TimedChange> changes = {}) {
    return synth::generate(dense(m), synth::Config{.packets = n}, std::move(changes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 1;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);

    const auto hd = first(synth::hd_multiplex(), 300);
    const auto sd3 = first(synth::sd3_multiplex(), 300,
                           {synth::event_change(150, 0x0400, 7), synth::pmt_version_change(200, 0x0401, 0x0125)});
    const auto cs = first(synth::cs_multiplex(), 300);
    const auto bs = first(synth::bs_multiplex(), 200);
    synth::Multiplex audio = synth::hd_multiplex();
    synth::audio_mode_change(audio, 0x0112, 3, 0);
    synth::audio_mode_change(audio, 0x0112, 6, 2);
    const auto modes = first(audio, 300);

    // Unit sizes and synchronisation: the three unit kinds, and damage in between.
    put("fuzz_unit_size", "u188", synth::to_units({hd.begin(), hd.begin() + 24}, synth::Unit::u188));
    put("fuzz_unit_size", "u192", synth::to_units({hd.begin(), hd.begin() + 24}, synth::Unit::u192));
    put("fuzz_unit_size", "u204", synth::to_units({hd.begin(), hd.begin() + 24}, synth::Unit::u204));
    Bytes damaged = synth::to_units({hd.begin(), hd.begin() + 30}, synth::Unit::u192);
    synth::insert_garbage(damaged, 192 * 10 + 7, 333, 5, synth::Sync::Stray);
    put("fuzz_unit_size", "damaged", damaged);

    // Tables through the routing: two option bytes, then packets.
    struct TableSeed {
        const char* name;
        std::uint8_t a, b;
        const std::vector<Packet>* packets;
        std::size_t count;
    } table_seeds[] = {
        {"hd", 0x07, 0x00, &hd, 120},       {"hd_gop", 0x67, 0x61, &hd, 150},
        {"sd3_split", 0x21, 0x07, &sd3, 300}, {"cs", 0x0E, 0x80, &cs, 120},
        {"bs_null", 0x10, 0x00, &bs, 60},     {"modes", 0x60, 0x18, &modes, 300},
    };
    for (const auto& t : table_seeds) {
        Bytes b = {t.a, t.b};
        Bytes p = join({t.packets->begin(), t.packets->begin() + static_cast<long>(t.count)});
        b.insert(b.end(), p.begin(), p.end());
        put("fuzz_tables", t.name, b);
    }

    // The table readers alone: the tables of each multiplex, one packet after another.
    const auto tables_of = [&](const std::vector<Packet>& packets) {
        std::vector<Packet> out;
        for (const Packet& p : packets) {
            const int pid = synth::pid_of(p);
            if (pid < 0x0030 || (pid >= 0x01F0 && pid <= 0x01F2) || pid == 0x1FC8 || pid == 0x1FC9) out.push_back(p);
            if (out.size() >= 40) break;
        }
        return join(out);
    };
    put("fuzz_psi", "hd", tables_of(hd));
    put("fuzz_psi", "sd3", tables_of(sd3));
    put("fuzz_psi", "cs", tables_of(cs));

    // Single packets for the PES, ADTS and time readers: video and audio starts, PCRs, time tables.
    synth::Mux mux;
    mux.pes_video(0x0111, {.type = synth::Picture::I, .pts = 90000, .dts = 87000, .size = 300}, 80000);
    mux.pes_audio(0x0112, {.pts = 90000, .channel_configuration = 2, .size = 120});
    mux.pes_audio(0x0112, {.pts = 92000, .channel_configuration = 0, .size = 120});
    mux.pes_audio(0x0112, {.pts = 94000, .sampling_frequency_index = 8, .size = 120});
    mux.pcr(0x01FF, 0x1FFFFFF00);
    mux.tot({.hour = 23, .minute = 59, .second = 59});
    mux.tot({}, true);
    put("fuzz_pes", "mixed", join(mux.packets));
    put("fuzz_pes", "modes", join({modes.begin(), modes.end()}));

    // Whole recordings for the program targets.
    for (const char* target : {"fuzz_program_split", "fuzz_program_tables", "fuzz_program_null"}) {
        put(target, "hd", join(hd));
        put(target, "sd3_changes", join(sd3));
        put(target, "cs", join(cs));
        put(target, "modes192", synth::to_units(modes, synth::Unit::u192));
    }

    // GOP lists: an 8-byte packet count, then the list text.
    const std::string gop =
        "TS_CUT2\r\n\r\n"
        "0x0111,AudioCh02,00:00:00:000,900000,12\r\n"
        "0x0111,AudioCh02,00:00:00:500,945045,3051\r\n"
        "0x0111,AudioCh00,00:00:01:001,990090,6120\r\n"
        "0x0111,AudioCh02,00:00:01:501,1035135, 9177\r\n";
    for (const std::uint64_t count : {std::uint64_t{3051}, std::uint64_t{0}, std::uint64_t{1} << 40}) {
        Bytes b;
        for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
        b.insert(b.end(), gop.begin(), gop.end());
        put("fuzz_gop_list", "list" + std::to_string(count), b);
    }

    // The front end.
    put("fuzz_ini", "settings", Bytes{'S', 'e', 't', 't', 'i', 'n', 'g', 's', '\x00'});
    const std::string ini =
        "\x08QuillodineGUI\x03EIT\x40\x01"
        "[QuillodineGUI]\r\nEIT=1\r\nECM=0\r\nOUT_PATH=C:\\rec\\out\r\nOVL_SET=5,7,0\r\n"
        "[Profile]\r\nCount=2\r\nName0=daily\r\nName1=news ] 2\r\n[daily]\nSEP=1\nSEPA2=1\n; comment\n=novalue\n[";
    put("fuzz_ini", "profiles", Bytes(ini.begin(), ini.end()));
    const std::string args = std::string(40, '\x01') + "\"C:\\rec\\a.ts\" \"C:\\rec\\b.ts\" \"C:\\rec\\c";
    put("fuzz_argument_line", "quoted", Bytes(args.begin(), args.end()));
    const std::string list = std::string(40, '\x00') + "-FLIST C:\\list.lst";
    put("fuzz_argument_line", "flist", Bytes(list.begin(), list.end()));
    return 0;
}
