#!/usr/bin/env bash
# Real codecs end to end: ffmpeg encodes short MPEG-2 video and AAC-LC (ADTS) audio into
# multi-programme transport streams, Quillodine splits them, and ffprobe/ffmpeg judge every
# output: exactly the expected programme and streams, clean decoding, and the same compressed
# content as the programme taken from the input.
#
# usage: ffmpeg_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

# PIDs as decimal numbers: video 0x111/0x121/0x131, audio 0x112/0x122/0x132; PMTs from 0x1F0.
encode_hd() {  # one service announced under three service ids
    ffmpeg -v error -y "${SOURCES[@]}" -map 0:v -map 3:a "${VIDEO_OPTS[@]}" "${AUDIO_OPTS[@]}" \
        -streamid 0:273 -streamid 1:274 \
        -program program_num=1024:st=0:st=1 -program program_num=1025:st=0:st=1 -program program_num=1026:st=0:st=1 \
        -mpegts_transport_stream_id "$2" -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts "$1"
}
encode_three() {  # three services, each its own video and audio
    ffmpeg -v error -y "${SOURCES[@]}" -map 0:v -map 1:v -map 2:v -map 3:a -map 4:a -map 5:a \
        "${VIDEO_OPTS[@]}" "${AUDIO_OPTS[@]}" \
        -streamid 0:273 -streamid 1:289 -streamid 2:305 -streamid 3:274 -streamid 4:290 -streamid 5:306 \
        -program program_num=1024:st=0:st=3 -program program_num=1025:st=1:st=4 -program program_num=1026:st=2:st=5 \
        -mpegts_transport_stream_id "$2" -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts "$1"
}

# The program reads PAT and PMT out of one packet with the section at byte 5 (pointer_field 0,
# no adaptation field): make sure the encoder wrote them that way, or the test proves nothing.
check_tables_layout() {
    python3 - "$1" <<'EOF' || fail "$1: PAT/PMT sections of the encoder do not start at byte 5"
import sys
data = open(sys.argv[1], "rb").read()
pmts = {0x1F0, 0x1F1, 0x1F2}
seen = set()
for i in range(0, len(data) - 187, 188):
    p = data[i:i + 188]
    pid = ((p[1] & 0x1F) << 8) | p[2]
    if pid == 0 or pid in pmts:
        if (p[1] & 0x40) == 0 or (p[3] & 0x30) != 0x10 or p[4] != 0:
            sys.exit(1)
        seen.add(pid)
sys.exit(0 if seen == {0} | pmts else 1)
EOF
}

# programme number and "pid:codec" pairs expected in one output, e.g. 1024 0x111:mpeg2video 0x112:aac
check_probe() {
    local file=$1 program=$2
    shift 2
    ffprobe -v error -show_programs -show_streams -of json "$file" > probe.json || { fail "$file: ffprobe failed"; return; }
    python3 - probe.json "$program" "$@" <<'EOF' || fail "$file: programmes or streams differ (see above)"
import json, sys
probe = json.load(open(sys.argv[1]))
want_program = int(sys.argv[2])
want_streams = sorted(sys.argv[3:])
programs = [p["program_num"] for p in probe.get("programs", [])]
streams = sorted("%s:%s" % (s["id"], s.get("codec_name", "?")) for s in probe.get("streams", []))
if programs != [want_program] or streams != want_streams:
    print("  programmes", programs, "want", [want_program])
    print("  streams", streams, "want", want_streams)
    sys.exit(1)
EOF
}

check_decodes() {
    local errors
    if ! errors=$(ffmpeg -v error -xerror -i "$1" -map 0 -f null - 2>&1) || [ -n "$errors" ]; then
        fail "$1: does not decode cleanly: $errors"
    fi
}

# The compressed content of each stream equals that of the programme in the input.
check_same_content() {
    local out=$1 in=$2 program=$3 kind
    for kind in v a; do
        local a b
        a=$(ffmpeg -v error -i "$out" -map "0:$kind" -c copy -f streamhash - | cut -d, -f2-) || true
        b=$(ffmpeg -v error -i "$in" -map "0:p:$program:$kind" -c copy -f streamhash - | cut -d, -f2-) || true
        if [ -z "$a" ] || [ "$a" != "$b" ]; then
            fail "$out: $kind stream differs from programme $program of $in ($a / $b)"
        fi
    done
}

check_files() {  # exact list of files in the folder
    local got
    got=$(ls -1 | grep -v '^probe.json$' | tr '\n' ' ')
    [ "$got" = "$1" ] || fail "files are [$got], want [$1]"
}

run_quillodine() {
    local out
    if ! out=$("$BIN" "$@" 2>&1); then fail "Quillodine $*: exit code not 0: $out"; fi
    case "$out" in *"error - "*) fail "Quillodine $*: $out" ;; esac
}

# --- one HD service under three service ids -------------------------------------------------
mkdir hd && cd hd
encode_hd rec.ts 32744
check_tables_layout rec.ts
run_quillodine rec.ts
check_files "rec.ts rec_HD.ts "
check_probe rec_HD.ts 1024 0x111:mpeg2video 0x112:aac
check_decodes rec_HD.ts
check_same_content rec_HD.ts rec.ts 1024
cd ..

# --- three SD services ----------------------------------------------------------------------
mkdir sd && cd sd
encode_three rec.ts 32744
check_tables_layout rec.ts
run_quillodine rec.ts
check_files "rec.ts rec_SD1.ts rec_SD2.ts rec_SD3.ts "
for i in 0 1 2; do
    check_probe "rec_SD$((i + 1)).ts" $((1024 + i)) "0x1$((i + 1))1:mpeg2video" "0x1$((i + 1))2:aac"
    check_decodes "rec_SD$((i + 1)).ts"
    check_same_content "rec_SD$((i + 1)).ts" rec.ts $((1024 + i))
done
cd ..

# --- CS: transport_stream_id 0x7040, found without -CS; then only the listed services ----------
mkdir cs && cd cs
encode_three cs.ts 28736
run_quillodine cs.ts
check_files "cs.ts cs_CS1(1024).ts cs_CS2(1025).ts cs_CS3(1026).ts "
for i in 0 1 2; do
    out="cs_CS$((i + 1))($((1024 + i))).ts"
    check_probe "$out" $((1024 + i)) "0x1$((i + 1))1:mpeg2video" "0x1$((i + 1))2:aac"
    check_decodes "$out"
    check_same_content "$out" cs.ts $((1024 + i))
done
rm -f cs_CS*.ts
run_quillodine -CS1025 cs.ts
check_files "cs.ts cs_CS1(1025).ts "
check_probe "cs_CS1(1025).ts" 1025 0x121:mpeg2video 0x122:aac
cd ..

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all ffmpeg checks passed"
