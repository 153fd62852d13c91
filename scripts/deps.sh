#!/usr/bin/env bash
# Installs the Debian packages that are missing, with apt-get as root
# (directly or through sudo).
#   deps.sh run    what building and running the program need
#   deps.sh test   that and what the tests add (the default)
set -euo pipefail
# Building and running: compiler and CMake, Qt 6, Qt's own translations,
# the fonts the windows are laid out with, and ALSA and libsndfile for the
# sound-card input and its recordings.
run_packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libasound2-dev libsndfile1-dev
  fonts-dejavu-core fonts-liberation
)
# Testing: GoogleTest and Google Benchmark, an X server driven from outside
# with screenshots, PDF pages as pixels, the fuzzing compiler, and the
# package checks.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick poppler-utils libxml2-utils python3
  clang libclang-rt-14-dev
  dpkg-dev file lintian appstream
)
case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
