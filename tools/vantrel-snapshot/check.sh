#!/bin/sh
# Takes each scene and checks that it is a real 1280x800 PNG and that the scenes differ.
set -eu
tool="$1"
out="$2"
mkdir -p "$out"
for scene in main menu about; do
  rm -f "$out/$scene.png"
  "$tool" "$out/$scene.png" --scene "$scene"
  size=$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$out/$scene.png")
  [ "$size" = "1280,800" ] || { echo "$scene: unexpected size '$size'"; exit 1; }
done
if cmp -s "$out/main.png" "$out/menu.png" || cmp -s "$out/main.png" "$out/about.png"; then
  echo "a scene looks like the plain screen"
  exit 1
fi
"$tool" 2>/dev/null && { echo "no arguments should fail"; exit 1; }
echo "scenes ok"
