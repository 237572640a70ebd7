#!/bin/sh
# Configures and builds quietly for `make run`: nothing on success, the compiler's and CMake's
# messages on failure, and (only on a terminal) one progress line that rewrites itself.
# Usage: quiet-build.sh BUILD_DIR JOBS
set -u
build="$1"
jobs="$2"
mkdir -p "$build"
log="$build/build.log"
tty=false
[ -t 2 ] && tty=true
# Everything but the lines that only report progress: what is left is what went wrong.
problems() {
  grep -v -E '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\]|(Entering|Leaving) directory|^-- |^Consolidate compiler|^gmake|^make' "$log"
}
if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1; then
  problems >&2
  exit 1
fi
status_file="$build/.build-status"
rm -f "$status_file"
{
  MAKEFLAGS="${MAKEFLAGS:-} --no-print-directory" cmake --build "$build" -j"$jobs" 2>&1
  echo $? >"$status_file"
} | tee "$log" | if $tty; then
  # The build's own percentages, on one line.
  while IFS= read -r line; do
    case "$line" in
      \[*%\]*) printf '\r  %s' "$(printf '%s' "$line" | cut -c1-6)" >&2 ;;
    esac
  done
  printf '\r      \r' >&2
else
  cat >/dev/null
fi
status=$(cat "$status_file" 2>/dev/null || echo 1)
rm -f "$status_file"
if [ "$status" != 0 ]; then
  problems >&2
  exit 1
fi
exit 0
