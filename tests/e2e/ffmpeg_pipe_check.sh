#!/usr/bin/env bash
# A recording split while it is being made: ffmpeg encodes three services in real time (-re) into a
# pipe for 22 seconds. tee keeps a copy on disk and feeds two runs at once: one reads a FIFO named
# like the recording, unbuffered (-BUFF 0), one its standard input ("-") with the default buffers.
# While the recording runs, the unbuffered run's files grow and the other's are open; in the end
# all of them decode cleanly, carry the expected programme, and equal byte for byte the split of the copy
# on disk (stdin_* for rec_*). No spool may be left behind.
#
# usage: ffmpeg_pipe_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

SECONDS_LIVE=22
live_sources=()
for ((i = 0; i < ${#SOURCES[@]}; i += 4)); do  # -f lavfi -i SOURCE, each read in real time
    live_sources+=(-re "${SOURCES[i]}" "${SOURCES[i + 1]}" "${SOURCES[i + 2]}" "${SOURCES[i + 3]//duration=2/duration=$SECONDS_LIVE}")
done

mkdir disk fifo stdin
mkfifo fifo/rec.ts
(cd fifo && exec "$BIN" -BUFF 0 rec.ts >../fifo.out 2>&1) &
fifo_run=$!

ffmpeg -v error -nostdin "${live_sources[@]}" -map 0:v -map 1:v -map 2:v -map 3:a -map 4:a -map 5:a \
    "${VIDEO_OPTS[@]}" "${AUDIO_OPTS[@]}" \
    -streamid 0:273 -streamid 1:289 -streamid 2:305 -streamid 3:274 -streamid 4:290 -streamid 5:306 \
    -program program_num=1024:st=0:st=3 -program program_num=1025:st=1:st=4 -program program_num=1026:st=2:st=5 \
    -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts - 2>ffmpeg.err |
    tee disk/rec.ts fifo/rec.ts | (cd stdin && exec "$BIN" - >../stdin.out 2>&1) &
pipeline=$!

# Two thirds into the recording, every service has its file: the unbuffered run's hold packets.
sleep $((SECONDS_LIVE * 2 / 3))
kill -0 "$pipeline" 2>/dev/null || fail "the pipeline ended before the recording did"
for i in 1 2 3; do
    [ -s "fifo/rec_SD$i.ts" ] || fail "fifo/rec_SD$i.ts: nothing written while the recording runs"
    [ -e "stdin/stdin_SD$i.ts" ] || fail "stdin/stdin_SD$i.ts: not open while the recording runs"
done

rc=0
wait "$pipeline" || rc=$?
[ "$rc" = 0 ] || fail "ffmpeg | tee | Quillodine -: exit code $rc ($(cat ffmpeg.err stdin.out))"
rc=0
wait "$fifo_run" || rc=$?
[ "$rc" = 0 ] || fail "Quillodine on the FIFO: exit code $rc ($(cat fifo.out))"
[ ! -s ffmpeg.err ] || fail "ffmpeg: $(cat ffmpeg.err)"

size=$(stat -c %s disk/rec.ts)
[ "$size" -gt 2000000 ] || fail "the recording is only $size bytes"
(cd disk && "$BIN" rec.ts >../disk.out 2>&1) || fail "Quillodine on the copy on disk: $(cat disk.out)"

for i in 1 2 3; do
    want=disk/rec_SD$i.ts
    [ -s "$want" ] || { fail "$want: not written"; continue; }
    cmp -s "$want" "fifo/rec_SD$i.ts" || fail "fifo/rec_SD$i.ts differs from $want"
    cmp -s "$want" "stdin/stdin_SD$i.ts" || fail "stdin/stdin_SD$i.ts differs from $want"
    for f in "fifo/rec_SD$i.ts" "stdin/stdin_SD$i.ts"; do
        ffprobe -v error -show_entries program=program_num -of default=nw=1:nk=1 "$f" >probe.txt 2>&1 || fail "$f: ffprobe failed"
        [ "$(cat probe.txt)" = $((1023 + i)) ] || fail "$f: programmes [$(tr '\n' ' ' <probe.txt)], want $((1023 + i))"
        errors=$(ffmpeg -v error -xerror -i "$f" -map 0 -f null - 2>&1) && [ -z "$errors" ] ||
            fail "$f: does not decode cleanly: $errors"
    done
done
files=$(cd fifo && ls -A | tr '\n' ' ')
[ "$files" = "rec.ts rec_SD1.ts rec_SD2.ts rec_SD3.ts " ] || fail "fifo/ holds [$files]"
files=$(cd stdin && ls -A | tr '\n' ' ')
[ "$files" = "stdin_SD1.ts stdin_SD2.ts stdin_SD3.ts " ] || fail "stdin/ holds [$files]"

echo "live pipeline: $size bytes in $SECONDS_LIVE s, $failures failure(s)"
[ "$failures" -eq 0 ]
