#include "argument_line.h"

#include <cstdarg>
#include <cstdio>

#include "path_text.h"
#include "texts.h"

namespace quill::gui {
namespace {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

std::string_view option_text(const std::string& s) {
    return std::string_view(s).substr(0, kOptionTextMax);
}

// Only 0x20 counts as a blank.
std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

const char* pick(int state, std::initializer_list<const char*> members) {
    if (state < 1 || static_cast<size_t>(state) > members.size()) return "";
    return members.begin()[state - 1];
}

struct Amount {
    double value;
    int decimals;
    const char* unit;
};

Amount amount_of(std::uint64_t free) {
    Amount a{static_cast<double>(free), 0, text::kUnitBytes};
    if (free > 1073741824ull) {
        a = {static_cast<double>(free) / 1073741824.0, 0, text::kUnitGB};
    } else if (free > 1048576ull) {
        a = {static_cast<double>(free) / 1048576.0, 0, text::kUnitMB};
    } else if (free > 1024ull) {
        a = {static_cast<double>(free) / 1024.0, 0, text::kUnitKB};
    } else {
        return a;  // a byte count has no decimals
    }
    a.decimals = a.value >= 100.0 ? 0 : a.value >= 10.0 ? 1 : 2;
    return a;
}

}  // namespace

int count_quoted_names(std::string_view text) {
    const size_t first = text.find('"');
    if (first == std::string_view::npos) return 0;
    const size_t len = text.size();
    size_t i = first + 1;
    int count = 0;
    while (i < len) {
        while (i < len && text[i] != '"') ++i;
        ++count;
        ++i;
        while (i < len && text[i] != '"') ++i;
        ++i;
    }
    return count;
}

std::string drive_part(std::string_view path) {
    const bool letter = !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') ||
                                          (path[0] >= 'a' && path[0] <= 'z'));
    if (letter && path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
    return {};
}

std::string free_space_label(std::string_view path, const FreeSpaceQuery& free_space) {
    std::optional<std::uint64_t> free = free_space ? free_space(drive_part(path)) : std::nullopt;
    if (!free) return {};
    const Amount a = amount_of(*free);
    return format(text::kFreeSpaceLabel, a.decimals, a.value, a.unit);
}

std::string free_space_status(std::string_view path, const FreeSpaceQuery& free_space) {
    const std::string drive = drive_part(path);
    std::optional<std::uint64_t> free = free_space ? free_space(drive) : std::nullopt;
    if (!free) return std::string(path);
    const Amount a = amount_of(*free);
    return format(text::kFreeSpaceBrowser, drive.c_str(), a.decimals, a.value, a.unit);
}

std::string child_command_line(std::string_view console_path, std::string_view arguments) {
    std::string line = "\"";
    line += console_path;
    line += "\" ";
    line += arguments;
    return line;
}

ArgumentLine build_argument_line(const Settings& p, std::string_view input_field, int file_count,
                                 const FreeSpaceQuery& free_space) {
    ArgumentLine r;
    r.file_count = file_count;
    DependentControls& en = r.enabled;
    std::string& line = r.line;

    if (p.eit) line += "-EIT ";
    if (p.ecm) line += "-ECM ";
    if (p.emm) line += "-EMM ";
    if (!p.hd) line += "-HD ";

    // The SD switches name what to keep; the console options name what to drop.
    en.sd_members = !p.sd;
    if (!p.sd) {
        if (!p.sd1 && !p.sd2 && !p.sd3) {
            line += "-SD ";
        } else {
            if (!p.sd1) line += "-SD1 ";
            if (!p.sd2) line += "-SD2 ";
            if (!p.sd3) line += "-SD3 ";
        }
    }
    if (!p.one_seg) line += "-1SEG ";

    en.cs_text = p.cs;
    if (p.cs) {
        line += "-CS";
        line += option_text(p.cs_service_no);
        line += ' ';
    }
    en.pid_text = p.pid;
    if (p.pid) {
        line += "-PID";
        line += option_text(p.pid_no);
        line += ' ';
    }
    if (p.null_only) line += "-NULL ";

    // A backslash before the closing quote would escape it on the child's command line.
    en.out_path = p.out;
    if (p.out) {
        const std::string_view folder = without_trailing_backslashes(option_text(p.out_path));
        if (!folder.empty()) {
            line += "-OUT \"";
            line += folder;
            line += "\" ";
            r.free_space_label = free_space_label(folder, free_space);
        }
    }

    en.buff_size = p.buff;
    if (p.buff && !p.buff_size.empty()) {
        line += "-BUFF ";
        line += option_text(p.buff_size);
        line += ' ';
    }

    line += pick(p.sep, {"-SEP ", "-SEP2 ", "-SEP3 "});
    // Overlaps only make sense with a split.
    en.ovl = p.sep != kNone;
    en.ovl_text = en.ovl && p.ovl;
    if (en.ovl && p.ovl && !p.ovl_set.empty()) {
        line += "-OVL";
        line += option_text(p.ovl_set);
        line += ' ';
    }

    if (p.sepa_cut) {
        line += pick(p.sepa, {"-SEPAC ", "-SEPA2C ", "-SEPA3C "});
    } else {
        line += pick(p.sepa, {"-SEPA ", "-SEPA2 ", "-SEPA3 "});
    }
    en.sepa_cut = p.sepa != kNone;

    line += pick(p.gop, {"-GOP ", "-GOPONLY "});
    line += pick(p.gopch, {"-GOPCH ", "-GOPONLYCH "});
    line += pick(p.goptime, {"-GOPTIME ", "-GOPONLYTIME "});
    if (p.pts) line += "-PTS ";

    line += pick(p.b25, {"-B25 ", "-B252 ", "-B253 "});
    en.b25_emm = p.b25 != kNone;
    if (en.b25_emm && p.b25_emm) line += "-B25EMM ";

    line += pick(p.log, {"-LOG ", "-LOGFILE "});

    en.uni = p.flen;
    if (p.flen) {
        line += "-FLEN ";
        if (p.uni) line += "-UNI ";
    }

    en.wait_text = p.wait == 1;
    en.wait2_text = p.wait == 2;
    if (p.wait == 1 || p.wait == 2) {
        const std::string& msec = p.wait == 1 ? p.wait_msec : p.wait2_msec;
        line += p.wait == 1 ? "-WAIT" : "-WAIT2";
        if (!msec.empty()) {
            line += ',';
            line += option_text(msec);
        }
        line += ' ';
    }

    // A field of blanks names no file: it is treated like an empty one rather than passed on as
    // an empty quoted name.
    const std::string_view input = trim_blanks(input_field.substr(0, kInputFieldMax));
    if (input.empty()) {
        r.convert_enabled = false;
        return r;
    }
    if (input.starts_with("-FLIST")) {
        line += input;
    } else if (input.front() == '"') {
        line += input;
        r.file_count = count_quoted_names(input);
    } else {
        line += '"';
        line += input;
        line += '"';
        r.file_count = 1;
    }
    r.convert_enabled = true;
    return r;
}

}  // namespace quill::gui
