#!/usr/bin/env bash
# Real codecs across cuts: ffmpeg encodes a six-second HD recording (one service under three
# service ids), EIT present/following sections announcing three programmes and a PMT version
# change are added to it, and Quillodine cuts it with -SEP (with overlaps) and with -SEP3. Every
# file cut from it must start with a PAT and the service's PMT, carry the service's streams, and
# decode: the pictures it yields are, apart from the incomplete GOPs a cut leaves at its start and
# end, a gap-free run of the pictures the whole recording yields, with the same content.
#
# usage: ffmpeg_split_check.sh QUILLODINE WORK_FOLDER
set -euo pipefail

source "$(dirname "$0")/ffmpeg_common.sh" "$@"

GOP=15
ffmpeg -v error -y -f lavfi -i "testsrc=size=720x480:rate=30000/1001:duration=6" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=6" \
    -map 0:v -map 1:a -c:v mpeg2video -g $GOP -bf 2 -sc_threshold 1000000000 -mpv_flags +strict_gop -b:v 6M -minrate 6M -maxrate 6M -bufsize 2M \
    -c:a aac -ar 48000 -b:a 64k -streamid 0:273 -streamid 1:274 \
    -program program_num=1024:st=0:st=1 -program program_num=1025:st=0:st=1 -program program_num=1026:st=0:st=1 \
    -mpegts_transport_stream_id 32744 -mpegts_pmt_start_pid 496 -pes_payload_size 0 -f mpegts encoded.ts

# EIT p/f (ARIB STD-B10) of service 1024 every 1/24 of the file: section 0 announces event 1 in
# the first third, 2 in the second, 3 in the last; section 1 the following event. From the middle
# on, the PMT of service 1024 carries version 1.
python3 - encoded.ts rec.ts <<'EOF'
import sys

def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc

def eit_packet(cc, section_number, event_id):
    body = bytes([0x4E, 0xF0, 27, 0x04, 0x00, 0xC1, section_number, 1, 0x7F, 0xE8, 0x7F, 0xE8, 1, 0x4E])
    body += event_id.to_bytes(2, "big") + bytes([0xE0, 0x00, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00])
    body += crc32(body).to_bytes(4, "big")
    p = bytes([0x47, 0x40, 0x12, 0x10 | cc, 0x00]) + body
    return p + b"\xff" * (188 - len(p))

data = open(sys.argv[1], "rb").read()
packets = [bytearray(data[i:i + 188]) for i in range(0, len(data) - 187, 188)]
n = len(packets)
out = []
cc = 0
for i, p in enumerate(packets):
    if i % (n // 24) == 0:
        event = 1 + (3 * i) // n
        for section in (0, 1):
            out.append(eit_packet(cc, section, event + section))
            cc = (cc + 1) & 15
    pid = ((p[1] & 0x1F) << 8) | p[2]
    if pid == 0x1F0 and i >= n // 2 and p[1] & 0x40 and p[5] == 0x02:
        length = ((p[6] & 0x0F) << 8) | p[7]
        p[10] = (p[10] & 0xC1) | (1 << 1)
        p[8 + length - 4:8 + length] = crc32(bytes(p[5:8 + length - 4])).to_bytes(4, "big")
    out.append(bytes(p))
open(sys.argv[2], "wb").write(b"".join(out))
EOF

# Pictures of a file: the content hash of every decoded video frame, in output order (the test
# source draws a running clock, so every picture differs).
frames() { ffmpeg -v error -i "$1" -map 0:v -fps_mode passthrough -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F', *' '{print $6}'; }
frames rec.ts > whole.frames
[ "$(wc -l < whole.frames)" -ge 170 ] || fail "the recording itself does not decode ($(wc -l < whole.frames) pictures)"

check_cut_file() {
    local file=$1
    python3 - "$file" <<'EOF' || fail "$file: does not start with the PAT and the PMT of service 1024"
import sys
d = open(sys.argv[1], "rb").read()
pat, pmt = d[:188], d[188:376]
ok = len(d) >= 376 and pat[1] & 0x1F == 0 and pat[2] == 0 and pat[5] == 0x00
ok = ok and ((pmt[1] & 0x1F) << 8 | pmt[2]) == 0x1F0 and pmt[1] & 0x40 and pmt[5] == 0x02
ok = ok and pat[17:21] == bytes([0x04, 0x00, 0xE1, 0xF0])  # service 1024 on PMT PID 0x1F0
sys.exit(0 if ok else 1)
EOF
    local probe
    probe=$(ffprobe -v error -show_entries stream=id,codec_name -of csv=p=0 "$file" 2>/dev/null | tr -d ' ,' |
        grep -v '^$' | sort -u | tr '\n' ' ')
    [ "$probe" = "aac0x112 mpeg2video0x111 " ] || fail "$file: streams are [$probe]"
    frames "$file" > part.frames
    python3 - whole.frames part.frames "$GOP" "$file" <<'EOF' || fail "$file: pictures missing or wrong inside the file"
import sys
whole = [l.strip() for l in open(sys.argv[1]) if l.strip()]
part = [l.strip() for l in open(sys.argv[2]) if l.strip()]
gop = int(sys.argv[3])
# An incomplete GOP at each end may lose pictures; everything between must be a gap-free run of
# the whole recording's pictures with the same content.
if len(part) < 2 * gop:
    print("  only", len(part), "pictures"); sys.exit(1)
inner = part[gop:-gop]
try:
    at = whole.index(inner[0])
except ValueError:
    print("  first inner picture", inner[0], "not in the recording"); sys.exit(1)
if whole[at:at + len(inner)] != inner:
    print("  pictures differ from the recording after", inner[0]); sys.exit(1)
EOF
}

run_cut() {  # folder, options...
    local folder=$1
    shift
    mkdir "$folder" && cp rec.ts "$folder/" && cd "$folder"
    local out
    out=$("$BIN" "$@" rec.ts 2>&1) || fail "Quillodine $*: exit code not 0"
    case "$out" in *"error - "*) fail "Quillodine $*: $out" ;; esac
    echo "$out"
    cd ..
}

# Programme cuts with 1024 packets repeated before and after each cut.
run_cut sep -SEP -OVL1,1 -1SEG
for f in rec_HD.ts rec_HD-1.ts rec_HD-2.ts; do
    [ -f "sep/$f" ] || { fail "sep/$f missing"; continue; }
done
for f in rec_HD-1.ts rec_HD-2.ts; do [ -f "sep/$f" ] && check_cut_file "sep/$f"; done
[ -f sep/rec_HD-3.ts ] && fail "sep: section 1 (the following event) split too"

# A PMT cut: the new version's PAT and PMT start the file.
run_cut sep3 -SEP3 -1SEG
[ -f sep3/rec_HD-1.ts ] && check_cut_file sep3/rec_HD-1.ts || fail "sep3/rec_HD-1.ts missing"
[ -f sep3/rec_HD-2.ts ] && fail "sep3: one PMT change gave more than one cut"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all ffmpeg split checks passed"
