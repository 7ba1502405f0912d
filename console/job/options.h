// The console program's command-line parser.
#pragma once
#include <string>
#include <vector>

#include "state/options.h"

namespace quill {

enum class ParseStatus {
    Ok,
    Usage,               // no arguments, a value option without its value, or no inputs
    NegativeOverlap,     // first -OVL field below zero
};

struct ParseResult {
    ParseStatus status = ParseStatus::Ok;
    std::vector<InputEntry> inputs;
    std::vector<std::string> list_files;  // the -FLIST files read, which outputs must never replace
};

// Walks the arguments (argv[0] is the program name) in order; later options overwrite earlier ones.
ParseResult parse_command_line(int argc, const char* const* argv, Options& options);

// The conversions of the command line, as the C library does them.
int parse_decimal(const char* text);  // like atoi: sign, digits, stops at the first other character
unsigned long parse_hex(const char* text, const char** end);  // like strtoul base 16

}  // namespace quill
