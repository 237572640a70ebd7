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
[ "$(ls "$work/root")" = "opt" ] || fail "files outside the prefix: $(ls "$work/root")"

desk="$root/share/applications/vantrel.desktop"
desktop-file-validate "$desk" || fail "desktop-file-validate"
for type in video/quicktime video/mp4 video/x-matroska; do
  grep -q "^MimeType=.*$type;" "$desk" || fail "no MIME type $type"
done
grep -q '^Exec=Vantrel %F$' "$desk" || fail "Exec line"

# The icon is a 256 by 256 PNG: signature and the IHDR width and height.
png="$root/share/icons/hicolor/256x256/apps/vantrel.png"
[ "$(od -An -N24 -tx1 "$png" | tr -d ' \n' | sed 's/^\(.\{16\}\).\{16\}/\1/')" = \
  "89504e470d0a1a0a0000010000000100" ] || fail "icon is no 256x256 PNG"

# The installed programs find the installed resource file: the snapshot tool runs the
# application with it, and stops once it is damaged.
snap() { VANTREL_HEADLESS=1 "$root/bin/vantrel-snapshot" "$work/shot.png" >"$work/snap.log" 2>&1; }
snap && [ -s "$work/shot.png" ] || { cat "$work/snap.log"; fail "the installed vantrel-snapshot"; }
echo '{ broken' >"$root/share/vantrel/Vantrel.rsrc.json"
snap && fail "the installed program did not read the installed resource file"
echo "installed into $work/root"
