#!/usr/bin/env bash
# Audio-mode splits with a real codec: ffmpeg encodes an HD-like recording whose AAC-LC in ADTS
# (ISO/IEC 13818-7: no CRC, variable rate) is stereo, then dual mono for two seconds, then stereo
# again. Quillodine splits it with -SEPA and -SEPAC, and in every output the audio must decode
# with ffmpeg -xerror and the whole file without an error message; each holds one channel
# configuration only, carries the sound of its mode, and is read by ffprobe as one AAC stream
# beside the video. The split lines and file names show that headers
# without CRC and with the variable-rate fullness 0x7FF count.
#
# usage: ffmpeg_audio_mode_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

# The sound: 440 Hz on both stereo channels; in dual mono 440 Hz on the first and 660 Hz on the
# second programme. Each track is encoded whole, so that frame n of every track covers the same
# samples.
encode_aac() {  # output, frequency, channels, bit rate
    ffmpeg -v error -y -f lavfi -i "sine=frequency=$2:sample_rate=48000:duration=6" \
        -c:a aac -ar 48000 -ac "$3" -b:a "$4" -f adts "$1"
}
encode_aac stereo.aac 440 2 64k
encode_aac first.aac 440 1 48k
encode_aac second.aac 660 1 48k

# The frames from 2 s to 4 s become dual mono as broadcasts send it: channel_configuration 0 and,
# in every frame, a program_config_element naming two front single channel elements, followed by
# the two mono tracks' single channel elements (tags 0 and 1) and the end element. ffmpeg's
# encoder cannot give this: with -aac_pce its only two-channel layout is stereo (one channel pair
# element), and it writes the PCE in its first frame only, so a file cut later would not decode.
# The frames are put together here bit by bit.
python3 - stereo.aac first.aac second.aac audio.aac <<'EOF'
import sys

def frames(path):
    data = open(path, "rb").read()
    out, at = [], 0
    while at + 7 <= len(data):
        assert data[at] == 0xFF and (data[at + 1] & 0xF7) == 0xF1, "ADTS without CRC expected"
        length = (data[at + 3] & 3) << 11 | data[at + 4] << 3 | data[at + 5] >> 5
        out.append(data[at:at + length])
        at += length
    return out

def bits(raw):
    return "".join(f"{b:08b}" for b in raw)

def single_channel_element(frame, tag):
    # raw_data_block of a mono frame: fill elements (the first frame's encoder note), one SCE,
    # the end element (111) and zero bits up to the byte; the SCE runs up to the end element,
    # whose last bit is the frame's last 1 bit.
    b = bits(frame[7:])
    at = 0
    while b[at:at + 3] == "110":
        count = int(b[at + 3:at + 7], 2)
        at += 7
        if count == 15:
            count += int(b[at:at + 8], 2) - 1
            at += 8
        at += 8 * count
    assert b[at:at + 3] == "000", "single channel element expected"
    end = b.rindex("1") - 2
    assert b[end:end + 3] == "111", "end element expected"
    return "000" + f"{tag:04b}" + b[at + 7:end]

# PCE: tag 0, AAC LC, 48 kHz, two front elements, nothing else, both SCE (tags 0 and 1), no
# mixdowns, byte alignment, no comment.
pce = ("101" "0000" "01" "0011" "0010" "0000" "0000" "00" "000" "0000" "0" "0" "0"
       "0" "0000" "0" "0001")
pce += "0" * (-len(pce) % 8) + "00000000"

