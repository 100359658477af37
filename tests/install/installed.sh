#!/usr/bin/env bash
# Installs both packages into this system, runs the installed portal as its unit
# would and the installed browser with no argument from a fresh home folder, then
# removes them and checks that nothing of theirs is left. Changes the system, so it
# runs wherever it can do that: as root, with dpkg and apt-get.
# TADPOLE_SKIP_INSTALLED=1 skips it on purpose (a developer's own machine, say).
# usage: installed.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
[ "${TADPOLE_SKIP_INSTALLED:-}" != 1 ] || skip "TADPOLE_SKIP_INSTALLED=1"
[ "$(id -u)" -eq 0 ] || skip "installs packages into the system: needs root"
command -v dpkg >/dev/null && command -v apt-get >/dev/null || skip "needs dpkg and apt-get"
command -v curl >/dev/null || skip "curl is not installed"
dpkg-query -W tadpole tadpole-portal >/dev/null 2>&1 && skip "tadpole or tadpole-portal is installed; this test would remove it"
state=/var/lib/tadpole-portal
[ ! -e "$state" ] || skip "$state exists: this test would delete it"
(exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null && skip "port 8642 is taken: the installed portal listens there"
purge() { # remove or purge, of the two packages those dpkg still knows
  local known; known=$(dpkg-query -W -f '${Status} ${Package}\n' tadpole tadpole-portal 2>/dev/null | awk '$3 != "not-installed" {print $4}') || true
  [ -z "$known" ] || DEBIAN_FRONTEND=noninteractive apt-get "$1" -y -qq $known >"$work/apt.log" 2>&1
}
trap 'purge purge || true; rm -rf "$state" /var/lib/private/tadpole-portal; cleanup' EXIT

build_packages
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$work"/debs/tadpole_*.deb \
  "$work"/debs/tadpole-portal_*.deb >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "the packages do not install"; }
files=$(dpkg -L tadpole tadpole-portal | sort -u)
# Enabled when first installed; an upgrade (here the same version again) keeps an administrator's disabling.
wants=/etc/systemd/system/multi-user.target.wants/tadpole-portal.service
[ -L "$wants" ] || fail "the first installation did not enable the service"
systemctl disable tadpole-portal.service >/dev/null 2>&1 || rm -f "$wants"
dpkg -i "$work"/debs/tadpole-portal_*.deb >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "the portal's package does not upgrade"; }
[ ! -e "$wants" ] || fail "an upgrade enabled the service again after the administrator disabled it"

# The unit, with its limits, starts and serves where systemd runs the machine.
unit=/usr/lib/systemd/system/tadpole-portal.service
if [ -d /run/systemd/system ]; then
  systemctl restart tadpole-portal.service || fail "the unit does not start"
  page=""
  for _ in $(seq 50); do page=$(exec 3<>/dev/tcp/127.0.0.1/8642 && printf 'GET /tad/tad_getface.asp?userid=1 HTTP/1.0\r\n\r\n' >&3 && cat <&3) && break; sleep 0.1; done
  grep -q 'Child 1' <<<"$page" || { journalctl -u tadpole-portal.service --no-pager | tail -20; fail "the unit's portal does not answer"; }
  systemctl stop tadpole-portal.service
else
  echo "systemd does not run this machine: the installed portal runs as its unit's ExecStart says, here"
  [ "$(sed -n 's/^StateDirectory=//p' "$unit")" = "${state##*/}" ] || fail "the unit's state folder is not $state"
  install -d -m 0700 "$state"
fi
read -ra command <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
start_portal "the installed portal" "${command[@]}"
[ "$host" = 127.0.0.1:8642 ] || fail "the installed portal listens on $host"
sites=$(curl -fs "http://$host/tad/tad_available.asp?t=1&userid=5000000000000000001" | grep -c .) || true
[ "${sites:-0}" -ge 30 ] || fail "a new installation's site list holds $sites sites, not 30 or more"

# The browser's program folder is the fresh home's data folder: it holds no helper, so the
# watchdog and every face start the installed one. Its tadpole.conf names only the other
# browser to end; the portal is the system-wide configuration's.
export HOME="$work/home"
unset XDG_DATA_HOME
mkdir -p "$HOME/.local/share/tadpole"
printf '[browsers]\nnames=e2e-other-browser\n' >"$HOME/.local/share/tadpole/tadpole.conf"
cp "$(command -v sleep)" "$work/e2e-other-browser"
"$work/e2e-other-browser" 120 &
other=$!
pids+=("$other")
debug=$(free_port)
QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:$debug \
  /usr/bin/tadpole >"$work/browser.log" 2>&1 &
browser=$!
pids+=("$browser")
# The pages the browser shows, as its engine's debugging port lists them.
for _ in $(seq 600); do
  curl -fs "http://127.0.0.1:$debug/json/list" >"$work/pages.json" 2>/dev/null && grep -q "http://$host/tad/tad_menu.asp?t=1&userid=" "$work/pages.json" && break
  kill -0 "$browser" 2>/dev/null || break
  sleep 0.1
done
grep -q "http://$host/tad/tad_menu.asp?t=1&userid=" "$work/pages.json" 2>/dev/null \
  || { cat "$work/browser.log" "$work/pages.json"; fail "the installed browser with no argument did not show child 1's menu from the installed portal"; }
kill -0 "$browser" 2>/dev/null || { cat "$work/browser.log"; fail "the browser ended: a box stood in the way"; }
grep -q 'not installed' "$work/browser.log" && fail "the browser did not find its installed helper"
for _ in $(seq 100); do kill -0 "$other" 2>/dev/null || break; sleep 0.1; done
kill -0 "$other" 2>/dev/null && fail "the installed helper did not end the other browser"

for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
wait 2>/dev/null || true
left() { while read -r path; do if [ -f "$path" ]; then echo "$path"; fi; done <<<"$files"; }
purge remove || { cat "$work/apt.log"; fail "the packages do not remove"; }
[ "$(left)" = /etc/tadpole/tadpole.conf ] || fail "removed, left behind: $(left)"
purge purge || { cat "$work/apt.log"; fail "the packages do not purge"; }
[ -z "$(left)" ] || fail "purged, left behind: $(left)"
for path in /etc/tadpole "$state" /var/lib/private/tadpole-portal; do [ ! -e "$path" ] || fail "purged, left behind: $path"; done
[ -z "$(find /etc/systemd /var/lib/systemd -name 'tadpole-portal*' 2>/dev/null)" ] || fail "purged, the service's enabling is left behind"
echo "installed, ran with no argument on the installed portal's catalogue, removed and purged cleanly"
