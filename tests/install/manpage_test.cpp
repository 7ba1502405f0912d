// The manual page against the program: every option of the parser's table has an entry under
// OPTIONS, every entry there names an option of the table, and the title carries the version.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "job/options.h"

namespace {

std::vector<std::string> page_lines() {
    std::ifstream in(QUILL_MANUAL_PAGE);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The option a tag line starts with: the macro, quotes and font changes skipped, "\-" read as '-'.
// "\-PID\fIp1\fR", ".BI \-OUT \" folder\"" and ".BR \-WAIT [, ..." give -PID, -OUT and -WAIT.
std::string option_of_tag(const std::string& line) {
    std::size_t i = 0;
    if (line.compare(0, 1, ".") == 0) i = line.find(' ') == std::string::npos ? line.size() : line.find(' ');
    while (i < line.size() && (line[i] == ' ' || line[i] == '"')) ++i;
    while (line.compare(i, 2, "\\f") == 0) i += 3;
    std::string name;
    while (i < line.size()) {
        if (line.compare(i, 2, "\\-") == 0) {
            name += '-';
            i += 2;
        } else if (std::isalnum(static_cast<unsigned char>(line[i]))) {
            name += line[i++];
        } else {
            break;
        }
    }
    return name.compare(0, 1, "-") == 0 ? name : std::string();
}

// The tags of the entries (the line after each .TP and .TQ) in the OPTIONS section.
std::set<std::string> documented_options(const std::vector<std::string>& lines) {
    std::set<std::string> options;
    bool in_options = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, 4, ".SH ") == 0) in_options = lines[i] == ".SH OPTIONS";
        else if (in_options && (lines[i] == ".TP" || lines[i] == ".TQ") && i + 1 < lines.size()) {
            const std::string name = option_of_tag(lines[i + 1]);
            if (!name.empty()) options.insert(name);
        }
    }
    return options;
}

TEST(ManualPageTest, EveryOptionHasAnEntryAndEveryEntryIsAnOption) {
    const std::set<std::string> documented = documented_options(page_lines());
    std::set<std::string> table;
    for (const quill::OptionName& option : quill::kOptionNames) {
        table.insert(option.name);
        EXPECT_EQ(documented.count(option.name), 1u)
            << option.name << " has no entry under OPTIONS in " << QUILL_MANUAL_PAGE;
    }
    for (const std::string& name : documented)
        EXPECT_EQ(table.count(name), 1u) << name << " is documented but the program has no such option";
}

TEST(ManualPageTest, TitleCarriesTheProjectVersion) {
    const std::string version = "\"Quillodine " QUILL_VERSION "\"";
    bool found = false;
    for (const std::string& line : page_lines())
        if (line.compare(0, 4, ".TH ") == 0) found = line.find(version) != std::string::npos;
    EXPECT_TRUE(found) << "the .TH line of " << QUILL_MANUAL_PAGE << " should name " << version;
}

}  // namespace
