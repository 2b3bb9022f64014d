#!/usr/bin/env bash
# Configures (once) and builds the project into ./build with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${KTR_BUILD_DIR:-build}
export CCACHE_BASEDIR="$PWD"
# The debug build's objects name the folder they were built in; without hashing it, a fresh clone elsewhere
# (CI's, a worktree) reuses the cache instead of compiling everything again.
export CCACHE_NOHASHDIR=1
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${KTR_BUILD_TYPE:-RelWithDebInfo} ${KTR_CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
