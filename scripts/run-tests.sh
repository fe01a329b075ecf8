#!/usr/bin/env bash
# Builds Kestrovan out of tree and runs every test suite. Installs the Debian
# packages it needs first. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${KESTROVAN_BUILD_PACKAGES[@]}"

jobs=$(nproc)
echo "== default build (RelWithDebInfo)"
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
echo "== all tests passed"
