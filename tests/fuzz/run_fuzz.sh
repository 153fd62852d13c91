#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each of them for
# FUZZ_SECONDS (default 60) on a scratch copy of the committed seed corpus.
# Exits non-zero when a target crashes, times out or breaks a property; the
# input that did it is left in the scratch directory's artifacts folder,
# whose path is printed. The last line counts the targets that passed and
# failed.
#
# Environment:
#   FUZZ_SECONDS       run time per target, seconds (default 60)
#   FUZZ_TARGETS       targets to run (default: all six)
#   FUZZ_BUILD_DIR     build folder (default: <repo>/build-fuzz)
#   FUZZ_WORK_DIR      scratch folder for corpora, logs and artifacts
#                      (default: a new temporary directory, kept)
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
targets="${FUZZ_TARGETS:-fuzz_settings fuzz_text_reader fuzz_binary_reader fuzz_spe_reader fuzz_n42_reader fuzz_csv_reader}"
# The targets write their spectrum and settings files on every run: keep
# them on a memory file system when there is one.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
work="${FUZZ_WORK_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/ryv-fuzz-run.XXXXXX")}"

cxx="$(command -v clang++ || command -v clang++-14 || true)"
if [ -z "$cxx" ]; then
    echo "run_fuzz.sh: clang++ is needed" >&2
    exit 2
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ -f "$build/CMakeCache.txt" ]; then
    cmake "$build" >/dev/null || exit 2
else
    cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 2
fi
cmake --build "$build" -j"$(nproc)" || exit 2

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

status=0
summary=""
passed=0
failed=0
for target in $targets; do
    case "$target" in
        fuzz_settings) seeds=settings ;;
        fuzz_text_reader) seeds=text ;;
        fuzz_binary_reader) seeds=binary ;;
        fuzz_spe_reader) seeds=spe ;;
        fuzz_n42_reader) seeds=n42 ;;
        fuzz_csv_reader) seeds=csv ;;
        *) echo "run_fuzz.sh: unknown target $target" >&2; exit 2 ;;
    esac
    corpus="$work/$target/corpus"
    artifacts="$work/$target/artifacts/"
    log="$work/$target/fuzz.log"
    mkdir -p "$corpus" "$artifacts"
    cp "$here/corpus/$seeds/"* "$corpus/"
    echo "=== $target: ${seconds}s, corpus $corpus"
    "$build/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1
    rc=$?
    last="$(grep -E '^#[0-9]+' "$log" | tail -n 1)"
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    [ -n "$runs" ] || runs="$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")"
    cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")"
    ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")"
    line="$target: executions ${runs:-?}, cov: ${cov:-?} ft: ${ft:-?}, exit $rc"
    echo "$line"
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        status=1
        grep -E 'PROPERTY FAILED|ERROR:|SUMMARY:|runtime error|Test unit written' "$log" | head -n 20
        echo "log: $log"
    fi
    summary+="$line"$'\n'
done
echo "=== summary"
printf '%s' "$summary"
echo "fuzz targets: $passed passed, $failed failed"
exit $status
