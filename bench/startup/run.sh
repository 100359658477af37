#!/usr/bin/env bash
# Start-up benchmark: tadpole to child 1's menu loaded vs a bare web view on
# the same page, alternating, against the local demo portal.
# usage: bench/startup/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build="${1:-build}"
runs="${2:-7}"
work=$(mktemp -d)
trap 'kill $portal 2>/dev/null || true; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

"$build/tadpole/tadpole-portal" --demo --port 0 --db "sqlite:$work/p.sqlite" >"$work/out" 2>&1 &
portal=$!
for _ in $(seq 100); do grep -q listening "$work/out" 2>/dev/null && break; sleep 0.05; done
base=$(sed -n 's|^listening on \(http://[^ ]*\)$|\1|p' "$work/out")
host=${base#http://}; host=${host%/tad/}
mkdir -p "$work/tadpole"
cp "$build/tadpole/terminate" "$work/tadpole/"
printf '[portal]\nloopback=%s\n[browsers]\nnames=no-such-browser\n' "$host" >"$work/tadpole/tadpole.conf"

# Warm-up so the file cache is the same for both.
"$build/bench/startup/bench_startup" minimal "${base}tad_menu.asp?t=1&userid=1" >/dev/null 2>&1
rm -f "$work/tadpole/userid.id"
"$build/bench/startup/bench_startup" tadpole "$work/tadpole/" >/dev/null 2>&1
id=$(tr -d '\r\n' <"$work/tadpole/userid.id")
menu="${base}tad_menu.asp?t=1&userid=${id}"

# The third program is a bare view that shows the start page first, then the
# menu, as the program does: what the two pages cost without the program.
t=(); m=(); s=()
for _ in $(seq "$runs"); do
  t+=("$("$build/bench/startup/bench_startup" tadpole "$work/tadpole/" 2>/dev/null | awk '{print $2}')")
  m+=("$("$build/bench/startup/bench_startup" minimal "$menu" 2>/dev/null | awk '{print $2}')")
  s+=("$("$build/bench/startup/bench_startup" minimal "${base}tad_start.asp" "$menu" 2>/dev/null | awk '{print $2}')")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
tm=$(median "${t[@]}"); mm=$(median "${m[@]}"); sm=$(median "${s[@]}")
echo "tadpole start-up to menu loaded:   ${t[*]} ms (median $tm)"
echo "minimal web view on the menu:      ${m[*]} ms (median $mm)"
echo "minimal view, start page then menu: ${s[*]} ms (median $sm)"
awk -v a="$tm" -v b="$mm" 'BEGIN {printf "ratio: %.2f (target <= 1.15)\n", a / b}'
awk -v a="$sm" -v b="$mm" -v c="$tm" 'BEGIN {printf "the two pages alone: %.2f; the program beyond them: %.2f\n", a / b, c / a}'
