#include "job/options.h"
#include "platform/path.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace quill {

int parse_decimal(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > 2147483648LL) value = 2147483648LL;  // saturate instead of overflowing
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int>(value);
}

unsigned long parse_hex(const char* text, const char** end) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2]))) p += 2;
    const char* digits = p;
    unsigned long value = 0;
    while (std::isxdigit(static_cast<unsigned char>(*p))) {
        int c = std::tolower(static_cast<unsigned char>(*p++));
        unsigned d = c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10);
        value = value > (~0UL >> 4) ? ~0UL : value * 16 + d;
    }
    if (p == digits) {
        if (end) *end = text;
        return 0;
    }
    if (end) *end = p;
    return negative ? 0UL - value : value;
}

namespace {

bool equals(const char* arg, const char* name) { return strcasecmp(arg, name) == 0; }
bool starts(const char* arg, const char* prefix) { return strncasecmp(arg, prefix, std::strlen(prefix)) == 0; }

void add_input(std::vector<InputEntry>& inputs, const std::string& path) {
    InputEntry e;
    e.too_long = path.size() > kMaxPathBytes;
    e.path = path;
    inputs.push_back(std::move(e));
}

// A list file names one input per line. It is only read, so a read-only list works.
void read_list_file(const char* list_path, std::vector<InputEntry>& inputs) {
    std::FILE* f = std::fopen(list_path, "rb");
    if (!f) return;
    std::string line;
    int c;
    bool any = false;
    auto finish_line = [&]() {
        std::string s = line;
        if (!s.empty() && s.front() == '"') s.erase(0, 1);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        if (!s.empty() && s.back() == '\r') s.pop_back();
        if (!s.empty() && s.back() == '"') s.pop_back();
        add_input(inputs, s);
        line.clear();
    };
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        line.push_back(static_cast<char>(c));
        if (c == '\n') finish_line();
    }
    if (any && !line.empty()) finish_line();
    std::fclose(f);
}

