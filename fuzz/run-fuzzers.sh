#!/usr/bin/env bash
# Builds the fuzz targets (the "fuzz" preset: clang-14, libFuzzer, ASan, UBSan)
# and runs each one for a fixed time on a scratch copy of its seed corpus, so
# that no new corpus file lands in the repository. Prints per target the
# executions, executions per second, the corpus size and the coverage reached.
# Exits non-zero when a target crashes, leaks, times out or breaks a property;
# the input that did it is kept under <build dir>/fuzz-artifacts/.
#
#   bash fuzz/run-fuzzers.sh                  every target, 10 s each
#   bash fuzz/run-fuzzers.sh 600              every target, 10 minutes each
#   bash fuzz/run-fuzzers.sh 600 registry     one target
#
# KESTROVAN_FUZZ_BUILD_DIR chooses another build directory (default
# build/fuzz); KESTROVAN_FUZZ_NO_BUILD=1 runs what is built already.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

seconds=${1:-10}
shift || true
all_targets=(xor_frame_codec sum_frame_codec stm8_file_loader line_file_loader registry update_flag)
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=("${all_targets[@]}")
fi
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target] [target...]" >&2
    exit 2
fi

build_dir=${KESTROVAN_FUZZ_BUILD_DIR:-build/fuzz}
if [ "${KESTROVAN_FUZZ_NO_BUILD:-0}" != 1 ]; then
    ensure_packages cmake ninja-build clang-14 libclang-rt-14-dev
    cmake --preset fuzz -B "$build_dir" >/dev/null
    cmake --build "$build_dir" --target fuzzers
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrovan-fuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts="$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"

# Field after "name:" in libFuzzer's last status line.
status_field() {
    grep -E '^#[0-9]+' "$2" | tail -n 1 | grep -oE "$1: [0-9/a-zA-Z]+" | head -n 1 | cut -d' ' -f2
}
final_stat() {
    grep -E "^stat::$1:" "$2" | tail -n 1 | awk '{print $2}'
}

failed=()
printf '%-18s %12s %9s %14s %6s %7s\n' target executions exec/s corpus cov ft
for target in "${targets[@]}"; do
    binary="$build_dir/fuzz/${target}_fuzzer"
    if [ ! -x "$binary" ]; then
        echo "$target: no fuzz target $binary" >&2
        failed+=("$target")
        continue
    fi
    corpus="$scratch/$target"
    mkdir -p "$corpus"
    cp fuzz/corpus/"$target"/* "$corpus"/
    log="$scratch/$target.log"
    # -max_len 8192: room for the codecs' 5120-byte receive buffer to overflow.
    # -timeout 10: an input that takes seconds is a fault here.
    status=0
    "$binary" "$corpus" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$log" 2>&1 || status=$?
    executions=$(final_stat number_of_executed_units "$log")
    rate=$(final_stat average_exec_per_sec "$log")
    printf '%-18s %12s %9s %14s %6s %7s\n' "$target" "${executions:-?}" "${rate:-?}" \
        "$(status_field corp "$log")" "$(status_field cov "$log")" "$(status_field ft "$log")"
    if [ "$status" -ne 0 ]; then
        echo "---- $target failed (exit $status); last lines of its log:" >&2
        tail -n 40 "$log" >&2
        echo "---- reproduce with: $binary $artifacts/$target-<file>" >&2
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz targets failed: ${failed[*]}" >&2
    exit 1
fi
echo "all fuzz targets ran ${seconds} s each without a crash"
