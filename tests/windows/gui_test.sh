#!/usr/bin/env bash
# Window tests of QuillodineGUI under Wine on a virtual display (DISPLAY and WINEPREFIX come from
# scripts/windows.sh). Keys go through xdotool; gui_probe reads the controls, clicks buttons
# that have no key of their own and drops files on the main dialog. Each case saves PNG
# screenshots in the shots folder.
#   gui_test.sh CASE WINDOWS_BUILD TSGEN SHOTS      CASE: defaults | convert | help | stop | about | drop
set -euo pipefail
case_name=$1
win_build=$2
tsgen=$3
shots=$4
mkdir -p "$shots"
work=$(mktemp -d /tmp/quill-gui-XXXXXX)
gui_pid=
finish() {
  [ -n "$gui_pid" ] && kill "$gui_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# A folder of its own: the INI file and the list file are made beside the front end.
cp "$win_build/gui/win32/QuillodineGUI.exe" "$win_build/console/Quillodine.exe" "$work/"
probe() { wine "$win_build/tests/windows/probe/gui_probe.exe" "$@" </dev/null 2>/dev/null; }
fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { import -window root "$shots/$case_name-$1.png"; }
# Waits up to $2 seconds for command $1 to succeed.
wait_for() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.5
  done
}
main_window() { xdotool search --name 'QuillodineGUI' | head -n 1; }
key() { xdotool key --delay 80 "$@"; sleep 0.5; }

start_gui() {
  (cd "$work" && exec wine QuillodineGUI.exe "$@" </dev/null >/dev/null 2>&1) &
  gui_pid=$!
  wait_for 'probe exists main' 60 || fail "the main dialog did not appear"
  sleep 1
  xdotool windowfocus --sync "$(main_window)" 2>/dev/null || true
}
exit_gui() {
  xdotool windowfocus --sync "$(main_window)" 2>/dev/null || true
  key Escape
  wait_for '! kill -0 $gui_pid 2>/dev/null' 30 || fail "the front end did not exit"
  gui_pid=
}
ini() { iconv -f CP932 -t UTF-8 "$work/QuillodineGUI.ini" | tr -d '\r'; }
# Types into the input field: the profile list has the focus first, the input field comes next.
type_input() {
  key Tab
  xdotool type --delay 40 "$1"
  sleep 0.5
}
recording() {
  "$tsgen" hd "$work/$1" --seconds "$2" >/dev/null
  echo "Z:${work//\//\\}\\$1"
}

case $case_name in
defaults)
  start_gui
  preview=$(probe text main 1048)
  [ "$preview" = "-EIT -ECM -EMM -SD -1SEG " ] || fail "preview: '$preview'"
  [ "$(probe enabled main 1)" = 0 ] || fail "変換 is enabled without input"
  [ "$(probe text main 1054)" = "前回の設定" ] || fail "profile list: $(probe text main 1054)"
  [ "$(probe text main 0)" = "QuillodineGUI　－　Ver1.23" ] || fail "caption: $(probe text main 0)"
  [ "$(probe text main 1021)" = "5,7,0" ] || fail "overlap box"
  [ "$(probe enabled main 1007)" = 1 ] && [ "$(probe enabled main 1020)" = 0 ] || fail "dependent controls"
  shot main-dialog
  exit_gui
  [ -f "$work/QuillodineGUI.ini" ] || fail "no INI written at exit"
  ini | grep -qx '\[Parameter\]' || fail "no [Parameter] section"
  keys=$(ini | sed -n '/^\[Parameter\]/,/^\[/p' | grep '=' | cut -d= -f1 | tr '\n' ' ')
  want="EIT ECM EMM HD SD SD1 SD2 SD3 1SEG CS CsServiceNo PID PIDNo NULL OUT OutPath BUFF BuffSize SEP SEP2 SEP3 OVL OvlSet SEPA SEPA2 SEPA3 SEPACUT GOP GOPONLY GOPCH GOPONLYCH GOPTIME GOPONLYTIME PTS B25 B252 B253 B25EMM LOG LOGFILE FLEN UNI WAIT WaitMsec WAIT2 Wait2Msec "
  [ "$keys" = "$want" ] || fail "keys: $keys"
  ini | grep -qx 'EIT=1' && ini | grep -qx 'SD=0' && ini | grep -qx 'OvlSet=5,7,0' || fail "values"
  ini | grep -qx 'ParaList=0' && ini | grep -q '^WindowX=' || fail "main section"
  ;;
