// Descrambling end to end: the program copied into a temporary folder together with the
// substitute library (tests/descrambler) as B25Decoder.so, run on recordings scrambled with the
// library's transform. The built program's own folder never holds a library: a copy per test keeps
// the variants apart and keeps real runs of the built program from picking up the substitute.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "substitute_transform.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using Packets = std::vector<synth::Packet>;

const std::string kLoadFailed = "Dllが読み込めませんでした(Dll又は、再頒布可能パッケージを確認して下さい)\r\n\r\n";
const std::string kInitFailed =
    "B25Decoder.dllの初期化でエラーが発生しました(カードリーダ又は、カードを確認して下さい)\r\n\r\n";
const std::string kSummary = "EITフラグ:オフ／ECMフラグ:オフ／EMMフラグ:オフ／HD○,SD○○○,1SEG○\n";

// Elementary streams of the synthesizer's terrestrial HD multiplex: video and audio of the HD
// service, video and audio of the one-segment service.
constexpr uint16_t kHdVideo = 0x0111, kHdAudio = 0x0112, kOneSegVideo = 0x0181, kOneSegAudio = 0x0183;

enum class Library { None, Full, NoFactory };

// A folder holding a copy of the program and, when asked, a library variant beside it.
struct Install {
    e2e::TempDir dir;
    std::string exe = dir.file("Quillodine");
    std::string log = dir.file("calls.txt");

    explicit Install(Library library) {
        e2e::write_file(exe, e2e::read_file(e2e::quillodine_binary()));
        chmod(exe.c_str(), 0755);
        if (library != Library::None)
            e2e::write_file(dir.file("B25Decoder.so"),
                            e2e::read_file(library == Library::Full ? SUBSTITUTE_B25_LIBRARY
                                                                    : SUBSTITUTE_B25_NO_FACTORY_LIBRARY));
    }
    e2e::RunResult run(const std::vector<std::string>& args, const std::string& behaviour = "",
                       e2e::StdoutKind kind = e2e::StdoutKind::File) const {
        return e2e::run_program(args, dir.path, {{"SUBSTITUTE_B25", behaviour}, {"SUBSTITUTE_B25_LOG", log}}, exe,
                                kind);
    }
    Bytes output(const std::string& name) const { return e2e::read_file(dir.file(name)); }
    std::vector<std::string> calls() const {
        const Bytes b = e2e::read_file(log);
        std::vector<std::string> lines;
        std::string line;
        for (std::uint8_t c : b) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        return lines;
    }
};

Packets recording(std::uint64_t packets) { return synth::hd({.packets = packets}); }

// The recording with the payload packets of `pids` scrambled with `key`.
Packets scrambled(Packets packets, const std::vector<uint16_t>& pids, std::uint8_t key) {
    for (auto& p : packets)
        for (uint16_t pid : pids)
            if (synth::pid_of(p) == pid && (synth::afc_of(p) & 1)) substitute::scramble(p.data(), key);
    return packets;
}

void write(const Install& in, const std::string& name, const Packets& packets) {
    e2e::write_file(in.dir.file(name), synth::to_units(packets));
}

int scrambled_count(const Bytes& file) {
    int n = 0;
    for (std::size_t i = 0; i + 188 <= file.size(); i += 188)
        if (file[i + 3] >> 6) ++n;
    return n;
}

// Applies `f` to every packet of `pid` in a written output.
Bytes edit_pid(Bytes file, uint16_t pid, bool drop, std::uint8_t key = 0) {
    Bytes out;
    for (std::size_t i = 0; i + 188 <= file.size(); i += 188) {
        std::uint8_t* p = file.data() + i;
        const bool match = ((p[1] & 0x1F) << 8 | p[2]) == pid;
        if (match && drop) continue;
        if (match && (p[3] & 0x10)) substitute::scramble(p, key);
        out.insert(out.end(), p, p + 188);
    }
    return out;
}

long decode_input_bytes(const std::vector<std::string>& calls, std::size_t from = 0) {
    long total = 0;
    for (std::size_t i = from; i < calls.size(); ++i)
        if (calls[i].rfind("decode ", 0) == 0) total += std::stol(calls[i].substr(7));
    return total;
}

