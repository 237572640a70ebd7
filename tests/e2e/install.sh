#!/bin/sh
# Installs the build into a temporary DESTDIR and checks what a desktop needs of it: the
# programs, the resource file the installed application finds, a valid desktop entry with the
# movie MIME types, and the icons.
# Usage: install.sh BUILD_DIR WORK_DIR
set -u
build="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /opt/vantrel >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
root="$work/root/opt/vantrel"
for f in bin/Vantrel bin/movie-info bin/effect-render bin/vantrel-snapshot \
         share/vantrel/Vantrel.rsrc.json share/applications/vantrel.desktop \
         share/icons/hicolor/256x256/apps/vantrel.png share/icons/hicolor/scalable/apps/vantrel.svg; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
[ -x "$root/bin/Vantrel" ] || fail "bin/Vantrel is not executable"
# Nothing lands outside the prefix.
[ "$(ls "$work/root")" = "opt" ] || fail "files outside the prefix: $(ls "$work/root")"

desk="$root/share/applications/vantrel.desktop"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$desk" || fail "desktop-file-validate"
fi
for type in video/quicktime video/mp4 video/x-matroska; do
  grep -q "^MimeType=.*$type;" "$desk" || fail "no MIME type $type"
done
grep -q '^Exec=Vantrel %F$' "$desk" || fail "Exec line"

# The icon is a 256 by 256 PNG: signature, then the IHDR width and height.
png="$root/share/icons/hicolor/256x256/apps/vantrel.png"
[ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "icon is no PNG"
[ "$(od -An -j16 -N8 -tx1 "$png" | tr -d ' \n')" = "0000010000000100" ] || fail "icon is not 256x256"

# The installed programs find the installed resource file: a damaged copy stops the installed
# snapshot tool, the good one lets it run the application.
rsrc="$root/share/vantrel/Vantrel.rsrc.json"
cp "$rsrc" "$work/rsrc.good"
echo '{ broken' >"$rsrc"
VANTREL_HEADLESS=1 "$root/bin/vantrel-snapshot" "$work/shot.png" >"$work/snap.log" 2>&1 &&
  fail "the installed program did not read the installed resource file"
cp "$work/rsrc.good" "$rsrc"
VANTREL_HEADLESS=1 "$root/bin/vantrel-snapshot" "$work/shot.png" >"$work/snap.log" 2>&1 ||
  { cat "$work/snap.log"; fail "the installed vantrel-snapshot"; }
[ -s "$work/shot.png" ] || fail "no snapshot from the installed program"
echo "installed into $work/root"
