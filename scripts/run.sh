#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program in the current
# directory (where it keeps its settings file RYV_travok.CFG).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh" run
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target ryv_demo
exec "$root/build/ryv_demo"
