#!/usr/bin/env bash
# Installs, builds, starts the portal on the loopback with demo data, on a free port, and
# opens the browser on it (under Xvfb when there is no display). Every file of the demo is
# kept in build/tadpole-demo/, the browser's program folder for the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh

demo="$PWD/build/tadpole-demo"
mkdir -p "$demo"
cp build/tadpole/tadpole build/tadpole/terminate "$demo/"
log="$demo/portal.log"
build/tadpole/tadpole-portal --demo --port 0 --db "sqlite:$demo/portal.sqlite" >"$log" 2>&1 &
portal=$!
trap 'kill $portal 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q "^listening on" "$log" && break; sleep 0.1; done
address=$(sed -n 's|^listening on http://\([^/]*\)/tad/$|\1|p' "$log")
[ -n "$address" ] || { cat "$log"; exit 1; }
printf '[portal]\nloopback = %s\n' "$address" >"$demo/tadpole.conf.new"
mv "$demo/tadpole.conf.new" "$demo/tadpole.conf"

echo "Demo portal: http://$address/tad/ (its database and log, and the browser's files, are in $demo/)."
echo "To stop: close the browser with its STOP button, or press Ctrl+C here; either stops the portal too."
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$demo/tadpole" 1
else
  echo "No display: running under Xvfb (screen 1280x800)."
  xvfb-run -a -s "-screen 0 1280x800x24" "$demo/tadpole" 1
fi
