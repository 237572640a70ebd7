#!/bin/sh
# Starts the application on a virtual X display, takes a snapshot of the screen, quits it with
# Ctrl+Q and checks that it ended with status 0.
# Usage: smoke.sh VANTREL_BINARY OUTPUT_DIR
# Exit 77 (skipped) when the display tools are missing.
set -u
app="$1"
out="$2"
for tool in xvfb-run xdotool ffmpeg; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 77; }
done
mkdir -p "$out"
rm -f "$out/screen.png" "$out/status"

unset VANTREL_HEADLESS
# A runtime folder of its own: a Vantrel already running for this user must not take the launch.
mkdir -p -m 700 "$out/runtime"
export XDG_RUNTIME_DIR="$out/runtime"
export APP="$app" OUT="$out"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  "$APP" >"$OUT/app.log" 2>&1 &
  pid=$!
  # Wait for the screen window to be mapped: xdotool --sync returns as soon as it is; the
  # deadline is generous because a loaded machine can take many seconds to start the process.
  win=$(timeout 60 xdotool search --sync --onlyvisible --name "." 2>/dev/null | head -n 1)
  if [ -z "$win" ]; then
    if kill -0 $pid 2>/dev/null; then echo "no window appeared in 60 s"; else echo "ended before its window appeared"; fi
    kill $pid 2>/dev/null; echo 90 >"$OUT/status"; exit 0
  fi
  sleep 1
  ffmpeg -loglevel error -y -f x11grab -video_size 1280x800 -i "$DISPLAY" -frames:v 1 \
    "$OUT/screen.png"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus "$win"
  xdotool key --window "$win" ctrl+q
  # Bounded wait for the process to end by itself.
  i=0
  while kill -0 $pid 2>/dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
  if kill -0 $pid 2>/dev/null; then
    echo "still running after Ctrl+Q"; kill -9 $pid; echo 91 >"$OUT/status"; exit 0
  fi
  wait $pid
  echo $? >"$OUT/status"
'
status=$(cat "$out/status" 2>/dev/null || echo 92)
echo "exit status: $status"
if [ ! -s "$out/screen.png" ]; then echo "no snapshot taken"; exit 1; fi
[ "$status" = "0" ] || { cat "$out/app.log" 2>/dev/null; exit 1; }
echo "snapshot: $out/screen.png"
exit 0
