# Shared start of the real-codec checks, sourced with the check's own arguments:
#   source "$(dirname "$0")/ffmpeg_common.sh" QUILLODINE WORK_FOLDER
# Installs Debian's ffmpeg when missing, makes WORK_FOLDER afresh and enters it, and gives
# BIN (the program under test), WORK, `failures` and fail(), and the encoder settings and
# sources of the three-service checks (VIDEO_OPTS, AUDIO_OPTS, SOURCES).
BIN=$(realpath "$1")
WORK=$2

if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends ffmpeg >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get install -y --no-install-recommends ffmpeg >/dev/null; }
fi
command -v python3 >/dev/null || { echo "python3 is needed to build and read the test streams"; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Three services, two seconds of tiny frames each. Sequence header at every GOP (ARIB receivers expect it).
VIDEO_OPTS=(-c:v mpeg2video -g 15 -bf 2 -sc_threshold 1000000000 -mpv_flags +strict_gop -b:v 400k)
AUDIO_OPTS=(-c:a aac -ar 48000 -b:a 64k)
SOURCES=(-f lavfi -i "testsrc=size=176x144:rate=30000/1001:duration=2"
         -f lavfi -i "smptebars=size=176x144:rate=30000/1001:duration=2"
         -f lavfi -i "testsrc2=size=176x144:rate=30000/1001:duration=2"
         -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2"
         -f lavfi -i "sine=frequency=550:sample_rate=48000:duration=2"
         -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=2")
