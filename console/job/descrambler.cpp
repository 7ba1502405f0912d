#include "job/descrambler.h"

#include <climits>
#include <cstring>

#include "job/job_context.h"
#include "job/options.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/system.h"
#include "state/messages.h"

// The library's interfaces. The program reaches their operations by position in the object's table
// of virtual operations only, so the declarations below must keep the order of the slots (noted on
// each line); the names are ours. Neither interface has a virtual destructor: the object releases
// itself through slot 1, and nothing here may delete it.
class IB25Decoder {
public:
    virtual int initialize(int argument) = 0;                                  // slot 0
    virtual void release() = 0;                                                // slot 1
    virtual int decode(const std::uint8_t* bytes, std::uint32_t length,        // slot 2
                       std::uint8_t** output, std::uint32_t* output_length) = 0;
    virtual int slot_3_never_called(std::uint8_t** output, std::uint32_t* output_length) = 0;  // slot 3
    virtual int reset() = 0;                                                   // slot 4

protected:
    ~IB25Decoder() = default;
};

class IB25Decoder2 : public IB25Decoder {
public:
    virtual void setting_5(int flag) = 0;                    // slot 5, always given 1
    virtual void set_drop_undescramblable(int flag) = 0;     // slot 6
    virtual void set_emm_processing(int flag) = 0;           // slot 7
    virtual void slot_8() = 0;                               // slots 8 to 18 are never called
    virtual void slot_9() = 0;
    virtual void slot_10() = 0;
    virtual void slot_11() = 0;
    virtual void slot_12() = 0;
    virtual void slot_13() = 0;
    virtual void slot_14() = 0;
    virtual void slot_15() = 0;
    virtual void slot_16() = 0;
    virtual void slot_17() = 0;
    virtual void slot_18() = 0;
    virtual int emm_count() = 0;                             // slot 19

protected:
    ~IB25Decoder2() = default;
};

namespace quill {

namespace {

using Factory = IB25Decoder* (*)();

constexpr const char* kFactoryName = "CreateB25Decoder";
constexpr int kInitialiseArgument = 4;

void apply_settings(Descrambler& d) {
    if (!d.decoder2) return;
    d.decoder2->setting_5(1);
    d.decoder2->set_drop_undescramblable(d.drop_undescramblable);
    d.decoder2->set_emm_processing(d.process_emm);
}

}  // namespace

Descrambler::~Descrambler() { release_descrambler(*this); }

std::string descrambler_library_path() {
    const std::string exe = executable_path();
    if (exe.empty()) return std::string();
    const PathParts parts = split_path(exe);
    const std::string beside = join_path(parts.drive, parts.folder, "B25Decoder", library_extension());
    const std::string installed_folder = installed_library_folder();
    if (installed_folder.empty() || parts.folder.empty() || path_identity(beside.c_str()).valid) return beside;
    // The folder above the executable's ("/usr/bin/" gives "/usr/"; the root stays the root).
    const std::string folder = parts.folder.substr(0, parts.folder.size() - 1);
    const std::size_t cut = folder.find_last_of(kPathSeparator);
    const std::string above = cut == std::string::npos ? parts.folder : folder.substr(0, cut + 1);
    const std::string installed = join_path(parts.drive, above + installed_folder, "B25Decoder", library_extension());
    // Found in neither place: the path beside the executable is the one that fails to load.
    return path_identity(installed.c_str()).valid ? installed : beside;
}

BindResult bind_descrambler(Descrambler& d, const std::string& library_path, const Options& options) {
    release_descrambler(d);
    LoadedLibrary* library = library_path.empty() ? nullptr : library_load(library_path);
    if (!library) return BindResult::LoadFailed;
    auto factory = reinterpret_cast<Factory>(library_symbol(library, kFactoryName));
    IB25Decoder* decoder = factory ? factory() : nullptr;
    if (decoder && decoder->initialize(kInitialiseArgument) == 0) {
        decoder->release();
        decoder = nullptr;
    }
    if (!decoder) {
        library_free(library);
        return BindResult::InitFailed;
    }
    d.library = library;
    d.decoder = decoder;
    // Older libraries offer only the basic interface; the run-time type check tells them apart.
    d.decoder2 = dynamic_cast<IB25Decoder2*>(decoder);
    d.drop_undescramblable = options.descramble_mode == 3 ? 1 : 0;
    d.process_emm = options.descramble_emm ? 1 : 0;
    apply_settings(d);
    return BindResult::Bound;
}

bool bind_descrambler_for_run(Descrambler& d, const Options& options) {
    switch (bind_descrambler(d, descrambler_library_path(), options)) {
        case BindResult::Bound:
            return true;
        case BindResult::LoadFailed:
            console_write(stderr, msg::kDescramblerLoadFailed);
            return false;
        case BindResult::InitFailed:
            console_write(stderr, msg::kDescramblerInitFailed);
            return false;
    }
    return false;
}

void descrambler_preroll(Descrambler& d, Source& source, std::uint8_t* buffer) {
    if (!d.decoder) return;
    // Counted per read, not per byte: a short read near the end still counts a whole chunk.
    for (int counted = 0; counted < kPrerollBytes; counted += kChunkSize) {
        const long long n = source_read(source, buffer, kChunkSize);
        if (n <= 0) break;
        std::uint8_t* output = nullptr;
        std::uint32_t output_length = 0;
        d.decoder->decode(buffer, static_cast<std::uint32_t>(n), &output, &output_length);
    }
}

void descrambler_reset(Descrambler& d) {
    if (!d.decoder) return;
    d.decoder->reset();
    apply_settings(d);
}

int decode_chunk(Descrambler& d, std::uint8_t* bytes, int length, std::size_t room) {
    if (!d.decoder || length < 0) return length;
    std::uint8_t* output = nullptr;
    std::uint32_t output_length = 0;
    if (d.decoder->decode(bytes, static_cast<std::uint32_t>(length), &output, &output_length) == 0)
        return length;  // rejected: processed as read
    if (output_length == 0) return 0;  // the library holds the bytes back for now
    if (!output) return length;
    if (output_length > room || output_length > static_cast<std::uint32_t>(INT_MAX)) {
        console_printf(stdout, msg::kDescramblerOutputTooLarge, static_cast<unsigned>(output_length));
        return length;
    }
    // The output normally lies in the library's own memory, but a library that works in place may
    // hand back the chunk itself: the copy must allow overlapping areas.
    std::memmove(bytes, output, output_length);
    return static_cast<int>(output_length);
}

int descrambler_emm_count(const Descrambler& d) { return d.decoder2 ? d.decoder2->emm_count() : 0; }

void release_descrambler(Descrambler& d) {
    if (d.decoder) d.decoder->release();
    d.decoder = nullptr;
    d.decoder2 = nullptr;
    library_free(d.library);
    d.library = nullptr;
}

}  // namespace quill
