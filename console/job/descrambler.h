// The outside descrambler library (B25Decoder.so / B25Decoder.dll beside the executable, or in
// <prefix>/lib/quillodine/ of an installed program): binding at start-up, the -B25 pre-roll, the
// reset at every pass start under -B252/-B253, the descrambling of every chunk read, the EMM count,
// and the release at exit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class IB25Decoder;
class IB25Decoder2;

namespace quill {

struct LoadedLibrary;
struct Options;
struct Source;

// Bytes offered to the library before the first pass of every input under -B25, counted in whole
// chunks: 63 reads of 8192 bytes (516,096 bytes) reach it.
constexpr int kPrerollBytes = 512000;

// One per run; empty unless -B25, -B252 or -B253 bound a library.
struct Descrambler {
    LoadedLibrary* library = nullptr;
    IB25Decoder* decoder = nullptr;
    IB25Decoder2* decoder2 = nullptr;  // the same object when it offers the extended interface
    int drop_undescramblable = 0;      // -B253
    int process_emm = 0;               // -B25EMM

    Descrambler() = default;
    Descrambler(const Descrambler&) = delete;
    Descrambler& operator=(const Descrambler&) = delete;
    ~Descrambler();
};

enum class BindResult { Bound, LoadFailed, InitFailed };

// Where the library is looked for: "B25Decoder" with the system's library extension in the
// executable's folder, else (POSIX) in the installed program's <prefix>/lib/quillodine/. When neither
// holds it, the path in the executable's folder.
std::string descrambler_library_path();

// Loads the library at `library_path`, creates and initialises the decoder and applies the settings
// of `options` (descramble_mode, descramble_emm). Writes nothing.
BindResult bind_descrambler(Descrambler& d, const std::string& library_path, const Options& options);
// The start-up step: binds the library beside the executable and writes the message of a failure to
// standard error. False means the program ends with exit code 1.
bool bind_descrambler_for_run(Descrambler& d, const Options& options);

// -B25: the start of the open source is offered to the library once before the real pass; the output
// is not used. `buffer` must hold a chunk. The caller rewinds the source afterwards.
void descrambler_preroll(Descrambler& d, Source& source, std::uint8_t* buffer);
// -B252/-B253: the library forgets its state; the settings are given again.
void descrambler_reset(Descrambler& d);

// Descrambles `length` bytes at `bytes` in place and returns the new length, which may be shorter or
// longer than `length`. `room` is the space from `bytes` to the end of the read buffer: output that
// would not fit is refused (the chunk stays as read). A chunk the library rejects stays as read.
int decode_chunk(Descrambler& d, std::uint8_t* bytes, int length, std::size_t room);

// EMM messages the library reports as processed; 0 without the extended interface.
int descrambler_emm_count(const Descrambler& d);

// Releases the decoder and unloads the library; an empty record is left. Safe to call twice.
void release_descrambler(Descrambler& d);

}  // namespace quill
