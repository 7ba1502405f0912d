// Measures Quillodine against a plain user-space copy of the same input, alternating the
// commands round by round so that a noisy machine affects all of them alike. Prints the median
// wall time, MB/s, the median of the per-round ratios to `dd bs=1M`, the peak resident memory
// (from wait4) and whether each command's outputs were identical in every round.
// With --baseline, a previous build of Quillodine runs in the same rounds (defaults, -NULL,
// -EIT -ECM -EMM), so that both builds are measured under the same load.
//
//   split_bench --quillodine PATH --out DIR [--rounds N] [--ffmpeg] [--targets] [--baseline PATH] NAME=INPUT...
//   split_bench --quillodine PATH --out DIR --scaling NAME=INPUT...   (time per GB by size)
//   split_bench --quillodine PATH --out DIR --pipe NAME=INPUT...      (the input from a pipe)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
    double seconds = 0;
    long max_rss_kb = 0;
    std::uint64_t output_hash = 0;
    bool ok = false;
    // Piped runs: the largest spool seen in the output folder while the run lasted, and whether a
    // spool was still there when it had ended.
    long long spool_peak = 0;
    bool spool_left = false;
};

struct Command {
    std::string name;
    std::vector<std::string> argv;  // "{IN}" and "{OUT}" are replaced
    bool is_reference = false;      // dd bs=1M: the ratios are to it
    std::string baseline_of = {};   // a baseline build's run: the name of the new build's same run
    bool piped = false;             // the input reaches the standard input through a pipe
};

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

void clear_dir(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") unlink((dir + "/" + n).c_str());
        }
        closedir(d);
    }
}

// FNV-1a over every output file, in name order, names included.
std::uint64_t hash_dir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::uint64_t h = 1469598103934665603ull;
    std::vector<unsigned char> buf(1 << 20);
    for (const auto& n : names) {
        for (char c : n) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        int fd = open((dir + "/" + n).c_str(), O_RDONLY);
        if (fd < 0) continue;
        ssize_t got;
        while ((got = read(fd, buf.data(), buf.size())) > 0) {
            // Word-wise for speed; the tail byte by byte.
            ssize_t i = 0;
            for (; i + 8 <= got; i += 8) {
                std::uint64_t w;
                std::memcpy(&w, buf.data() + i, 8);
                h = (h ^ w) * 1099511628211ull;
            }
            for (; i < got; ++i) h = (h ^ buf[static_cast<std::size_t>(i)]) * 1099511628211ull;
        }
        close(fd);
    }
    return h;
}

// The program's spool of a piped input: a hidden file in the output folder.
bool is_spool(const std::string& name) { return name.rfind(".quillodine-", 0) == 0; }

long long spool_size(const std::string& dir) {
    long long size = -1;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            struct stat st {};
            if (is_spool(e->d_name) && stat((dir + "/" + e->d_name).c_str(), &st) == 0)
                size = std::max(size, static_cast<long long>(st.st_size));
        }
        closedir(d);
    }
    return size;
}

// Copies the input into the pipe as a recording program would, in 1 MiB writes.
void feed(const std::string& in, int pipe_fd) {
    int fd = open(in.c_str(), O_RDONLY);
    std::vector<char> buf(1 << 20);
    ssize_t got;
    while (fd >= 0 && (got = read(fd, buf.data(), buf.size())) > 0)
        for (ssize_t at = 0; at < got;) {
            const ssize_t n = write(pipe_fd, buf.data() + at, static_cast<std::size_t>(got - at));
            if (n <= 0) { got = 0; break; }
            at += n;
        }
    if (fd >= 0) close(fd);
    close(pipe_fd);
}