// -OVLxx1,xx2,x3,x4: up to four comma-separated fields; absent fields keep their values.
void parse_overlap(const char* text, Options& o) {
    const char* p = text;
    for (int field = 0; field < 4 && *p; ++field) {
        int v = parse_decimal(p);
        switch (field) {
            case 0: o.overlap_before_k = v; break;
            case 1: o.overlap_after_k = v; break;
            case 2: o.overlap_drop_prior = v == 0 ? 1 : 0; break;
            case 3: o.overlap_on_video_change = v == 1 ? 1 : 0; break;
        }
        const char* comma = std::strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
}

void parse_pid_list(const char* text, Options& o) {
    o.keep_pid_count = 0;
    const char* p = text;
    while (*p && o.keep_pid_count < kMaxOptionValues) {
        unsigned long v = parse_hex(p, nullptr);
        o.keep_pids[static_cast<std::size_t>(o.keep_pid_count)] = static_cast<unsigned>(v);
        if (v != 0) {
            int iv = static_cast<int>(v);
            if (iv < o.keep_pid_min) o.keep_pid_min = iv;
            if (iv > o.keep_pid_max) o.keep_pid_max = iv;
            ++o.keep_pid_count;
        }
        const char* comma = std::strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
    o.keep_pids_active = o.keep_pid_count >= 1 ? 1 : 0;
}

void parse_cs_list(const char* text, Options& o) {
    o.cs_service_count = 0;
    const char* p = text;
    while (*p && o.cs_service_count < kMaxOptionValues) {
        o.cs_services[static_cast<std::size_t>(o.cs_service_count++)] = parse_decimal(p);
        const char* comma = std::strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
}

void set_audio_split(Options& o, int mode, int separate) {
    o.audio_split = mode;
    o.audio_split_separate = separate;
}

void set_gop(Options& o, int only, int channel, int time, bool reset_annotations) {
    o.gop_list = 1;
    if (only) {
        o.gop_only = 1;
        o.null_only = 1;
    }
    if (reset_annotations) {
        o.gop_channel = 0;
        o.gop_annotated = 0;
        o.gop_time = 0;
        return;
    }
    if (channel) o.gop_channel = 1;
    if (time) o.gop_time = 1;
    o.gop_annotated = 1;
}

}  // namespace

bool is_known_option(const char* argument) {
    for (const OptionName& option : kOptionNames)
        if (option.form == OptionForm::Glued ? starts(argument, option.name) : equals(argument, option.name))
            return true;
    return false;
}

ParseResult parse_command_line(int argc, const char* const* argv, Options& o) {
    ParseResult result;
    if (argc < 2) {
        result.status = ParseStatus::Usage;
        return result;
    }
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        if (std::strcmp(a, "-") == 0) {
            result.inputs.push_back(InputEntry{a, false, true});
            continue;
        }
        // Only the options of the table are looked at, so that the table cannot miss one.
        if (a[0] == '-' && !is_known_option(a)) continue;
        if (equals(a, "-EIT")) o.keep_eit = 1;
        else if (equals(a, "-ECM")) o.keep_ecm = 1;
        else if (equals(a, "-EMM")) o.keep_emm = 1;
        else if (equals(a, "-BUFF")) {
            const char* v = value();
            if (!v) { result.status = ParseStatus::Usage; return result; }
            o.buffer_mb = parse_decimal(v);
        } else if (equals(a, "-OUT")) {
            const char* v = value();
            if (!v) { result.status = ParseStatus::Usage; return result; }
            std::string folder(v, std::min<std::size_t>(std::strlen(v), kMaxPathBytes));
            // The folder gets its separator unless it already ends in one (a drive alone, "D:",
            // gets one too: the front end strips trailing separators from "D:\\").
            const PathParts parts = split_path(folder);
            if (!folder.empty() && (parts.folder.empty() || !parts.base.empty() || !parts.ext.empty()))
                folder += kPathSeparator;
            o.output_folder = folder;
        } else if (equals(a, "-FLIST")) {
            const char* v = value();
            if (!v) { result.status = ParseStatus::Usage; return result; }
            read_list_file(v, result.inputs);
            result.list_files.push_back(v);
        }
        else if (equals(a, "-HD")) o.hd_enabled = 0;
        else if (equals(a, "-SD")) o.sd_enabled.fill(0);
        else if (strncasecmp(a, "-SD", 3) == 0 && a[3] >= '1' && a[3] <= '7' && a[4] == '\0')
            o.sd_enabled[static_cast<std::size_t>(a[3] - '1')] = 0;
        else if (equals(a, "-1SEG")) o.oneseg_enabled = 0;
        else if (equals(a, "-NULL")) o.null_only = 1;
        else if (equals(a, "-SEP")) { o.split_on_programme = 1; o.split_on_pmt = 0; }
        else if (equals(a, "-SEP2")) { o.split_on_programme = 1; o.split_on_pmt = 1; }
        else if (equals(a, "-SEP3")) { o.split_on_programme = 0; o.split_on_pmt = 1; }
        else if (equals(a, "-SEPAC")) set_audio_split(o, 1, 1);
        else if (equals(a, "-SEPA2C")) set_audio_split(o, 2, 1);
        else if (equals(a, "-SEPA3C")) set_audio_split(o, 3, 1);
        else if (equals(a, "-SEPA")) set_audio_split(o, 1, 0);
        else if (equals(a, "-SEPA2")) set_audio_split(o, 2, 0);
        else if (equals(a, "-SEPA3")) set_audio_split(o, 3, 0);
        else if (equals(a, "-PTS")) o.rewrite_pts = 1;
        else if (equals(a, "-LOG")) { o.collect_stats = 1; o.log_screen = 1; }
        else if (equals(a, "-LOGFILE")) { o.collect_stats = 1; o.log_screen = 1; o.log_file = 1; }
        else if (equals(a, "-B25")) o.descramble_mode = 1;
        else if (equals(a, "-B252")) o.descramble_mode = 2;
        else if (equals(a, "-B253")) o.descramble_mode = 3;
        else if (equals(a, "-B25EMM")) o.descramble_emm = 1;
        else if (equals(a, "-FLEN")) o.limit_name_length = 1;
        else if (equals(a, "-UNI")) o.count_name_as_utf16 = 1;
        else if (starts(a, "-WAIT2")) {
            o.wait_enabled = 1;
            o.wait_adaptive = 1;
            // The character after the option (normally ',') is skipped unseen.
            if (std::strlen(a) > 6) o.wait_msec = parse_decimal(a + 7);
        } else if (starts(a, "-WAIT")) {
            o.wait_enabled = 1;
            if (std::strlen(a) > 5) o.wait_msec = parse_decimal(a + 6);
        }
        else if (equals(a, "-GOP")) set_gop(o, 0, 0, 0, true);
        else if (equals(a, "-GOPONLY")) set_gop(o, 1, 0, 0, true);
        else if (equals(a, "-GOPCH")) set_gop(o, 0, 1, 0, false);
        else if (equals(a, "-GOPONLYCH")) set_gop(o, 1, 1, 0, false);
        else if (equals(a, "-GOPTIME")) set_gop(o, 0, 0, 1, false);
        else if (equals(a, "-GOPONLYTIME")) set_gop(o, 1, 0, 1, false);
        else if (starts(a, "-OVL")) { if (a[4]) parse_overlap(a + 4, o); }
        else if (starts(a, "-PID")) { if (a[4]) parse_pid_list(a + 4, o); }
        else if (starts(a, "-CS")) { o.cs_mode = 1; if (a[3]) parse_cs_list(a + 3, o); }
        else if (a[0] == '-') { /* unknown options are ignored */ }
        else add_input(result.inputs, a);
    }
    if (o.overlap_before_k < 0) result.status = ParseStatus::NegativeOverlap;
    else if (result.inputs.empty()) result.status = ParseStatus::Usage;
    return result;
}

}  // namespace quill
