#!/usr/bin/env bash
# Installs both packages into this system, runs the installed portal and the
# installed browser with a home folder of the test's own, then removes them and
# checks that nothing of theirs is left. Changes the system, so it runs wherever
# it can do that: as root, with dpkg and apt-get. TADPOLE_SKIP_INSTALLED=1 skips
# it on purpose (a developer's own machine, say).
# usage: installed.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
[ "${TADPOLE_SKIP_INSTALLED:-}" != 1 ] || skip "TADPOLE_SKIP_INSTALLED=1"
[ "$(id -u)" -eq 0 ] || skip "installs packages into the system: needs root"
command -v dpkg >/dev/null && command -v apt-get >/dev/null || skip "needs dpkg and apt-get"
if dpkg-query -W tadpole tadpole-portal >/dev/null 2>&1; then
  skip "tadpole or tadpole-portal is installed already; this test would remove it"
fi
trap 'DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tadpole tadpole-portal >/dev/null 2>&1 || true; cleanup' EXIT

build_packages
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$work"/debs/tadpole_*.deb \
  "$work"/debs/tadpole-portal_*.deb >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "the packages do not install"; }
files=$(dpkg -L tadpole tadpole-portal | sort -u)
[ -x /usr/bin/tadpole ] && [ -x /usr/bin/tadpole-portal ] && [ -x /usr/libexec/tadpole/terminate ] || fail "programs missing"

# The unit, with its limits, starts and serves where systemd runs the machine.
if [ -d /run/systemd/system ]; then
  systemctl restart tadpole-portal.service || fail "the unit does not start"
  page=""
  for _ in $(seq 50); do page=$(exec 3<>/dev/tcp/127.0.0.1/8642 && printf 'GET /tad/tad_getface.asp?userid=1 HTTP/1.0\r\n\r\n' >&3 && cat <&3) && break; sleep 0.1; done
  grep -q 'Child 1' <<<"$page" || { journalctl -u tadpole-portal.service --no-pager | tail -20; fail "the unit's portal does not answer"; }
  systemctl stop tadpole-portal.service
else
  echo "systemd does not run this machine: the unit is not started here"
fi

start_portal "the installed portal" /usr/bin/tadpole-portal --demo --port 0 --db "sqlite:$work/portal.sqlite" --access-log "$work/access.log"

# The browser's program folder is the home's data folder: it holds no helper,
# so the watchdog and every face start the installed one.
export HOME="$work/home"
unset XDG_DATA_HOME
mkdir -p "$HOME/.local/share/tadpole"
printf '[portal]\nloopback=%s\n[browsers]\nnames=e2e-other-browser\n' "$host" >"$HOME/.local/share/tadpole/tadpole.conf"
cp "$(command -v sleep)" "$work/e2e-other-browser"
"$work/e2e-other-browser" 120 &
other=$!
pids+=("$other")
QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 /usr/bin/tadpole 1 >"$work/browser.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do grep -q 'tad_menu.asp?t=1' "$work/access.log" 2>/dev/null && break; sleep 0.1; done
grep -q 'tad_menu.asp?t=1' "$work/access.log" || { cat "$work/browser.log"; fail "the installed browser never asked for the first menu"; }
grep -q 'not installed' "$work/browser.log" && fail "the browser did not find its installed helper"
for _ in $(seq 100); do kill -0 "$other" 2>/dev/null || break; sleep 0.1; done
kill -0 "$other" 2>/dev/null && fail "the installed helper did not end the other browser"

for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
wait 2>/dev/null || true
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tadpole tadpole-portal >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "the packages do not remove"; }
left=$(while read -r path; do if [ -f "$path" ]; then echo "$path"; fi; done <<<"$files")
[ -z "$left" ] || fail "left behind: $left"
echo "installed, ran and removed cleanly"
