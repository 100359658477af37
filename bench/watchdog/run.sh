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
work=$(mktemp -d)
xserver=""
trap '[ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true; rm -rf "$work"' EXIT
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

QT_QPA_PLATFORM=offscreen "$bench" tick "$ticks"
echo

if command -v Xvfb >/dev/null 2>&1; then
  # -displayfd picks a free display and writes its number once it listens;
  # no TCP, only the local socket.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.err" &
  xserver=$!
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  if [ -s "$work/display" ]; then
    DISPLAY=":$(tr -d '\n' <"$work/display")" QT_QPA_PLATFORM=xcb "$bench" tick "$ticks"
  else
    echo "Xvfb did not start: $(cat "$work/xvfb.err")"
  fi
  kill "$xserver" 2>/dev/null || true
  wait "$xserver" 2>/dev/null || true
  xserver=""
  echo
else
  echo "Xvfb is not installed: the X11 title search was not timed"
  echo
fi

"$bench" idle "$seconds"
