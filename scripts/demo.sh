#!/usr/bin/env bash
# Installs, builds, starts the portal on the loopback with demo data and opens
# the browser on it (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh

data="${XDG_DATA_HOME:-$HOME/.local/share}/tadpole"
mkdir -p "$data"
log="$data/portal-demo.log"
build/tadpole/tadpole-portal --demo --db "sqlite:$data/portal-demo.sqlite" >"$log" 2>&1 &
portal=$!
trap 'kill $portal 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q "^listening on" "$log" && break; sleep 0.1; done
grep "^listening on" "$log" || { cat "$log"; exit 1; }

[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  build/tadpole/tadpole 1
else
  echo "No display: running under Xvfb (screen 1280x800)."
  xvfb-run -a -s "-screen 0 1280x800x24" build/tadpole/tadpole 1
fi
