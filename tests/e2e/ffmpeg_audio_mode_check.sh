#!/usr/bin/env bash
# Audio-mode splits with a real codec: ffmpeg encodes an HD-like recording with stereo AAC-LC in
# ADTS (ISO/IEC 13818-7: no CRC, variable rate), the test turns a stretch in its middle into a
# dual-mono signalling (channel_configuration 0) in place, Quillodine splits it with -SEPA and
# -SEPAC, and every output must decode with ffmpeg without a single error, hold one channel
# configuration only, and be read by ffprobe as one AAC stream beside the video. The split lines
# and file names show that headers without CRC and with the variable-rate fullness 0x7FF count.
#
# usage: ffmpeg_audio_mode_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

# Six seconds: video 0x111 with a sequence header at every GOP, stereo audio 0x112, PMT 0x1F0.
ffmpeg -v error -y -f lavfi -i "testsrc=size=176x144:rate=30000/1001:duration=6" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=6" -map 0:v -map 1:a \
    -c:v mpeg2video -g 15 -bf 2 -sc_threshold 1000000000 -mpv_flags +strict_gop -b:v 400k \
    -c:a aac -ar 48000 -ac 2 -b:a 64k -streamid 0:273 -streamid 1:274 \
    -program program_num=1024:st=0:st=1 -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 \
    -pes_payload_size 0 -f mpegts source.ts

# Frames whose PES PTS lies 2 to 4 s after the first audio PTS get channel_configuration 0: the
# 3-bit field is the low bit of header byte 2 and the top two bits of byte 3. Only headers
# without CRC (protection_absent 1) are patched, so that no checksum goes stale.
python3 - source.ts rec.ts <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
AUDIO = 0x112
pes = []  # per PES: PTS and the file offsets of its payload bytes
for i in range(0, len(data) - 187, 188):
    p = data[i:i + 188]
    if ((p[1] & 0x1F) << 8 | p[2]) != AUDIO or not (p[3] & 0x10):
        continue
    start = 4 + (1 + p[4] if p[3] & 0x20 else 0)
    if p[1] & 0x40:
        pts = ((p[start + 9] & 0x0E) << 29 | p[start + 10] << 22 | (p[start + 11] & 0xFE) << 14 |
               p[start + 12] << 7 | p[start + 13] >> 1)
        pes.append([pts, []])
        start += 9 + p[start + 8]
    if pes:
        pes[-1][1].extend(range(i + start, i + 188))
first = pes[0][0]
patched = 0
for pts, offsets in pes:
    if not (2 * 90000 <= (pts - first) % (1 << 33) < 4 * 90000):
        continue
    k = 0
    while k + 7 <= len(offsets):
        h = [data[offsets[k + j]] for j in range(7)]
        if h[0] != 0xFF or (h[1] & 0xF6) != 0xF0:
            break
        if h[1] & 0x01:  # protection_absent
            data[offsets[k + 2]] &= 0xFE
            data[offsets[k + 3]] &= 0x3F
            patched += 1
        k += ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5)
open(sys.argv[2], "wb").write(data)
print(f"patched {patched} ADTS headers")
sys.exit(0 if patched > 0 else 1)
EOF

# The channel configurations of every ADTS header of PID 0x112 in a file, as a sorted list.
modes_of() {
    python3 - "$1" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
modes = set()
for i in range(0, len(data) - 187, 188):
    p = data[i:i + 188]
    if ((p[1] & 0x1F) << 8 | p[2]) != 0x112 or not (p[1] & 0x40) or not (p[3] & 0x10):
        continue
    o = 4 + (1 + p[4] if p[3] & 0x20 else 0)
    h = o + 9 + p[o + 8]
    if h + 7 <= 188 and p[h] == 0xFF and (p[h + 1] & 0xF6) == 0xF0:
        modes.add((p[h + 2] & 1) << 2 | p[h + 3] >> 6)
print(",".join(str(m) for m in sorted(modes)))
EOF
}

check_output() {  # file, expected channel configuration
    local file=$1 mode=$2
    [ -s "$file" ] || { fail "$file missing or empty"; return; }
    local got
    got=$(modes_of "$file")
    [ "$got" = "$mode" ] || fail "$file: channel configurations '$got', expected '$mode'"
    # A decoder can only start on channel_configuration 0 with a program_config_element in the
    # frame (ISO/IEC 13818-7), which broadcasts send and the patch cannot add: the dual-mono file
    # is decoded for its video, its audio is judged by its headers and by ffprobe.
    local streams=()
    [ "$mode" = 0 ] && streams=(-map 0:v)
    local errors
    errors=$(ffmpeg -v error -i "$file" "${streams[@]}" -f null - 2>&1 || echo "ffmpeg exited with an error")
    [ -z "$errors" ] || fail "$file does not decode cleanly: $errors"
    ffprobe -v error -show_streams -of json "$file" > probe.json || { fail "$file: ffprobe failed"; return; }
    python3 - probe.json <<'EOF' || fail "$file: ffprobe does not read one AAC and one MPEG-2 video stream"
import json, sys
streams = json.load(open(sys.argv[1]))["streams"]
codecs = sorted(s["codec_name"] for s in streams)
sys.exit(0 if codecs == ["aac", "mpeg2video"] else 1)
EOF
}

run_split() {  # folder, option; prints Quillodine's output into the folder
    rm -rf "$1"
    mkdir "$1"
    cp rec.ts "$1/"
    (cd "$1" && "$BIN" "$2" rec.ts > out.txt 2>&1) || fail "$2: Quillodine exited with an error"
}

# -SEPA: the stereo stretches share rec_HD.ts, the dual-mono stretch is rec_HD-a1.ts.
run_split sepa -SEPA
[ "$(grep -c '音声分割(' sepa/out.txt || true)" = 2 ] || fail "-SEPA: expected two split lines: $(cat sepa/out.txt)"
[ "$(cd sepa && ls rec_HD*.ts | tr '\n' ' ')" = "rec_HD-a1.ts rec_HD.ts " ] || fail "-SEPA: files $(ls sepa)"
check_output sepa/rec_HD.ts 2
check_output sepa/rec_HD-a1.ts 0

# -SEPAC: one file per stretch.
run_split sepac -SEPAC
[ "$(cd sepac && ls rec_HD*.ts | tr '\n' ' ')" = "rec_HD-1.ts rec_HD-2.ts rec_HD.ts " ] || fail "-SEPAC: files $(ls sepac)"
check_output sepac/rec_HD.ts 2
check_output sepac/rec_HD-1.ts 0
check_output sepac/rec_HD-2.ts 2

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "audio-mode check passed"
