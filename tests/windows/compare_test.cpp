// The native and the Windows console program, run on the same synthesized recordings with the
// same options, must write the same files byte for byte and the same console text (the Windows
// program's code page 932 text is read back as UTF-8 by the Wine runner).
//
//   scenario            unit  options                               what it reaches
//   hd                  188   (none)                                HD + one-segment slots, naming
//   hd                  188   -EIT -ECM -EMM -1SEG                  kept tables
//   sd3                 192   -EIT -SD2                             SD slots, 192-byte units
//   cs                  188   -CS                                   CS services and their names
//   hd → sd3            204   -SEP2 -GOP -LOGFILE -PTS              splits, GOP lists, logs, time stamps
//   hd (null-heavy)     188   -NULL -BUFF 0                         unbuffered writes
//   hd, Japanese name   188   -OUT <folder> -FLIST <list>           code page 932 names, list file, folders
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <iconv.h>

#include "e2e_support.h"
#include "synth.h"

namespace {

struct Recording {
    Recording(std::string n, synth::Multiplex m, synth::Unit u = synth::Unit::u188,
              std::vector<synth::TimedChange> c = {})
        : name(std::move(n)), multiplex(std::move(m)), unit(u), changes(std::move(c)) {}
    std::string name;
    synth::Multiplex multiplex;
    synth::Unit unit;
    std::vector<synth::TimedChange> changes;
};

// Text files the Windows program reads are code page 932.
std::string to_cp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char* o = out.data();
    std::size_t o_left = out.size();
    iconv(cd, &in, &in_left, &o, &o_left);
    iconv_close(cd);
    out.resize(out.size() - o_left);
    return out;
}

struct Run {
    e2e::RunResult result;
    std::vector<std::string> files;
};

// Runs one build of the program in a fresh folder that holds only the recording.
Run run_in_fresh_folder(const e2e::TempDir& dir, const Recording& rec, const std::vector<std::string>& args,
                        const std::string& binary) {
    synth::Config config;
    config.seconds = 3.0;
    EXPECT_TRUE(synth::write_file(dir.file(rec.name), rec.multiplex, config, rec.unit, rec.changes));
    Run run;
    run.result = e2e::run_program(args, dir.path, {}, binary, e2e::StdoutKind::File);
    run.files = e2e::list_dir(dir.path);
    return run;
}

// Both programs on the recording; every file each of them left must be there, equal, in the other.
void expect_same_outputs(const Recording& rec, std::vector<std::string> args) {
    args.push_back(rec.name);
    e2e::TempDir native_dir, windows_dir;
    Run native = run_in_fresh_folder(native_dir, rec, args, QUILLODINE_BINARY);
    Run windows = run_in_fresh_folder(windows_dir, rec, args, QUILL_WINE_RUNNER);
    std::string what;
    for (const auto& a : args) what += a + " ";
    EXPECT_EQ(native.result.exit_code, 0) << what;
    EXPECT_EQ(windows.result.exit_code, native.result.exit_code) << what;
    EXPECT_EQ(windows.result.out, native.result.out) << what;
    EXPECT_EQ(windows.result.err, native.result.err) << what;
    ASSERT_EQ(windows.files, native.files) << what;
    EXPECT_GT(native.files.size(), 1u) << what << ": nothing was written";
    for (const std::string& f : native.files) {
        const e2e::Bytes a = e2e::read_file(native_dir.file(f));
        const e2e::Bytes b = e2e::read_file(windows_dir.file(f));
        EXPECT_EQ(a.size(), b.size()) << what << f;
        EXPECT_TRUE(a == b) << what << f << " differs";
    }
}

TEST(LinuxWindowsOutputs, ServicesAndKeptTables) {
    expect_same_outputs({"rec.ts", synth::hd_multiplex()}, {});
    expect_same_outputs({"rec.ts", synth::hd_multiplex()}, {"-EIT", "-ECM", "-EMM", "-1SEG"});
    expect_same_outputs({"sd.ts", synth::sd3_multiplex(), synth::Unit::u192}, {"-EIT", "-SD2"});
    expect_same_outputs({"cs.ts", synth::cs_multiplex()}, {"-CS"});
}

TEST(LinuxWindowsOutputs, SplitsListsLogsAndTimeStamps) {
    const synth::Multiplex hd = synth::hd_multiplex();
    synth::Config config;
    config.seconds = 3.0;
    const uint64_t half = synth::packet_count(hd, config) / 2;
    expect_same_outputs({"rec.ts", hd, synth::Unit::u204, synth::hd_to_sd_changes(half)},
                        {"-SEP2", "-GOP", "-LOGFILE", "-PTS"});
    expect_same_outputs({"rec.ts", hd}, {"-NULL", "-BUFF", "0"});
}

TEST(LinuxWindowsOutputs, JapaneseNamesListFileAndOutputFolder) {
    // The list file names the recording by its full path in a folder with a Japanese name; the
    // outputs go to another folder given without its separator.
    const std::string name = "録画 ニュース.ts";
    e2e::TempDir native_dir, windows_dir;
    auto run = [&](const e2e::TempDir& dir, const std::string& binary, bool windows) {
        std::filesystem::create_directories(dir.file("番組表"));
        std::filesystem::create_directories(dir.file("出力"));
        synth::Config config;
        config.seconds = 2.0;
        EXPECT_TRUE(synth::write_file(dir.file("番組表/" + name), synth::hd_multiplex(), config));
        const std::string list = "\"番組表/" + name + "\"\r\n";
        e2e::write_text(dir.file("list.lst"), windows ? to_cp932(list) : list);
        return e2e::run_program({"-OUT", "出力", "-FLIST", "list.lst"}, dir.path, {}, binary, e2e::StdoutKind::File);
    };
    e2e::RunResult native = run(native_dir, QUILLODINE_BINARY, false);
    e2e::RunResult windows = run(windows_dir, QUILL_WINE_RUNNER, true);
    EXPECT_EQ(native.exit_code, 0);
    EXPECT_EQ(windows.exit_code, native.exit_code);
    EXPECT_EQ(windows.out, native.out);
    const std::vector<std::string> files = e2e::list_dir(native_dir.file("出力"));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(e2e::list_dir(windows_dir.file("出力")), files);
    for (const std::string& f : files)
        EXPECT_TRUE(e2e::read_file(native_dir.file("出力/" + f)) == e2e::read_file(windows_dir.file("出力/" + f))) << f;
}

}  // namespace
