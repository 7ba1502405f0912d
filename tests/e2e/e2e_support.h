// Running the real Quillodine binary in a temporary folder and reading what it wrote.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "synth.h"

namespace e2e {

using Bytes = std::vector<std::uint8_t>;

struct RunResult {
    int exit_code = -1;  // -1 when the program did not exit normally (a crash)
    std::string out;     // standard output, as bytes
    std::string err;     // standard error, as bytes
};

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

enum class StdoutKind {
    File,  // standard output is a disk file: the program prints no progress lines
    Pipe,  // standard output is a pipe, as under the front end: progress lines included
};

// Runs `binary` (default: the Quillodine built with the tests) with `args` in `cwd`, with
// standard input closed; extra environment variables are added to the current ones.
RunResult run_program(const std::vector<std::string>& args, const std::string& cwd,
                      const std::map<std::string, std::string>& env = {}, const std::string& binary = "",
                      StdoutKind stdout_kind = StdoutKind::File);
// Quillodine with standard output in a file, so that its console lines compare byte for byte.
RunResult run_quillodine(const std::vector<std::string>& args, const std::string& cwd);

Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
void write_text(const std::string& path, const std::string& text);
std::vector<std::string> list_dir(const std::string& dir);  // names, sorted

// The 188-byte packets of a plain packet file, and the reverse: packets laid end to end.
std::vector<Bytes> split_packets(const Bytes& file);
Bytes concat(const std::vector<synth::Packet>& packets);

std::string quillodine_binary();

}  // namespace e2e