TEST(DescramblingTest, ScrambledRecordingThroughTheLibraryGivesTheClearOutputs) {
    Install in(Library::Full);
    const Packets clear = recording(6000);
    write(in, "clear.ts", clear);
    write(in, "scr.ts", scrambled(clear, {kHdVideo, kHdAudio, kOneSegVideo, kOneSegAudio}, substitute::kKnownKey));
    ASSERT_EQ(in.run({"clear.ts"}).exit_code, 0);
    const Bytes hd = in.output("clear_HD.ts"), oneseg = in.output("clear_1SEG.ts");
    ASSERT_GT(hd.size(), 500'000u);
    ASSERT_GT(oneseg.size(), 0u);
    ASSERT_EQ(scrambled_count(in.output("clear.ts")), 0);

    // Unchanged, at the library's own chunk lengths, and with output held back and handed out
    // several chunks at a time (far longer than the chunk read).
    for (const char* mode : {"-B252", "-B253"}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(in.run({mode, "scr.ts"}).exit_code, 0);
        EXPECT_EQ(in.output("scr_HD.ts"), hd);
        EXPECT_EQ(in.output("scr_1SEG.ts"), oneseg);
    }
    ASSERT_EQ(in.run({"-B252", "scr.ts"}, "hold=6").exit_code, 0);
    const Bytes held = in.output("scr_HD.ts");
    // The library still holds up to five chunks when the input ends; nothing asks for them back.
    EXPECT_GT(held.size(), hd.size() - 6 * 8192);
    EXPECT_EQ(held, Bytes(hd.begin(), hd.begin() + static_cast<long>(held.size())));
}

TEST(DescramblingTest, CallSequenceFollowsTheRunAndItsPasses) {
    Install in(Library::Full);
    const Packets clear = recording(6000);
    const long size = static_cast<long>(clear.size() * 188);
    write(in, "scr.ts", scrambled(clear, {kHdVideo, kHdAudio}, substitute::kKnownKey));
    ASSERT_EQ(in.run({"-B253", "-B25EMM", "scr.ts"}).exit_code, 0);
    const std::vector<std::string> calls = in.calls();
    const std::vector<std::string> settings{"setting_5 1", "drop 1", "emm 1"};
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5),
              (std::vector<std::string>{"create", "initialize 4", "setting_5 1", "drop 1", "emm 1"}));
    // Every pass: reset, the settings again, then the chunks read, the first one included.
    std::vector<std::size_t> pass_starts;
    for (std::size_t i = 5; i < calls.size(); ++i)
        if (calls[i] == "reset") pass_starts.push_back(i);
    ASSERT_GE(pass_starts.size(), 2u);  // the look-ahead pass, then the pass that writes
    for (std::size_t start : pass_starts) {
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<long>(start) + 1,
                                           calls.begin() + static_cast<long>(start) + 4),
                  settings);
        EXPECT_EQ(calls[start + 4].rfind("decode 8192 ", 0), 0u);
    }
    EXPECT_EQ(pass_starts.front(), 5u);
    EXPECT_EQ(decode_input_bytes(calls, pass_starts.back()), size);  // the last pass reads it all
    // The final line asks for the EMM count; then the object is released, and nothing else is called.
    EXPECT_EQ(calls[calls.size() - 2], "emm_count");
    EXPECT_EQ(calls.back(), "release");
    for (const std::string& c : calls) EXPECT_TRUE(c.rfind("slot ", 0) != 0 && c != "flush") << c;
}

