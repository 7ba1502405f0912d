// The GOP-list trimming reader: the input is a packet count (first 8 bytes, little-endian) and
// the text of a list as it may stand on disk after a crash or a hand edit. The list is put in
// an anonymous file, trimmed to the count, and the result must be a prefix of the text that
// ends at a line start (or the whole text), with the file position at the new end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_io.h"
#include "segment/programme_split.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t raw = 0;
    for (int i = 7; i >= 0; --i) raw = raw << 8 | data[i];
    const long long count = static_cast<long long>(raw);
    const std::uint8_t* text = data + 8;
    const std::size_t length = size - 8;

    const int fd = memfd_create("gop-list", 0);
    if (fd < 0) return 0;
    if (length > 0 && write(fd, text, length) != static_cast<ssize_t>(length)) {
        close(fd);
        return 0;
    }
    trim_gop_list(fd, count);

    const long long kept = file_seek(fd, 0, 1);
    if (kept != file_seek(fd, 0, 2) || kept < 0 || static_cast<std::size_t>(kept) > length) std::abort();
    std::vector<std::uint8_t> now(static_cast<std::size_t>(kept));
    file_seek(fd, 0, 0);
    if (kept > 0 && file_read(fd, now.data(), now.size()) != kept) std::abort();
    close(fd);
    if (kept > 0 && std::memcmp(now.data(), text, now.size()) != 0) std::abort();
    // A cut list ends where a line ends, and keeps the title and the empty line behind it.
    if (static_cast<std::size_t>(kept) < length) {
        if (kept == 0 || text[kept - 1] != '\n') std::abort();
        int lines = 0;
        for (long long i = 0; i < kept; ++i) lines += text[i] == '\n';
        if (lines < 2) std::abort();
    }
    return 0;
}