convert)
  path=$(recording rec.ts 4)
  start_gui
  type_input "$path"
  [ "$(probe text main 1048)" = "-EIT -ECM -EMM -SD -1SEG \"$path\"" ] || fail "preview: $(probe text main 1048)"
  shot main-dialog-with-input
  key Return
  wait_for 'probe exists run' 30 || fail "no run window"
  wait_for 'probe text run 1053 | grep -q rec.ts' 30 || fail "no output in the run window"
  shot run-window-running
  wait_for 'probe text run 1053 | grep -q "終了しました。"' 120 || fail "no end line: $(probe text run 1053)"
  [ "$(probe text main 0)" = "終了 - QuillodineGUI　－　Ver1.23" ] || fail "caption: $(probe text main 0)"
  [ "$(probe text run 2)" = "閉じる" ] || fail "button: $(probe text run 2)"
  probe text run 1053 | grep -q '100%' || fail "no final progress line"
  shot run-window-ended
  [ -s "$work/rec_HD.ts" ] || fail "no rec_HD.ts"
  key Escape
  wait_for '! probe exists run' 20 || fail "run window stays"
  [ "$(probe text main 0)" = "QuillodineGUI　－　Ver1.23" ] || fail "caption not restored"
  exit_gui
  ini | grep -qx '\[CmdExeDlg\]' && ini | grep -qx 'WindowCX=600' || fail "run window placement: $(ini)"
  ;;
help)
  start_gui
  probe click main 1052
  wait_for 'probe exists run' 30 || fail "no run window"
  wait_for 'probe text run 1053 | grep -q "終了しました。"' 120 || fail "no end line"
  probe text run 1053 | grep -q '使い方: Quillodine' || fail "no usage text: $(probe text run 1053)"
  shot help-run-window
  key Escape
  wait_for '! probe exists run' 20 || fail "run window stays"
  exit_gui
  ;;
stop)
  path=$(recording long.ts 20)
  start_gui
  type_input "$path"
  # A pause after every read keeps the child busy for a minute.
  probe click main 1050
  probe settext main 1059 50
  sleep 1
  probe text main 1048 | grep -q -- '-WAIT,50 ' || fail "preview: $(probe text main 1048)"
  key Return
  wait_for 'probe exists run' 30 || fail "no run window"
  wait_for '[ "$(probe text run 2)" = "強制終了" ]' 30 || fail "button: $(probe text run 2)"
  wait_for 'probe text main 0 | grep -q "% - QuillodineGUI"' 30 || fail "no progress caption: $(probe text main 0)"
  shot stop-running
  xdotool windowfocus --sync "$(xdotool search --name '^Quillodine.exe$' | head -n 1)" 2>/dev/null || true
  key Escape
  wait_for 'probe exists question' 20 || fail "no question"
  shot stop-question
  key Return
  wait_for 'probe text run 1053 | grep -q "強制終了しました。"' 30 || fail "no stop line: $(probe text run 1053)"
  [ "$(probe text run 2)" = "閉じる" ] || fail "button after the stop"
  probe text main 0 | grep -q "% - QuillodineGUI" || fail "caption lost its progress: $(probe text main 0)"
  shot stop-stopped
  key Escape
  wait_for '! probe exists run' 20 || fail "run window stays"
  exit_gui
  ;;
about)
  start_gui
  key alt+slash
  wait_for 'probe exists about' 20 || fail "no About box"
  shot about-box
  key Return
  wait_for '! probe exists about' 20 || fail "About box stays"
  exit_gui
  ;;
drop)
  # A pointer drag under Wine is unreliable: gui_probe makes the drop handle inside the front end
  # (drop_hook.dll) and posts WM_DROPFILES, as the shell does after a drag. "表" ends in the byte
  # 0x5C in code page 932.
  first=$(recording 録画表.ts 2)
  second=$(recording rec2.ts 2)
  defaults='-EIT -ECM -EMM -SD -1SEG '
  start_gui
  probe drop main "$first" "$second" || fail "drop of two files"
  both="\"$first\" \"$second\""
  wait_for '[ "$(probe text main 1000)" = "$both" ]' 10 || fail "input field: $(probe text main 1000)"
  [ "$(probe text main 1048)" = "$defaults$both" ] || fail "preview: $(probe text main 1048)"
  probe drop main "$first" || fail "drop of one file"
  wait_for '[ "$(probe text main 1000)" = "$first" ]' 10 || fail "input field: $(probe text main 1000)"
  [ "$(probe text main 1048)" = "$defaults\"$first\"" ] || fail "preview: $(probe text main 1048)"
  [ "$(probe enabled main 1)" = 1 ] || fail "変換 is not enabled after the drop"
  shot main-dialog-dropped
  xdotool windowfocus --sync "$(main_window)" 2>/dev/null || true
  key Return
  wait_for 'probe exists run' 30 || fail "no run window"
  wait_for 'probe text run 1053 | grep -q "終了しました。"' 120 || fail "no end line: $(probe text run 1053)"
  [ -s "$work/録画表_HD.ts" ] || fail "no 録画表_HD.ts: $(ls "$work")"
  key Escape
  wait_for '! probe exists run' 20 || fail "run window stays"
  exit_gui
  ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
