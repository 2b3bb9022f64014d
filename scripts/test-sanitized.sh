#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UBSan into ./build-asan and runs every test there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
KTR_BUILD_DIR=build-asan KTR_BUILD_TYPE=Debug KTR_CMAKE_ARGS=-DKTR_SANITIZE=ON scripts/build.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600 "$@"
