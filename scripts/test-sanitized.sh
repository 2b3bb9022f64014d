#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UBSan into ./build-asan and runs every test there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
KTR_BUILD_DIR=build-asan KTR_BUILD_TYPE=Debug KTR_CMAKE_ARGS=-DKTR_SANITIZE=ON scripts/build.sh
# A sanitizer report fails this run even when the test that met it passes when run again: AddressSanitizer
# writes each to a file of its own; UBSan (which leaves its reports on the test's output in this combined build)
# is found in the run's output.
REPORTS=$PWD/build-asan/sanitizer-reports
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
# The crash-handler tests crash on purpose and check our own handler: AddressSanitizer leaves the fatal
# signals to it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:log_path=$REPORTS/asan}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$PWD/scripts/ubsan.supp}
# The instrumented build runs several times slower: a test that missed one of its time limits gets a second run.
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600 --repeat until-pass:2 "$@" \
    2>&1 | tee build-asan/sanitized-run.log || status=$?
if grep -q -E "runtime error:|ERROR: (Address|Leak|Undefined)Sanitizer" build-asan/sanitized-run.log; then
    echo "sanitizer reports in the output above (runtime error / Sanitizer ERROR)" >&2
    status=1
fi
if compgen -G "$REPORTS/*" >/dev/null; then
    echo "sanitizer reports:" >&2
    for report in "$REPORTS"/*; do
        echo "--- $report" >&2
        cat "$report" >&2
    done
    exit 1
fi
exit "$status"
