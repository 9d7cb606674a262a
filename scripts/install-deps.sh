#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, only when some are missing.
#   install-deps.sh test   everything for building and running the tests
#   install-deps.sh run    everything for building and running the app
#   install-deps.sh bench  the test set plus the benchmark's comparison libraries
set -euo pipefail
# ffmpeg: the tests read the substitute sink writer's files with ffprobe and ffmpeg.
# wixl builds the installer (scripts/make-msi.sh); msitools reads it back in the tests.
packages=(cmake make g++ googletest g++-mingw-w64-x86-64-posix wine64 xvfb ffmpeg imagemagick python3 bc
          wixl msitools)
case "${1:-test}" in
    run) ;;  # the test set has what the run needs (imagemagick for the screenshot)
    bench) packages+=(libfftw3-dev libopencv-dev procps) ;;  # procps: pgrep finds the app's process
esac
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