Sample run_once(const Command& c, const std::string& in, const std::string& out_dir) {
    clear_dir(out_dir);
    std::vector<std::string> args;
    for (const auto& a : c.argv) args.push_back(replace_all(replace_all(a, "{IN}", in), "{OUT}", out_dir));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Sample s;
    int fds[2] = {-1, -1};
    if (c.piped && pipe2(fds, O_CLOEXEC) != 0) return s;
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(c.piped ? fds[0] : devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    std::atomic<bool> ended{false};
    std::thread feeder, watcher;
    if (c.piped) {
        close(fds[0]);
        signal(SIGPIPE, SIG_IGN);
        feeder = std::thread(feed, in, fds[1]);
        watcher = std::thread([&] {
            while (!ended) {
                s.spool_peak = std::max(s.spool_peak, spool_size(out_dir));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    int status = 0;
    rusage ru {};
    wait4(pid, &status, 0, &ru);
    auto t1 = std::chrono::steady_clock::now();
    if (c.piped) {
        ended = true;
        feeder.join();
        watcher.join();
        s.spool_left = spool_size(out_dir) >= 0;
    }
    s.seconds = std::chrono::duration<double>(t1 - t0).count();
    s.max_rss_kb = ru.ru_maxrss;
    s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    s.output_hash = hash_dir(out_dir);
    clear_dir(out_dir);
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return 0;
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

long long file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

struct Figures {
    double ratio = 0;  // median of the per-round ratios to the baseline
    double rss_mib = 0;
    bool ok = false;
};

std::map<std::string, Figures> compare(const std::string& label, const std::string& in,
                                       const std::vector<Command>& commands, const std::string& out_dir, int rounds) {
    const double mb = static_cast<double>(file_size(in)) / 1e6;
    std::printf("\n== %s: %s (%.0f MB), outputs in %s, %d rounds after a warm-up\n", label.c_str(), in.c_str(), mb,
                out_dir.c_str(), rounds);
    std::map<std::string, std::vector<Sample>> samples;
    for (const auto& c : commands) run_once(c, in, out_dir);  // warm-up: page cache, first touches
    for (int r = 0; r < rounds; ++r) {
        // Alternate the order every round as well.
        std::vector<const Command*> order;
        for (const auto& c : commands) order.push_back(&c);
        if (r % 2) std::reverse(order.begin(), order.end());
        for (const Command* c : order) samples[c->name].push_back(run_once(*c, in, out_dir));
    }
    const Command* base = nullptr;
    for (const auto& c : commands)
        if (c.is_reference) base = &c;
    std::printf("%-26s %10s %10s %10s %10s %10s %s\n", "command", "median s", "MB/s", "x dd 1M", "peak MiB", "same out", "ok");
    std::map<std::string, Figures> figures;
    for (const auto& c : commands) {
        const auto& v = samples[c.name];
        std::vector<double> secs, ratios;
        long rss = 0;
        bool same = true, ok = true;
        for (std::size_t i = 0; i < v.size(); ++i) {
            secs.push_back(v[i].seconds);
            if (base) ratios.push_back(v[i].seconds / samples[base->name][i].seconds);
            rss = std::max(rss, v[i].max_rss_kb);
            same = same && v[i].output_hash == v[0].output_hash;
            ok = ok && v[i].ok;
        }
        const double m = median(secs);
        std::printf("%-26s %10.3f %10.0f %10.2f %10.1f %10s %s\n", c.name.c_str(), m, mb / m, median(ratios),
                    static_cast<double>(rss) / 1024.0, same ? "yes" : "NO", ok ? "ok" : "FAILED");
        figures[c.name] = {median(ratios), static_cast<double>(rss) / 1024.0, ok && same};
    }
    // Piped runs: the spool beside the outputs, and the outputs against those of the file run.
    bool piped_header = false;
    for (const auto& c : commands) {
        if (!c.piped) continue;
        if (!piped_header)
            std::printf("%-26s %14s %14s %12s %14s\n", "piped", "spool peak MiB", "input MiB", "spool left", "same as file");
        piped_header = true;
        const auto& v = samples[c.name];
        const auto& file_runs = samples["Quillodine"];
        long long peak = 0;
        bool left = false, same = !file_runs.empty();
        for (std::size_t i = 0; i < v.size(); ++i) {
            peak = std::max(peak, v[i].spool_peak);
            left = left || v[i].spool_left;
            same = same && i < file_runs.size() && v[i].output_hash == file_runs[i].output_hash;
        }
        std::printf("%-26s %14.1f %14.1f %12s %14s\n", c.name.c_str(), static_cast<double>(peak) / 1048576.0,
                    static_cast<double>(file_size(in)) / 1048576.0, left ? "YES" : "no (removed)", same ? "yes" : "NO");
    }
    // The new build against the baseline build, round by round.
    bool header = false;
    for (const auto& c : commands) {
        if (c.baseline_of.empty() || !samples.count(c.baseline_of)) continue;
        if (!header) std::printf("%-26s %10s %10s %10s %10s\n", "new vs baseline", "new x dd", "base x dd", "new / base", "same out");
        header = true;
        const auto& now = samples[c.baseline_of];
        const auto& before = samples[c.name];
        std::vector<double> ratios;
        bool same = true;
        for (std::size_t i = 0; i < now.size() && i < before.size(); ++i) {
            ratios.push_back(now[i].seconds / before[i].seconds);
            same = same && now[i].output_hash == before[i].output_hash;
        }
        std::printf("%-26s %10.2f %10.2f %10.2f %10s\n", c.baseline_of.c_str(), figures[c.baseline_of].ratio,
                    figures[c.name].ratio, median(ratios), same ? "yes" : "NO");
    }
    return figures;
}

void target(const char* what, double value, double limit, bool at_most) {
    const bool met = at_most ? value <= limit : value >= limit;
    std::printf("  target %-44s %7.2f %s %5.2f  %s\n", what, value, at_most ? "<=" : ">=", limit, met ? "met" : "MISSED");
}

void print_targets(const std::map<std::string, Figures>& f) {
    auto get = [&](const char* name) { auto it = f.find(name); return it == f.end() ? nullptr : &it->second; };
    if (auto q = get("Quillodine")) {
        target("defaults, x dd bs=1M", q->ratio, 1.5, true);
        target("defaults, peak resident MiB", q->rss_mib, 64, true);
        if (auto ff = get("ffmpeg -map 0 -c copy"); ff && ff->ok) target("ffmpeg time / Quillodine time", ff->ratio / q->ratio, 2, false);
    }
    if (auto n = get("Quillodine -NULL")) target("-NULL, x dd bs=1M", n->ratio, 1.3, true);
    if (auto b = get("Quillodine -BUFF 1")) target("-BUFF 1, peak resident MiB", b->rss_mib, 24, true);
}

}  // namespace

int main(int argc, char** argv) {
    std::string quillodine, out_dir, baseline;
    int rounds = 5;
    bool with_ffmpeg = false, scaling = false, targets = false, piped = false;
    std::vector<std::pair<std::string, std::string>> inputs;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quillodine" && i + 1 < argc) quillodine = argv[++i];
        else if (a == "--out" && i + 1 < argc) out_dir = argv[++i];
        else if (a == "--baseline" && i + 1 < argc) baseline = argv[++i];
        else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--ffmpeg") with_ffmpeg = true;
        else if (a == "--scaling") scaling = true;
        else if (a == "--pipe") piped = true;
        else if (a == "--targets") targets = true;  // print the targets (they are set for tmpfs outputs)
        else if (a.find('=') != std::string::npos) inputs.emplace_back(a.substr(0, a.find('=')), a.substr(a.find('=') + 1));
    }
    if (quillodine.empty() || out_dir.empty() || inputs.empty()) {
        std::fprintf(stderr, "usage: split_bench --quillodine PATH --out DIR [--rounds N] [--ffmpeg] [--scaling] [--pipe] [--targets]"
                             " [--baseline PATH] NAME=INPUT...\n");
        return 2;
    }
    mkdir(out_dir.c_str(), 0755);
    const std::string q = quillodine;
    if (scaling) {
        // Fresh tmpfs pages can cost the machine more per GiB as the outputs grow (dd shows it
        // too), so dd bs=1M runs beside each size, in the same rounds, as the machine's own line.
        std::printf("\n== time per GiB by input size (Quillodine defaults and dd bs=1M, outputs in %s, median of %d,"
                    " sizes alternating)\n", out_dir.c_str(), rounds);
        std::printf("%-10s %8s %10s %10s %12s %12s\n", "input", "GiB", "median s", "s/GiB", "dd s/GiB", "x dd 1M");
        const Command c{"Quillodine", {q, "-OUT", "{OUT}", "{IN}"}, false};
        const Command dd{"dd bs=1M", {"dd", "if={IN}", "of={OUT}/dd.ts", "bs=1M", "status=none"}, true};
        std::vector<std::vector<double>> secs(inputs.size()), dd_secs(inputs.size()), ratios(inputs.size());
        for (const auto& [name, in] : inputs) run_once(c, in, out_dir);
        for (int r = 0; r < rounds; ++r)
            for (std::size_t k = 0; k < inputs.size(); ++k) {
                const std::size_t i = r % 2 ? inputs.size() - 1 - k : k;
                const double d = run_once(dd, inputs[i].second, out_dir).seconds;
                const double t = run_once(c, inputs[i].second, out_dir).seconds;
                secs[i].push_back(t);
                dd_secs[i].push_back(d);
                ratios[i].push_back(t / d);
            }
        std::vector<double> per_gib, per_dd;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const double gb = static_cast<double>(file_size(inputs[i].second)) / (1024.0 * 1024.0 * 1024.0);
            per_gib.push_back(median(secs[i]) / gb);
            per_dd.push_back(median(ratios[i]));
            std::printf("%-10s %8.3f %10.3f %10.3f %12.3f %12.2f\n", inputs[i].first.c_str(), gb, median(secs[i]),
                        per_gib.back(), median(dd_secs[i]) / gb, per_dd.back());
        }
        if (inputs.size() > 1) {
            auto line = [](const char* what, double first, double last) {
                const double change = (last / first - 1) * 100;
                std::printf("  target %-44s %+6.1f%% within +-15%%  %s\n", what, change,
                            change <= 15 && change >= -15 ? "met" : "MISSED");
            };
            line("time per GiB, largest vs smallest input", per_gib.front(), per_gib.back());
            line("the same relative to dd bs=1M", per_dd.front(), per_dd.back());
        }
        return 0;
    }
    if (piped) {
        // The recording reaches the program through a pipe on its standard input ("-"), and the
        // same recording as a file named stdin.ts, so that both runs write the same names.
        const std::string link_dir = out_dir + "-stdin";
        mkdir(link_dir.c_str(), 0755);
        const std::vector<Command> commands = {
            {"dd bs=1M", {"dd", "if={IN}", "of={OUT}/dd.ts", "bs=1M", "status=none"}, true},
            {"Quillodine", {q, "-OUT", "{OUT}", "{IN}"}, false},
            {"cat | Quillodine -", {q, "-OUT", "{OUT}", "-"}, false, {}, true},
            {"cat | Quillodine -BUFF 1 -", {q, "-BUFF", "1", "-OUT", "{OUT}", "-"}, false, {}, true},
        };
        for (const auto& [name, in] : inputs) {
            const std::string link = link_dir + "/stdin.ts";
            unlink(link.c_str());
            char* target = realpath(in.c_str(), nullptr);  // the link lives elsewhere: no relative path
            const bool linked = target && symlink(target, link.c_str()) == 0;
            std::free(target);
            if (!linked) {
                std::fprintf(stderr, "split_bench: cannot make %s\n", link.c_str());
                return 2;
            }
            compare(name + ", piped", link, commands, out_dir, rounds);
            unlink(link.c_str());
        }
        rmdir(link_dir.c_str());
        return 0;
    }
    std::vector<Command> commands = {
        {"dd bs=1M", {"dd", "if={IN}", "of={OUT}/dd.ts", "bs=1M", "status=none"}, true},
        {"dd bs=8k", {"dd", "if={IN}", "of={OUT}/dd.ts", "bs=8k", "status=none"}, false},
        {"Quillodine", {q, "-OUT", "{OUT}", "{IN}"}, false},
        {"Quillodine -EIT -ECM -EMM", {q, "-EIT", "-ECM", "-EMM", "-OUT", "{OUT}", "{IN}"}, false},
        {"Quillodine -NULL", {q, "-NULL", "-OUT", "{OUT}", "{IN}"}, false},
        {"Quillodine -BUFF 1", {q, "-BUFF", "1", "-OUT", "{OUT}", "{IN}"}, false},
    };
    if (!baseline.empty()) {
        const std::string& b = baseline;
        commands.push_back({"baseline", {b, "-OUT", "{OUT}", "{IN}"}, false, "Quillodine"});
        commands.push_back({"baseline -EIT -ECM -EMM", {b, "-EIT", "-ECM", "-EMM", "-OUT", "{OUT}", "{IN}"}, false,
                            "Quillodine -EIT -ECM -EMM"});
        commands.push_back({"baseline -NULL", {b, "-NULL", "-OUT", "{OUT}", "{IN}"}, false, "Quillodine -NULL"});
    }
    if (with_ffmpeg)
        commands.push_back({"ffmpeg -map 0 -c copy", {"ffmpeg", "-v", "quiet", "-y", "-i", "{IN}", "-map", "0", "-copy_unknown", "-c", "copy", "-f", "mpegts", "{OUT}/ff.ts"}, false});
    for (const auto& [name, in] : inputs) {
        const auto figures = compare(name, in, commands, out_dir, rounds);
        if (targets) print_targets(figures);
    }
    return 0;
}