TEST(DescramblingTest, PrerollOffersTheStartOfEveryInputTwiceUnderB25) {
    Install in(Library::Full);
    // One input longer than the pre-roll, one shorter: the short one is read whole, its last
    // chunk short, before the passes read it again from its start.
    const Packets large = recording(6000), small = recording(2000);
    write(in, "large.ts", scrambled(large, {kHdVideo}, substitute::kKnownKey));
    write(in, "small.ts", scrambled(small, {kHdVideo}, substitute::kKnownKey));
    ASSERT_EQ(in.run({"-B25", "large.ts", "small.ts"}).exit_code, 0);
    std::vector<long> inputs;
    for (const std::string& c : in.calls())
        if (c.rfind("decode ", 0) == 0) inputs.push_back(std::stol(c.substr(7)));
        else EXPECT_NE(c, "reset");  // -B25 never resets
    ASSERT_GT(inputs.size(), 63u);
    for (int i = 0; i < 63; ++i) EXPECT_EQ(inputs[static_cast<std::size_t>(i)], 8192) << i;
    const long total = std::accumulate(inputs.begin(), inputs.end(), 0L);
    const long large_size = 6000 * 188, small_size = 2000 * 188;
    EXPECT_GE(total, 516'096 + large_size + small_size + small_size);
    // The small input's pre-roll: 45 whole chunks and the rest, 376,000 - 45 * 8192 = 7,360.
    auto it = std::find(inputs.begin() + 63, inputs.end(), 7360L);
    ASSERT_NE(it, inputs.end());
    EXPECT_EQ(std::accumulate(it - 45, it + 1, 0L), small_size);
    EXPECT_TRUE(std::all_of(it - 45, it, [](long n) { return n == 8192; }));
}

TEST(DescramblingTest, B253DropsWhatTheLibraryCannotDescrambleUnlessItLacksTheSetting) {
    Install in(Library::Full);
    const Packets clear = recording(6000);
    write(in, "clear.ts", clear);
    // Audio with the library's key, video with one it does not hold.
    write(in, "scr.ts", scrambled(scrambled(clear, {kHdAudio}, substitute::kKnownKey), {kHdVideo},
                                  substitute::kUnknownKey));
    ASSERT_EQ(in.run({"clear.ts"}).exit_code, 0);
    const Bytes hd = in.output("clear_HD.ts");
    const Bytes kept = edit_pid(hd, kHdVideo, false, substitute::kUnknownKey);
    ASSERT_GT(scrambled_count(kept), 100);

    ASSERT_EQ(in.run({"-B252", "scr.ts"}).exit_code, 0);
    EXPECT_EQ(in.output("scr_HD.ts"), kept);
    ASSERT_EQ(in.run({"-B253", "scr.ts"}).exit_code, 0);
    EXPECT_EQ(in.output("scr_HD.ts"), edit_pid(hd, kHdVideo, true));
    // A library without the extended interface never hears of dropping: -B253 acts as -B252.
    ASSERT_EQ(in.run({"-B253", "-B25EMM", "scr.ts"}, "basic").exit_code, 0);
    EXPECT_EQ(in.output("scr_HD.ts"), kept);
    const std::vector<std::string> calls = in.calls();
    const auto last_run = std::find(calls.rbegin(), calls.rend(), "create").base();
    for (auto c = last_run; c != calls.end(); ++c)
        EXPECT_TRUE(*c == "initialize 4" || *c == "reset" || c->rfind("decode ", 0) == 0 || *c == "release") << *c;
}

TEST(DescramblingTest, LibraryThatCannotBeBoundEndsTheRunBeforeAnyInput) {
    const Packets clear = recording(2000);
    struct Case {
        Library library;
        const char* behaviour;
        const std::string& message;
    } cases[] = {{Library::None, "", kLoadFailed},
                 {Library::NoFactory, "", kInitFailed},
                 {Library::Full, "null_factory", kInitFailed},
                 {Library::Full, "init_fail", kInitFailed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Install in(c.library);
        write(in, "rec.ts", clear);
        for (const char* mode : {"-B25", "-B252", "-B253"}) {
            const e2e::RunResult r = in.run({mode, "rec.ts"}, c.behaviour);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.err, c.message);
            EXPECT_EQ(r.out, "");  // not even the mode summary
            EXPECT_FALSE(e2e::file_exists(in.dir.file("rec_HD.ts")));
        }
    }
}

// An installed program, <prefix>/bin/Quillodine, also looks in <prefix>/lib/quillodine/; a library
// beside the program comes first, even one that cannot be bound.
TEST(DescramblingTest, InstalledProgramFindsTheLibraryInLibQuillodine) {
    e2e::TempDir prefix;
    for (const char* folder : {"bin", "lib", "lib/quillodine"}) mkdir(prefix.file(folder).c_str(), 0755);
    const std::string exe = prefix.file("bin/Quillodine");
    e2e::write_file(exe, e2e::read_file(e2e::quillodine_binary()));
    chmod(exe.c_str(), 0755);
    const std::string installed = prefix.file("lib/quillodine/B25Decoder.so");
    const std::string beside = prefix.file("bin/B25Decoder.so");
    e2e::write_file(installed, e2e::read_file(SUBSTITUTE_B25_LIBRARY));
    const Packets clear = recording(6000);
    e2e::write_file(prefix.file("clear.ts"), synth::to_units(clear));
    e2e::write_file(prefix.file("scr.ts"), synth::to_units(scrambled(clear, {kHdVideo, kHdAudio}, substitute::kKnownKey)));
    auto run = [&](const std::vector<std::string>& args) { return e2e::run_program(args, prefix.path, {}, exe); };

    ASSERT_EQ(run({"clear.ts"}).exit_code, 0);
    const e2e::RunResult r = run({"-B252", "scr.ts"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::read_file(prefix.file("scr_HD.ts")), e2e::read_file(prefix.file("clear_HD.ts")));

    e2e::write_file(beside, e2e::read_file(SUBSTITUTE_B25_NO_FACTORY_LIBRARY));
    EXPECT_EQ(run({"-B252", "scr.ts"}).err, kInitFailed);
    std::remove(beside.c_str());
    std::remove(installed.c_str());
    EXPECT_EQ(run({"-B252", "scr.ts"}).err, kLoadFailed);
}

TEST(DescramblingTest, NullOnlyAndEmmAloneLoadNothing) {
    Install in(Library::None);
    const Packets clear = recording(2000);
    write(in, "rec.ts", clear);
    e2e::RunResult r = in.run({"-B25", "-NULL", "rec.ts"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(e2e::file_exists(in.dir.file("rec_NULL.ts")));
    r = in.run({"-B25EMM", "rec.ts"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(e2e::file_exists(in.dir.file("rec_HD.ts")));
}

// ---------------------------------------------------------------------------
// The progress display with descrambling: EMM count and scrambled packets left in the outputs.

TEST(ProgressLineTest, RedirectedOutputGetsOnlyTheFinalLine) {
    Install in(Library::Full);
    const Packets clear = recording(6000);
    write(in, "scr.ts", scrambled(scrambled(clear, {kHdAudio}, substitute::kKnownKey), {kHdVideo},
                                  substitute::kUnknownKey));
    const e2e::RunResult r = in.run({"-B252", "scr.ts"}, "emm=3");
    ASSERT_EQ(r.exit_code, 0);
    const int left = scrambled_count(in.output("scr_HD.ts"));
    ASSERT_GT(left, 1000);
    EXPECT_EQ(r.out, kSummary + "scr.ts\n" + "\r  ( 1 MB/ 1 MB) 100%EMM:3 H:" + std::to_string(left / 1000) + "K\n");

    // Without the extended interface there is no EMM piece.
    const e2e::RunResult basic = in.run({"-B252", "scr.ts"}, "basic,emm=3");
    EXPECT_EQ(basic.out, kSummary + "scr.ts\n" + "\r  ( 1 MB/ 1 MB) 100% H:" + std::to_string(left / 1000) + "K\n");
}

// Reads `digits` at `at`; false when there are none.
bool skip_digits(const std::string& s, std::size_t& at) {
    const std::size_t start = at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
    return at > start;
}

// "\r  ( <n> MB/ 1 MB) <n>%EMM:2[ H:<n>[K]]" and then the blank of a progress line or the line end of
// the final line; `final_line` also wants 1 MB read, 100 % and the H piece.
bool is_progress_line(const std::string& s, bool final_line) {
    std::size_t at = 0;
    auto take = [&](const std::string& text) {
        if (s.compare(at, text.size(), text) != 0) return false;
        at += text.size();
        return true;
    };
    if (!take("\r  ( ")) return false;
    if (final_line ? !take("1") : !skip_digits(s, at)) return false;
    if (!take(" MB/ 1 MB) ")) return false;
    if (final_line ? !take("100") : !skip_digits(s, at)) return false;
    if (!take("%EMM:2")) return false;
    if (take(" H:")) {
        if (!skip_digits(s, at)) return false;
        take("K");
    } else if (final_line) {
        return false;
    }
    return take(final_line ? "\n" : " ") && at == s.size();
}

TEST(ProgressLineTest, PipeGetsALineEverySecondThenTheFinalLine) {
    Install in(Library::Full);
    const Packets clear = recording(6000);
    write(in, "scr.ts", scrambled(clear, {kHdVideo}, substitute::kUnknownKey));
    // 20 ms after each of about 140 reads: the run spans at least two calendar seconds.
    const e2e::RunResult r = in.run({"-WAIT,20", "-B252", "scr.ts"}, "emm=2", e2e::StdoutKind::Pipe);
    ASSERT_EQ(r.exit_code, 0);
    const std::string head = kSummary + "scr.ts\n";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const std::string rest = r.out.substr(head.size());
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < rest.size();) {
        std::size_t next = rest.find('\r', at + 1);
        if (next == std::string::npos) next = rest.size();
        lines.push_back(rest.substr(at, next - at));
        at = next;
    }
    ASSERT_GE(lines.size(), 2u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_TRUE(is_progress_line(lines[i], false)) << lines[i];
    EXPECT_TRUE(is_progress_line(lines.back(), true)) << lines.back();
}

}  // namespace
