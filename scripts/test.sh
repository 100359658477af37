#!/usr/bin/env bash
# Installs, builds and runs the whole test suite. No display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
# QtWebEngine's sandbox cannot run as root.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
cd build
ctest --output-on-failure -j2 --timeout 600
