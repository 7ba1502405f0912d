#!/usr/bin/env bash
# Debian 12, as root: builds Quillodine.exe and QuillodineGUI.exe with mingw-w64, runs the Windows
# tests under Wine (console unit tests, end-to-end tests, Linux/Windows output comparison, window
# tests on a virtual display) and writes dist/ with the zip of the two programs, the READMEs, the
# Japanese quick start readme.txt and LICENSE.
#   QUILL_WIN_BUILD, QUILL_WIN_NATIVE_BUILD   build folders (default build-win, build-win-native)
#   --no-tests                                 build and package only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

bash scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 wine xvfb xdotool imagemagick \
  fonts-vlgothic fonts-wine locales zip
# Wine takes code page 932 from the locale.
locale -a 2>/dev/null | grep -qx 'ja_JP.utf8' || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8

jobs=$(nproc)
win=${QUILL_WIN_BUILD:-build-win}
native=${QUILL_WIN_NATIVE_BUILD:-build-win-native}
case $win in /*) win_abs=$win ;; *) win_abs=$root/$win ;; esac
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_WERROR=ON >/dev/null
cmake --build "$win" -j"$jobs"

# dist/: the two programs, the READMEs, readme.txt and LICENSE; never the test libraries or tools.
rm -rf dist
mkdir -p dist/Quillodine
cp "$win/console/Quillodine.exe" "$win/gui/win32/QuillodineGUI.exe" README.md README.ja.md LICENSE dist/Quillodine/
# Notepad takes a file without a byte order mark for code page 932 (before Windows 10 1903):
# readme.txt gets the mark and CR LF line ends.
{ printf '\357\273\277'; sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/$/\r/' doc/readme.txt; } >dist/Quillodine/readme.txt
x86_64-w64-mingw32-strip dist/Quillodine/*.exe
(cd dist && zip -q -r Quillodine-windows.zip Quillodine)
echo "written: dist/Quillodine-windows.zip"
[ $run_tests = 1 ] || exit 0

# The native side: the end-to-end tests and the comparison, starting the Windows programs.
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLODINE_WERROR=ON -DQUILLODINE_WINDOWS_BUILD="$win_abs" >/dev/null
cmake --build "$native" -j"$jobs" --target e2e_wine_tests windows_compare_tests Quillodine tsgen

# A fresh Wine prefix and a virtual display of our own, both gone at the end.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/quill-wine-XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
# No window manager: Wine draws the title bars itself, with the Marlett glyphs for its buttons.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# The dialog font of a Japanese system, with the metrics of the proportional VL Gothic.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'VL PGothic' /f </dev/null >/dev/null 2>&1
wineserver -w
# A server that stays, started with its streams closed, so that CTest's pipes are not held open.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

# Unit tests of the Windows build. Left out: tests that state POSIX facts (UTF-8 names, '/' in the
# program's path, a shell's rm) rather than the program's behaviour.
posix_only='NamingTest.FlenNeverSplitsAMultibyteCharacter|DescramblerTest.LibraryIsLookedForBesideTheExecutable|ReadLoopTest\.'
ctest --test-dir "$win" --output-on-failure -j"$jobs" -E "$posix_only"
# End to end, left out: a disk that fills (a Linux tmpfs or file size limit), the look-ahead
# through the substitute descrambler (installed beside the runner script, not the program) and the
# modes of new files (Wine's server creates every file, under its own umask, not the caller's).
linux_only='wine\.(FullDisk\.|AudioSplitE2E\.LookAheadDescramblesWhatItReads|OutputPlacementTest\.NewFilesTakeTheUmask)'
ctest --test-dir "$native" --output-on-failure -j"$jobs" -L windows -E "$linux_only"
echo "screenshots: $native/tests/windows/gui-shots"
