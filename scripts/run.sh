#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program in build/run
# (where it keeps its settings file RYV_travok.CFG). Without arguments the
# program runs with the simulated detector (--simulate), so that Start
# shows a spectrum growing; arguments are passed on to the program instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh" run
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target ryv_demo
mkdir -p "$root/build/run"
# The program starts in build/run: a file named as --option=FILE relative to
# the folder run.sh was called from is passed on with its full path.
args=()
for a in "$@"; do
  if [[ "$a" == --*=* && "${a#*=}" != /* && -e "${a#*=}" ]]; then
    a="${a%%=*}=$PWD/${a#*=}"
  fi
  args+=("$a")
done
set -- "${args[@]+"${args[@]}"}"
cd "$root/build/run"
if [ "$#" -eq 0 ]; then
  set -- --simulate
fi
exec "$root/build/ryv_demo" "$@"
