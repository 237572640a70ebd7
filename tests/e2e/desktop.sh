#!/bin/sh
# The application as a desktop program: without a display it says so in one line and exits 1;
# on a virtual X display its screen window comes back at the size and place it had, follows
# resizing, and a second launch brings it to the front with the keyboard.
# Usage: desktop.sh VANTREL_BINARY WORK_DIR. Exit 77 (skipped) when the display tools are missing.
set -u
app="$1"
work="$2"
for tool in xvfb-run xdotool xev; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work/config/vantrel" "$work/runtime"
chmod 700 "$work/runtime"
fail() { echo "FAIL: $*"; exit 1; }

# No display at all.
env -u DISPLAY -u WAYLAND_DISPLAY -u VANTREL_HEADLESS -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR \
  "$app" >"$work/nodisplay.out" 2>"$work/nodisplay.err"
status=$?
[ "$status" = 1 ] || fail "without a display the exit status is $status, not 1"
[ "$(wc -l <"$work/nodisplay.err")" = 1 ] || { cat "$work/nodisplay.err"; fail "not one line"; }
grep -q "display" "$work/nodisplay.err" || fail "the line does not mention the display"

unset VANTREL_HEADLESS VANTREL_SCREEN_SIZE SDL_VIDEODRIVER
export APP="$app" WORK="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export VANTREL_SNAPSHOT_PATH="$work/screen.png"
echo "60 40 900 640" >"$work/config/vantrel/screen"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  result() { echo "$1" >"$WORK/result"; }
  "$APP" >"$WORK/app.log" 2>&1 &
  pid=$!
  win=""; i=0
  while [ $i -lt 100 ] && [ -z "$win" ]; do
    win=$(xdotool search --onlyvisible --name "^Vantrel$" 2>/dev/null | head -n 1)
    [ -z "$win" ] && sleep 0.1
    i=$((i + 1))
  done
  [ -n "$win" ] || { result "no window appeared"; kill $pid; exit 0; }
  sleep 0.5
  size=$(xdotool getwindowgeometry "$win" | sed -n "s/.*Geometry: //p")
  [ "$size" = "900x640" ] || { result "came back at $size, not 900x640"; kill $pid; exit 0; }
  # Resized by the user (here by the tool): remembered for the next run.
  xdotool windowsize "$win" 1000 700
  i=0
  while [ $i -lt 50 ] && ! grep -q " 1000 700$" "$XDG_CONFIG_HOME/vantrel/screen"; do
    sleep 0.1; i=$((i + 1))
  done
  grep -q " 1000 700$" "$XDG_CONFIG_HOME/vantrel/screen" ||
    { result "size not remembered: $(cat "$XDG_CONFIG_HOME/vantrel/screen")"; kill $pid; exit 0; }
  # The screen the windows live on took the new size (not a scaled picture of the old one).
  kill -USR1 $pid
  i=0
  while [ $i -lt 50 ] && [ ! -s "$VANTREL_SNAPSHOT_PATH" ]; do sleep 0.1; i=$((i + 1)); done
  sleep 0.2
  dims=$(od -An -j16 -N8 -tx1 "$VANTREL_SNAPSHOT_PATH" | tr -d " \n")
  [ "$dims" = "000003e8000002bc" ] || { result "the screen is not 1000x700: $dims"; kill $pid; exit 0; }
  # Another program has the keyboard; a second launch hands over and brings us back.
  xev -geometry 300x200+700+100 >/dev/null 2>&1 &
  xevpid=$!
  other=""; i=0
  while [ $i -lt 50 ] && [ -z "$other" ]; do
    other=$(xdotool search --onlyvisible --name "Event Tester" 2>/dev/null | head -n 1)
    [ -z "$other" ] && sleep 0.1
    i=$((i + 1))
  done
  xdotool windowfocus --sync "$other" 2>/dev/null
  [ "$(xdotool getwindowfocus)" = "$other" ] || { result "could not focus the other window"; kill $pid $xevpid; exit 0; }
  "$APP" >"$WORK/second.log" 2>&1
  second=$?
  [ "$second" = 0 ] || { result "the second launch ended with $second"; kill $pid $xevpid; exit 0; }
  i=0
  while [ $i -lt 50 ] && [ "$(xdotool getwindowfocus)" != "$win" ]; do sleep 0.1; i=$((i + 1)); done
  [ "$(xdotool getwindowfocus)" = "$win" ] || { result "the running window did not get the keyboard"; kill $pid $xevpid; exit 0; }
  kill $xevpid
  kill -TERM $pid
  i=0
  while kill -0 $pid 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  kill -0 $pid 2>/dev/null && { kill -9 $pid; result "did not quit"; exit 0; }
  result ok
'
r=$(cat "$work/result" 2>/dev/null || echo "no result")
[ "$r" = ok ] || { cat "$work/app.log" 2>/dev/null; fail "$r"; }
echo "desktop behaviour ok"