stereo, first, second = frames(sys.argv[1]), frames(sys.argv[2]), frames(sys.argv[3])
count = min(len(stereo), len(first), len(second))
begin, end = 2 * 48000 // 1024, 4 * 48000 // 1024
out = bytearray()
for n in range(count):
    if not begin <= n < end:
        out += stereo[n]
        continue
    body = pce + single_channel_element(first[n], 0) + single_channel_element(second[n], 1) + "111"
    body += "0" * (-len(body) % 8)
    payload = int(body, 2).to_bytes(len(body) // 8, "big")
    length = 7 + len(payload)
    header = bytearray(first[n][:7])
    header[2] &= 0xFE  # channel_configuration 0: its top bit here, the two others in byte 3
    header[3] = (header[3] & 0x3C) | length >> 11
    header[4] = length >> 3 & 0xFF
    header[5] = (header[5] & 0x1F) | (length & 7) << 5
    out += header + payload
open(sys.argv[4], "wb").write(out)
print(f"{end - begin} dual-mono frames of {count}")
EOF

# Six seconds: video 0x111 with a sequence header at every GOP, the audio above as 0x112 (one
# frame per PES), PMT 0x1F0.
ffmpeg -v error -y -f lavfi -i "testsrc=size=176x144:rate=30000/1001:duration=6" -i audio.aac \
    -map 0:v -map 1:a \
    -c:v mpeg2video -g 15 -bf 2 -sc_threshold 1000000000 -mpv_flags +strict_gop -b:v 400k \
    -c:a copy -streamid 0:273 -streamid 1:274 \
    -program program_num=1024:st=0:st=1 -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 \
    -pes_payload_size 0 -f mpegts rec.ts
errors=$(ffmpeg -v error -xerror -i rec.ts -f null - 2>&1) || errors="$errors (ffmpeg exited with an error)"
[ -z "$errors" ] || { echo "the recording itself does not decode: $errors"; exit 1; }

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

# The frequency heard on each decoded channel, from its zero crossings, as "440,660".
frequencies_of() {
    ffmpeg -v error -i "$1" -map 0:a -f s16le -acodec pcm_s16le - 2>/dev/null | python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
samples = struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])
heard = []
for channel in (0, 1):
    x = samples[channel::2]
    crossings = sum(1 for i in range(1, len(x)) if (x[i - 1] < 0) != (x[i] < 0))
    heard.append(round(crossings / 2 / (len(x) / 48000) / 10) * 10 if x else 0)
print(",".join(str(f) for f in heard))
'
}

check_output() {  # file, expected channel configuration, expected frequencies
    local file=$1 mode=$2 sound=$3
    [ -s "$file" ] || { fail "$file missing or empty"; return; }
    local got
    got=$(modes_of "$file")
    [ "$got" = "$mode" ] || fail "$file: channel configurations '$got', expected '$mode'"
    # The audio decodes with every error fatal. The whole file decodes without an error message:
    # -xerror would also stop at the continuity counters' jump where a file that a mode came back
    # to goes on (its packets keep the input's counters), which the demuxer marks as corrupt.
    local errors
    errors=$(ffmpeg -v error -xerror -i "$file" -map 0:a -f null - 2>&1) || errors="$errors (ffmpeg exited with an error)"
    [ -z "$errors" ] || fail "$file: the audio does not decode cleanly: $errors"
    errors=$(ffmpeg -v error -i "$file" -f null - 2>&1) || errors="$errors (ffmpeg exited with an error)"
    [ -z "$errors" ] || fail "$file does not decode cleanly: $errors"
    ffprobe -v error -show_streams -of json "$file" > probe.json || { fail "$file: ffprobe failed"; return; }
    python3 - probe.json <<'EOF' || fail "$file: ffprobe does not read one AAC and one MPEG-2 video stream"
import json, sys
streams = json.load(open(sys.argv[1]))["streams"]
codecs = sorted(s["codec_name"] for s in streams)
sys.exit(0 if codecs == ["aac", "mpeg2video"] else 1)
EOF
    # One channel configuration for every frame ffprobe decodes. ffprobe names the dual-mono PCE
    # (two front single channel elements) as it names stereo, two channels "stereo"; the sound
    # tells the two apart: dual mono carries 660 Hz on its second channel.
    local layouts
    layouts=$(ffprobe -v error -select_streams a -show_entries frame=channels,channel_layout -of csv=p=0 "$file" | sort -u | tr '\n' ' ')
    [ "$layouts" = "2,stereo " ] || fail "$file: ffprobe reads channel configurations '$layouts', expected '2,stereo '"
    got=$(frequencies_of "$file")
    [ "$got" = "$sound" ] || fail "$file: channels sound at '$got' Hz, expected '$sound'"
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
check_output sepa/rec_HD.ts 2 440,440
check_output sepa/rec_HD-a1.ts 0 440,660

# -SEPAC: one file per stretch.
run_split sepac -SEPAC
[ "$(cd sepac && ls rec_HD*.ts | tr '\n' ' ')" = "rec_HD-1.ts rec_HD-2.ts rec_HD.ts " ] || fail "-SEPAC: files $(ls sepac)"
check_output sepac/rec_HD.ts 2 440,440
check_output sepac/rec_HD-1.ts 0 440,660
check_output sepac/rec_HD-2.ts 2 440,440

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "audio-mode check passed"
