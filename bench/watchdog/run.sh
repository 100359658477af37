#!/usr/bin/env bash
# Watchdog benchmark: one tick offscreen and, when Xvfb is installed, on a
# throw-away X server of its own; then the idle CPU share of tadpole on
# child 1's menu beside a bare web view on the same page.
# usage: bench/watchdog/run.sh [BUILD_DIR] [SECONDS] [TICKS]
set -euo pipefail
build="${1:-build}"
seconds="${2:-60}"
ticks="${3:-200}"
bench="$build/bench/watchdog/bench_watchdog"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

QT_QPA_PLATFORM=offscreen "$bench" tick "$ticks"
echo
"$bench" tick "$ticks" x11
echo
"$bench" idle "$seconds"
