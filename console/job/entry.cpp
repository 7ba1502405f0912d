#include "job/entry.h"

#include <cstdio>
#include <memory>
#include <new>

#include "job/file_job.h"
#include "job/job_context.h"
#include "job/options.h"
#include "platform/console.h"
#include "platform/system.h"
#include "state/messages.h"

namespace quill {

void write_usage() {
    for (const char* line : msg::kUsageLines) console_write(stderr, line);
}

namespace {

void write_mode_summary(const Options& o) {
    if (o.null_only) {
        console_write(stdout, o.gop_only ? msg::kGopOnlyMode : msg::kNullOnlyMode);
        console_write(stdout, "\n");
        return;
    }
    auto mark = [](int enabled) { return enabled ? msg::kEnabledMark : msg::kDisabledMark; };
    console_printf(stdout, "%s%s%s%s%s", o.keep_eit ? msg::kEitOn : msg::kEitOff, msg::kSlash,
                   o.keep_ecm ? msg::kEcmOn : msg::kEcmOff, msg::kSlash, o.keep_emm ? msg::kEmmOn : msg::kEmmOff);
    console_printf(stdout, msg::kOutputsFormat, mark(o.hd_enabled), mark(o.sd_enabled[0]), mark(o.sd_enabled[1]),
                   mark(o.sd_enabled[2]), mark(o.oneseg_enabled));
    console_write(stdout, "\n");
}

}  // namespace

int run_program(int argc, const char* const* argv) {
    auto ctx = std::make_unique<JobContext>();
    Options& o = ctx->run.options;
    ParseResult parsed = parse_command_line(argc, argv, o);
    if (parsed.status != ParseStatus::Ok) {
        write_usage();
        if (parsed.status == ParseStatus::NegativeOverlap) console_write(stderr, msg::kNegativeOverlap);
        return 1;
    }
    if (o.null_only) {
        o.descramble_mode = 0;
        o.rewrite_pts = 0;
    }
    if (o.descramble_mode > 0 && !bind_descrambler_for_run(ctx->descrambler, o)) return 1;
    for (const std::string& list : parsed.list_files) {
        const FileIdentity id = path_identity(list.c_str());
        if (id.valid) ctx->run.input.list_files.push_back(id);
    }
    ctx->stdout_interactive = stdout_is_interactive() ? 1 : 0;
    write_mode_summary(o);
    if (o.wait_enabled) {
        if (o.wait_msec <= 0) {
            o.wait_msec = 10;
            o.wait_enabled = 0;
        } else {
            timer_resolution_begin();
        }
    }
    LargeBuffer read_buffer(allocate_large_buffer(kReadBufferSize));
    if (!read_buffer) {
        console_write(stderr, msg::kNoReadBuffer);
        return 1;
    }
    ctx->job.read_buffer = read_buffer.get();

    const int remembered_cs_mode = o.cs_mode;
    bool all_ok = true;
    for (const InputEntry& input : parsed.inputs) {
        if (!run_file_job(*ctx, input)) all_ok = false;
        o.cs_mode = remembered_cs_mode;
    }
    if (o.wait_enabled) timer_resolution_end();
    release_descrambler(ctx->descrambler);
    return all_ok ? 0 : 2;
}

}  // namespace quill
