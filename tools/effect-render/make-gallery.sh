#!/bin/sh
# Makes the effects gallery: every built-in effect at 50% on two generated test pictures,
# rendered by effect-render and tiled with labels, a sheet of the shader-style transitions at
# 40%, one of every SMPTE pattern and one of every frei0r plugin installed here.
#
#   tools/effect-render/make-gallery.sh BUILD_DIR [OUT_DIR]   (OUT_DIR defaults to docs/gallery)
set -eu
build=${1:?usage: make-gallery.sh BUILD_DIR [OUT_DIR]}
out=${2:-$(dirname "$0")/../../docs/gallery}
render="$build/tools/effect-render/effect-render"
list="$build/tools/effect-list/effect-list"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/tiles" "$work/smpte" "$work/plugins"

ff() { ffmpeg -nostdin -y -loglevel error "$@"; }
label() {  # label IN OUT TEXT
  ff -i "$1" -vf "drawtext=fontfile=$font:text='$3':x=(w-tw)/2:y=h-th-6:fontsize=14:fontcolor=white:box=1:boxcolor=black@0.6:boxborderw=4" "$2"
}

ff -f lavfi -i "testsrc2=size=320x240" -frames:v 1 "$work/A.png"
ff -f lavfi -i "mandelbrot=size=320x240:end_pts=1" -frames:v 1 "$work/B.png"

n=0
"$list" --json | python3 -c '
import json, sys
for e in json.load(sys.stdin):
    if "plugin" not in e:
        print(e["code"], e["sources"], e["name"])' > "$work/effects.txt"
mkdir -p "$work/shader"
ff -i "$work/A.png" -vf scale=160:120 "$work/a2.png"
ff -i "$work/B.png" -vf scale=160:120 "$work/b2.png"
g=0
while read -r code sources name; do
  # The shader-style transitions ('g...') get a sheet of their own, smaller.
  case $code:$sources in
    g???:2)
      g=$((g + 1))
      "$render" --effect "$code" --percent 40 "$work/a2.png" "$work/b2.png" -o "$work/raw.png"
      label "$work/raw.png" "$(printf '%s/shader/%03d.png' "$work" "$g")" "$name"
      continue ;;
  esac
  n=$((n + 1))
  tile=$(printf '%s/tiles/%02d.png' "$work" "$n")
  # Effects whose defaults leave a picture unchanged get showcase settings.
  case $code in
    rgbb) set -- --param rmul=1.4 --param bmul=0.5 ;;
    hsvb) set -- --param hmul=1.5 --param smul=0.6 ;;
    brco) set -- --param brig=30 --param cont=90 ;;
    genk) set -- --param cel5=5 --param cel2=-1 --param cel4=-1 --param cel6=-1 --param cel8=-1 ;;
    *) set -- ;;
  esac
  case $sources in
    0) "$render" --effect "$code" "$@" --percent 50 -o "$work/raw.png" --size 320x240 ;;
    1) "$render" --effect "$code" "$@" --percent 50 "$work/A.png" -o "$work/raw.png" ;;
    *) "$render" --effect "$code" "$@" --percent 50 "$work/A.png" "$work/B.png" -o "$work/raw.png" ;;
  esac
  label "$work/raw.png" "$tile" "$name ($code)"
done < "$work/effects.txt"
ff -framerate 1 -i "$work/tiles/%02d.png" -vf "tile=8x6:padding=4:color=white" -frames:v 1 "$out/effects.png"
ff -framerate 1 -i "$work/shader/%03d.png" -vf "tile=10x8:padding=2:color=white" -frames:v 1 "$out/shader-transitions.png"

# Every SMPTE pattern at 50% (soft edges off, no border), labelled with its ID.
"$list" --json | python3 -c '
import json, sys
for e in json.load(sys.stdin):
    if e["code"] in ("smpt", "smp2", "smp3", "smp4"):
        for p in e["parameters"]:
            if p["code"] == "wpID":
                for v in p["values"]:
                    if v["value"] < 400:
                        print(e["code"], v["value"])' > "$work/patterns.txt"
ff -f lavfi -i "color=c=0x203060:size=160x120" -frames:v 1 "$work/a.png"
ff -f lavfi -i "color=c=0xF0C040:size=160x120" -frames:v 1 "$work/b.png"
n=0
while read -r code id; do
  n=$((n + 1))
  "$render" --effect "$code" --param "wpID=$id" --percent 50 "$work/a.png" "$work/b.png" -o "$work/raw.png"
  label "$work/raw.png" "$(printf '%s/smpte/%03d.png' "$work" "$n")" "$id"
done < "$work/patterns.txt"
ff -framerate 1 -i "$work/smpte/%03d.png" -vf "tile=12x12:padding=2:color=white" -frames:v 1 "$out/smpte-patterns.png"
# Every frei0r plugin with its defaults (mixers on the two pictures), smaller.
"$list" --json | python3 -c '
import json, sys
for e in json.load(sys.stdin):
    if "plugin" in e:
        print(e["sources"], e["plugin"])' > "$work/plugins.txt"
n=0
while read -r sources name; do
  n=$((n + 1))
  case $sources in
    0) set -- --size 160x120 ;;
    1) set -- "$work/a2.png" ;;
    *) set -- "$work/a2.png" "$work/b2.png" ;;
  esac
  "$render" --effect "$name" --percent 50 "$@" -o "$work/raw.png"
  label "$work/raw.png" "$(printf '%s/plugins/%03d.png' "$work" "$n")" "$(echo "$name" | sed "s/[':]/ /g")"
done < "$work/plugins.txt"
if [ "$n" -gt 0 ]; then
  ff -framerate 1 -i "$work/plugins/%03d.png" -vf "tile=12x12:padding=2:color=white" -frames:v 1 "$out/frei0r-plugins.png"
fi
echo "gallery written to $out"
