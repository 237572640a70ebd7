#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the application need.
# Quiet and quick when everything is already there.
set -euo pipefail
PKGS=(
  cmake make g++ pkg-config clang-format
  libsdl2-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
  fonts-wqy-microhei  # the smallest font with Chinese and Japanese, for names in those scripts
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libpng-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-utils xdotool
  desktop-file-utils shared-mime-info
  python3 util-linux  # the hostile-file test: its generator, and unshare for a read-only mount
  frei0r-plugins frei0r-plugins-dev  # effect plugins, and the header of their ABI
  parallel  # GNU parallel: batches and chunked exports on local cores and other machines
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
