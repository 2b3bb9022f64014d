#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, when any is missing.
# The one package list of the project lives here; run.sh and test.sh call this script.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev
    libssl-dev libarchive-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
    libx11-dev libxcb1-dev libxcb-keysyms1-dev libxss-dev libxi-dev libxtst-dev libxfixes-dev libxrandr-dev
    libxcb-shm0-dev libxcb-xtest0-dev libxcb-xfixes0-dev libxcb-randr0-dev libx11-xcb-dev
    xvfb xauth xdotool fonts-wqy-microhei adwaita-icon-theme hicolor-icon-theme ffmpeg
    xdg-utils unzip zip python3 trayer dbus-daemon qt6-translations-l10n curl
    desktop-file-utils openbox icewm fluxbox clang-format
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
