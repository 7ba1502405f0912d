# Shared start of the real-codec checks, sourced with the check's own arguments:
#   source "$(dirname "$0")/ffmpeg_common.sh" QUILLODINE WORK_FOLDER
# Installs Debian's ffmpeg when missing, makes WORK_FOLDER afresh and enters it, and gives
# BIN (the program under test), WORK, `failures` and fail().
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
