// The front end's INI reader: any file content, read through the calls the front end makes (the
// settings section, the profile list, single keys with small buffers), then one key written back.
// The file is read whole on every call, so a malformed file must neither crash nor loop.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "ini_file.h"
#include "profiles.h"
#include "settings.h"

using namespace quill::gui;

namespace {

const std::string& ini_path() {
    static const std::string path = [] {
        char templ[] = "/tmp/quill-fuzz-ini-XXXXXX";
        int fd = mkstemp(templ);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(templ);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(32);
    const std::string key = in.ConsumeRandomLengthString(32);
    const int buffer = in.ConsumeIntegralInRange<int>(-1, 300);
    const bool write_back = in.ConsumeBool();
    const std::string content = in.ConsumeRemainingBytesAsString();
    {
        std::FILE* f = std::fopen(ini_path().c_str(), "wb");
        if (!f) std::abort();
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    IniFile ini(ini_path());
    const std::string value = ini.get_string(section, key, "default", buffer);
    if (buffer >= 1 && value.size() > static_cast<std::size_t>(buffer - 1)) std::abort();
    ini.get_int(section, key, -7);
    Settings loaded = load_settings(ini, section);
    ProfileList profiles = fill_profile_list(ini);
    if (write_back) {
        ini.write_string(section, key, value);
        load_settings(ini, section);
    }
    (void)loaded;
    (void)profiles;
    return 0;
}
