#!/usr/bin/env bash
# Builds Kestrovan out of tree and runs every test suite: the default build
# (with the benchmarks in a short mode), then the suites again under
# AddressSanitizer + UndefinedBehaviorSanitizer and the threaded suites under
# ThreadSanitizer. Installs the Debian packages it needs first.
# Exits non-zero on any failure.
#
#   bash scripts/run-tests.sh            everything (what CI runs)
#   bash scripts/run-tests.sh --quick    the default build only
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${KESTROVAN_BUILD_PACKAGES[@]}"

quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
fi

jobs=$(nproc)
started=$SECONDS
section() { echo; echo "== $1 ($((SECONDS - started)) s so far)"; }

section "default build (RelWithDebInfo)"
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

if [ "$quick" -eq 0 ]; then
    section "AddressSanitizer + UndefinedBehaviorSanitizer"
    cmake --preset asan
    cmake --build --preset asan -j "$jobs"
    # The soak runs a shorter round here; its full round ran in the default build.
    KESTROVAN_SOAK_TRANSFERS=60 \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --preset asan -j "$jobs"

    section "ThreadSanitizer (threaded suites)"
    cmake --preset tsan
    cmake --build --preset tsan -j "$jobs" --target platform_tests engine_tests
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --preset tsan -j "$jobs" -L 'platform|engine'

    section "fuzz targets (15 s each)"
    bash fuzz/run-fuzzers.sh 15
fi

section "the demo, offscreen (family A, then family B)"
QT_QPA_PLATFORM=offscreen DISPLAY= WAYLAND_DISPLAY= bash scripts/run-demo.sh --family a
QT_QPA_PLATFORM=offscreen DISPLAY= WAYLAND_DISPLAY= bash scripts/run-demo.sh --family b

section "all tests passed"
