#!/usr/bin/env bash
# Installs what is missing, builds and runs every test through ctest under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh
BUILD_DIR=${KTR_BUILD_DIR:-build}
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300 "$@"
