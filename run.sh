#!/usr/bin/env bash
# Installs what is missing, builds and starts the panel.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh
exec "${KTR_BUILD_DIR:-build}/src/app/kestrune-panel" "$@"
