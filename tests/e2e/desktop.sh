#!/bin/sh
# The application as a desktop program: without a display, or with one that does not answer, it
# says so in one line and exits 1; on a virtual X display its screen window shows the icon, comes
# back at the size and place it had, follows resizing, and a second launch brings it to the front
# with the keyboard, while a launch on another display starts there; a first run on a small
# screen fits it.
# Usage: desktop.sh VANTREL_BINARY WORK_DIR. Exit 77 (skipped) when the display tools are missing.
set -u
fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill $pid ${xevpid:-} 2>/dev/null; exit 1; }
# Waits up to ten seconds for a command to succeed (the machine may be busy).
waitfor() { i=0; until "$@"; do [ $i -ge 100 ] && return 1; sleep 0.1; i=$((i + 1)); done; }

visible() { win=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1); [ -n "$win" ]; }
gone() { ! kill -0 $pid 2>/dev/null; }

if [ "${1:-}" = --small-display ]; then  # a first run on a 1024x600 screen
  "$APP" >"$WORK/small.log" 2>&1 &
  pid=$!
  waitfor visible "^Vantrel$" || fail "no window appeared"
  sleep 0.5
  visible "^Vantrel$"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  [ "$WIDTH" -le 1024 ] && [ "$HEIGHT" -le 600 ] && [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] ||
    fail "opened at ${WIDTH}x${HEIGHT}+$X+$Y, not inside the 1024x600 screen"
  kill -TERM $pid
  waitfor gone || { kill -9 $pid; fail "did not quit"; }
  exit 0
fi

if [ "${1:-}" = --two-displays ]; then  # one instance per display
  "$APP" >"$WORK/first.log" 2>&1 &
  pid=$!
  waitfor visible "^Vantrel$" || fail "no window on the first display"
  n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  waitfor test -e "/tmp/.X11-unix/X$n" || fail "the second display did not start"
  DISPLAY=":$n" "$APP" >"$WORK/second-display.log" 2>&1 &
  pid2=$!
  onsecond() { DISPLAY=":$n" xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1; }
  waitfor onsecond || { kill $pid2 $xpid; fail "a launch on another display showed nothing there"; }
  kill -0 $pid2 2>/dev/null || { kill $xpid; fail "the second launch handed over instead"; }
  kill -TERM $pid2
  kill -TERM $pid
  waitfor gone || { kill -9 $pid; kill $xpid; fail "did not quit"; }
  kill $xpid
  exit 0
fi

if [ "${1:-}" = --on-display ]; then  # the part run on the virtual display
  "$APP" >"$WORK/app.log" 2>&1 &
  pid=$!
  waitfor visible "^Vantrel$" || fail "no window appeared"
  sleep 0.5  # SDL may make the window again for its renderer: the one left is ours
  visible "^Vantrel$"
  app=$win
  # The icon the window manager shows (task bars, switchers).
  xprop -id "$app" _NET_WM_ICON | grep -q "^_NET_WM_ICON(CARDINAL)" ||
    fail "no icon: $(xprop -id "$app" _NET_WM_ICON)"
  size=$(xdotool getwindowgeometry "$app" | sed -n "s/.*Geometry: //p")
  [ "$size" = "900x640" ] || fail "came back at $size, not 900x640"
  # Resized by the user (here by the tool): remembered for the next run.
  xdotool windowsize "$app" 1000 700
  waitfor grep -q " 1000 700$" "$XDG_CONFIG_HOME/vantrel/screen" ||
    fail "size not remembered: $(cat "$XDG_CONFIG_HOME/vantrel/screen")"
  # The screen the windows live on took the new size (not a scaled picture of the old one).
  kill -USR1 $pid
  waitfor test -s "$VANTREL_SNAPSHOT_PATH"
  sleep 0.2
  dims=$(od -An -j16 -N8 -tx1 "$VANTREL_SNAPSHOT_PATH" | tr -d " \n")
  [ "$dims" = "000003e8000002bc" ] || fail "the screen is not 1000x700: $dims"
  # Another program has the keyboard; a second launch hands over and brings us back.
  xev -geometry 300x200+700+100 >/dev/null 2>&1 &
  xevpid=$!
  waitfor visible "Event Tester" || fail "no other window"
  other=$win
  xdotool windowfocus --sync "$other" 2>/dev/null
  [ "$(xdotool getwindowfocus)" = "$other" ] || fail "could not focus the other window"
  "$APP" >"$WORK/second.log" 2>&1 || fail "the second launch ended with $?"
  focused() { [ "$(xdotool getwindowfocus)" = "$app" ]; }
  waitfor focused || fail "the running window did not get the keyboard"
  kill $xevpid
  kill -TERM $pid
  waitfor gone || { kill -9 $pid; fail "did not quit"; }
  exit 0
fi

for tool in xvfb-run Xvfb xdotool xev xprop; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 77; }
done
work="$2"
rm -rf "$work"
mkdir -p "$work/config/vantrel" "$work/runtime"
chmod 700 "$work/runtime"

# No display at all.
env -u DISPLAY -u WAYLAND_DISPLAY -u VANTREL_HEADLESS -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR \
  "$1" >"$work/nodisplay.out" 2>"$work/nodisplay.err"; status=$?
[ "$status" = 1 ] || fail "without a display the exit status is $status, not 1"
[ "$(wc -l <"$work/nodisplay.err")" = 1 ] || { cat "$work/nodisplay.err"; fail "not one line"; }
grep -q "display" "$work/nodisplay.err" || fail "the line does not mention the display"
# A display that does not answer: one line naming it.
env -u WAYLAND_DISPLAY -u VANTREL_HEADLESS -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR DISPLAY=:89 \
  "$1" >"$work/baddisplay.out" 2>"$work/baddisplay.err"; status=$?
[ "$status" = 1 ] || fail "with DISPLAY=:89 the exit status is $status, not 1"
[ "$(cat "$work/baddisplay.err")" = "Vantrel: cannot open the X display \":89\"" ] ||
  fail "with DISPLAY=:89 it said: $(cat "$work/baddisplay.err")"

unset VANTREL_HEADLESS VANTREL_SCREEN_SIZE SDL_VIDEODRIVER
export APP="$1" WORK="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export VANTREL_SNAPSHOT_PATH="$work/screen.png"
echo "60 40 900 640" >"$work/config/vantrel/screen"
xvfb-run -a -s "-screen 0 1280x800x24" sh "$0" --on-display || { cat "$work/app.log"; exit 1; }
xvfb-run -a -s "-screen 0 1280x800x24" sh "$0" --two-displays || { cat "$work/first.log"; exit 1; }
# A first run on a screen smaller than the default size fits it.
rm -f "$work/config/vantrel/screen"
xvfb-run -a -s "-screen 0 1024x600x24" sh "$0" --small-display || { cat "$work/small.log"; exit 1; }
echo "desktop behaviour ok"
