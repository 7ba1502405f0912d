// The console program's command-line parser.
#pragma once
#include <string>
#include <vector>

#include "state/options.h"

namespace quill {

// Every option the parser knows, as the manual page (doc/Quillodine.1) lists it; a test holds the
// page to this table. The parser ignores arguments starting with '-' that match no entry.
enum class OptionForm {
    Flag,       // the name alone (letter case ignored)
    NextValue,  // the name, its value in the next argument
    Glued,      // matched by its start, the value glued on (-PID1F,20; -WAIT,20)
};
struct OptionName {
    const char* name;
    OptionForm form;
};
inline constexpr OptionName kOptionNames[] = {
    {"-EIT", OptionForm::Flag},        {"-ECM", OptionForm::Flag},         {"-EMM", OptionForm::Flag},
    {"-OUT", OptionForm::NextValue},   {"-BUFF", OptionForm::NextValue},   {"-FLIST", OptionForm::NextValue},
    {"-HD", OptionForm::Flag},         {"-SD", OptionForm::Flag},          {"-SD1", OptionForm::Flag},
    {"-SD2", OptionForm::Flag},        {"-SD3", OptionForm::Flag},         {"-SD4", OptionForm::Flag},
    {"-SD5", OptionForm::Flag},        {"-SD6", OptionForm::Flag},         {"-SD7", OptionForm::Flag},
    {"-1SEG", OptionForm::Flag},       {"-NULL", OptionForm::Flag},        {"-SEP", OptionForm::Flag},
    {"-SEP2", OptionForm::Flag},       {"-SEP3", OptionForm::Flag},        {"-SEPA", OptionForm::Flag},
    {"-SEPA2", OptionForm::Flag},      {"-SEPA3", OptionForm::Flag},       {"-SEPAC", OptionForm::Flag},
    {"-SEPA2C", OptionForm::Flag},     {"-SEPA3C", OptionForm::Flag},      {"-PTS", OptionForm::Flag},
    {"-LOG", OptionForm::Flag},        {"-LOGFILE", OptionForm::Flag},     {"-B25", OptionForm::Flag},
    {"-B252", OptionForm::Flag},       {"-B253", OptionForm::Flag},        {"-B25EMM", OptionForm::Flag},
    {"-FLEN", OptionForm::Flag},       {"-UNI", OptionForm::Flag},         {"-GOP", OptionForm::Flag},
    {"-GOPONLY", OptionForm::Flag},    {"-GOPCH", OptionForm::Flag},       {"-GOPONLYCH", OptionForm::Flag},
    {"-GOPTIME", OptionForm::Flag},    {"-GOPONLYTIME", OptionForm::Flag}, {"-WAIT", OptionForm::Glued},
    {"-WAIT2", OptionForm::Glued},     {"-OVL", OptionForm::Glued},        {"-PID", OptionForm::Glued},
    {"-CS", OptionForm::Glued},
};

// Whether `argument` names an option of kOptionNames.
bool is_known_option(const char* argument);

struct InputEntry {
    std::string path;
    bool too_long = false;  // longer than kMaxPathBytes: reported as an input that cannot be opened
    bool standard_input = false;  // a lone "-" on the command line (in a list file, "-" is a file)
};

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
