#include "debug_channel.h"

#include <cstdio>

#include "console.h"

namespace quill {

bool debug_channel_watched() { return false; }

void debug_channel_write(const char* utf8) { console_write(stderr, utf8); }

}  // namespace quill
