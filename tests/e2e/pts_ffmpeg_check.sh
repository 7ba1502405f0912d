#!/usr/bin/env bash
# -PTS with real codecs: ffmpeg encodes an HD recording (MPEG-2 video with B-frames, AAC audio,
# the PCR in the video) and three SD services; Quillodine renumbers the time stamps; ffmpeg must
# still decode every output cleanly, ffprobe must show the video starting at 3600 s and every
# stream keeping its distance to the others.
#
# usage: pts_ffmpeg_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

ffmpeg -v error -y "${SOURCES[@]}" -map 0:v -map 3:a "${VIDEO_OPTS[@]}" "${AUDIO_OPTS[@]}" \
    -streamid 0:273 -streamid 1:274 \
    -program program_num=1024:st=0:st=1 -program program_num=1025:st=0:st=1 \
    -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts hd.ts
ffmpeg -v error -y "${SOURCES[@]}" -map 0:v -map 1:v -map 2:v -map 3:a -map 4:a -map 5:a \
    "${VIDEO_OPTS[@]}" "${AUDIO_OPTS[@]}" \
    -streamid 0:273 -streamid 1:289 -streamid 2:305 -streamid 3:274 -streamid 4:290 -streamid 5:306 \
    -program program_num=1024:st=0:st=3 -program program_num=1025:st=1:st=4 -program program_num=1026:st=2:st=5 \
    -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts sd.ts

# "codec=start_time" per stream, in stream order.
starts() { ffprobe -v error -show_entries stream=codec_name,start_time -of csv=p=0 "$1" | sort -u; }

# Every stream of `out` starts where its stream of `in` starts, moved by one distance that puts
# the video at exactly 3600 s (the video PES with the PCR comes first in these recordings).
check_moved() {
    local out=$1 in=$2
    python3 - "$(starts "$in")" "$(starts "$out")" <<'PY' || fail "$out: start times not moved as one (see above)"
import sys
def parse(text):
    return sorted((line.split(",")[0], float(line.split(",")[1])) for line in text.split() if "," in line)
before, after = parse(sys.argv[1]), parse(sys.argv[2])
if len(before) != len(after) or not after:
    print("  streams", before, after); sys.exit(1)
video = [t for c, t in after if c == "mpeg2video"]
if not video or any(abs(t - 3600.0) > 1e-6 for t in video):
    print("  video start", video, "want 3600"); sys.exit(1)
shifts = [a[1] - b[1] for a, b in zip(after, before)]
if max(shifts) - min(shifts) > 2e-5:
    print("  shifts differ", shifts); sys.exit(1)
PY
}

check_decodes() {
    local errors
    if ! errors=$(ffmpeg -v error -xerror -i "$1" -map 0 -f null - 2>&1) || [ -n "$errors" ]; then
        fail "$1: does not decode cleanly: $errors"
    fi
}

"$BIN" -PTS hd.ts sd.ts >/dev/null
for out in hd_HD.ts sd_SD1.ts sd_SD2.ts sd_SD3.ts; do
    [ -f "$out" ] || { fail "$out missing"; continue; }
    check_decodes "$out"
done
check_moved hd_HD.ts hd.ts

# Without -PTS the same outputs keep the encoder's times (the check above really saw a change).
mkdir plain && cd plain && cp ../hd.ts . && "$BIN" hd.ts >/dev/null
python3 -c "import sys; sys.exit(0 if abs(float(sys.argv[1].split(',')[1]) - 3600) > 1 else 1)" \
    "$(starts hd_HD.ts | grep mpeg2video | head -1)" ||
    fail "without -PTS the video already starts at 3600 s"
cd ..

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all -PTS ffmpeg checks passed"
