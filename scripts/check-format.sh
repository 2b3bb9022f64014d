#!/usr/bin/env bash
# Fails when a C++ source or header of the checkout is not laid out as .clang-format says; prints the places.
# To mend: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
