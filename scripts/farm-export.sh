#!/usr/bin/env bash
# farm-export.sh MOVIE OUT [parallel options] [-- movie-export options]
#
# Exports MOVIE to OUT (.mp4: H.264, .mov: ProRes, anything else: a folder of PNGs) in chunks
# that GNU parallel makes on the local cores, or on other machines with --sshlogin or
# --sshloginfile, then joins them here with the sound mixed once for the whole movie.
#
#   CHUNKS=N        how many chunks (default: twice the local cores, at least 4)
#   FARM_TRANSFER=1 the machines share no folder: the movie is flattened into one file, sent to
#                   each machine once (--basefile), and each chunk comes back (--return) and is
#                   removed there (--cleanup)
#   MOVIE_EXPORT, MOVIE_FLATTEN  the tools (default: found on PATH; on other machines always
#                   by PATH, from the same Vantrel build)
#
# OUT appears only when the whole export is done; a failed chunk leaves OUT untouched and the
# chunks in OUT's folder as .OUT.chunks for a rerun to skip those that are whole.
set -euo pipefail

usage() {
  echo "usage: farm-export.sh MOVIE OUT [parallel options] [-- movie-export options]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
movie=$1 out=$2
shift 2
popts=() eopts=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then
    shift
    eopts=("$@")
    break
  fi
  popts+=("$1")
  shift
done
[ -r "$movie" ] || { echo "farm-export.sh: cannot read $movie" >&2; exit 1; }
command -v parallel >/dev/null || { echo "farm-export.sh: GNU parallel is not installed" >&2; exit 1; }
export_tool=${MOVIE_EXPORT:-movie-export}
flatten_tool=${MOVIE_FLATTEN:-movie-flatten}
cores=$(nproc 2>/dev/null || echo 2)
chunks=${CHUNKS:-$((cores * 2 > 4 ? cores * 2 : 4))}
case $chunks in '' | *[!0-9]* | 0) echo "farm-export.sh: CHUNKS is a count" >&2; exit 2 ;; esac

case ${out,,} in
  *.mp4 | *.m4v) codec=h264 ext=.mp4 ;;
  *.mov) codec=prores ext=.mov ;;
  *) codec=png ext= ;;
esac
dir=$(dirname -- "$out")
work="$dir/.$(basename -- "$out").chunks"
mkdir -p "$work"
names=()
for ((k = 1; k <= chunks; k++)); do names+=("$(printf 'chunk-%05d%s' "$k" "$ext")"); done

if [ "${FARM_TRANSFER:-0}" = 1 ]; then
  # One self-contained file travels; paths are relative to the work folder here and to the
  # remote working folder there.
  [ -s "$work/movie.mov" ] || "$flatten_tool" "$movie" "$work/movie.mov"
  src=movie.mov
  transfer=(--basefile "$src" --return {2} --cleanup)
  workdir=$work
  remote_export=movie-export
else
  src=$(realpath -- "$movie")
  transfer=()
  workdir=$work
  remote_export=$export_tool
  # A tool given by a relative path must still be found from the work folder.
  [[ $remote_export == */* ]] && remote_export=$(realpath -- "$remote_export")
fi

# Whole chunks are kept from an earlier run: each is written under a temporary name.
todo=()
for ((k = 1; k <= chunks; k++)); do
  [ -e "$work/${names[k - 1]}" ] || todo+=("$k ${names[k - 1]}")
done
if [ ${#todo[@]} -gt 0 ]; then
  q() { [ $# -eq 0 ] || printf '%q ' "$@"; }
  (cd "$workdir" && printf '%s\n' "${todo[@]}" |
    parallel --colsep ' ' --halt now,fail=1 "${transfer[@]}" "${popts[@]}" \
      "$(q "$remote_export" "$src") {2} --chunk {1}/$chunks --codec $codec $(q "${eopts[@]}")")
fi

chunk_paths=()
for n in "${names[@]}"; do chunk_paths+=("$work/$n"); done
range=()
for ((i = 0; i < ${#eopts[@]}; i++)); do
  case ${eopts[i]} in --from | --to) range+=("${eopts[i]}" "${eopts[i + 1]}") ;; esac
done
"$export_tool" "$movie" --join "$out" "${chunk_paths[@]}" "${range[@]}"
rm -rf -- "$work"
