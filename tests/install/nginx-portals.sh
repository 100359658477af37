#!/usr/bin/env bash
# Two portals on one PostgreSQL database behind nginx, with the example
# configuration: each of 300 ticks and unticks sent through nginx, by 20
# installations, shows in the menu read through nginx right after it; each
# installation is answered by one instance, and both answer some.
# usage: nginx-portals.sh BUILD_DIR   (run under pg_virtualenv)
source "$(dirname "$0")/common.sh"
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
[ -n "${PGPORT:-}" ] || skip "no PostgreSQL server: run under pg_virtualenv"
command -v nginx >/dev/null || skip "nginx is not installed"
command -v curl >/dev/null || skip "curl is not installed"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# No password in --db, where ps shows it: the portals find libpq's PGPASSWORD.
db="postgresql://$PGUSER@$PGHOST:$PGPORT/$PGDATABASE"
ports=()
for n in 1 2; do
  extra=(); [ "$n" = 1 ] && extra=(--demo)
  start_portal "portal $n" "$build/tadpole/tadpole-portal" --port 0 --max-per-address 0 --max-writes-per-minute 0 --db "$db" --access-log "$work/access$n.log" "${extra[@]}"
  ports+=("${host#*:}")
done

front=$(free_port)
{
  echo "pid $work/nginx.pid; error_log $work/nginx.err; events {}"
  echo "http { access_log off; client_body_temp_path $work; proxy_temp_path $work;"
  sed -e "s/127.0.0.1:8642/127.0.0.1:${ports[0]}/" -e "s/127.0.0.1:8643/127.0.0.1:${ports[1]}/" \
      -e "s/listen 8080;/listen 127.0.0.1:$front;/" "$source_dir/portal/examples/nginx-tadpole-portal.conf"
  echo "}"
} >"$work/nginx.conf"
nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' >"$work/nginx.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do curl -fs "http://127.0.0.1:$front/tad/version.htm" >/dev/null && break; sleep 0.1; done
base="http://127.0.0.1:$front/tad"
curl -fs "$base/version.htm" >/dev/null || { cat "$work/nginx.err" "$work/nginx.out"; fail "nginx does not answer"; }

# "Link Pond" is ticked for child 1 only in the demo data; each write ticks or unticks it for
# child 2 of one of the installations, and the read right after must show that.
item=$(curl -fs "$base/tad_available.asp?t=2&userid=3000000000000000000" | awk -F'\t' '$2 == "Link Pond" {print $1}')
[ -n "$item" ] || fail "no Link Pond in the site list"
declare -A ticked
for round in $(seq 300); do
  user=$((3000000000000000000 + round % 20 * 7919))
  checked=True; [ "${ticked[$user]:-False}" = True ] && checked=False
  ticked[$user]=$checked
  # One curl, one connection: the read leaves as soon as the write is answered.
  menu=$(curl -fs -o /dev/null "$base/tad_saveitem.asp?item=$item&checked=$checked&t=2&userid=$user" \
              "$base/tad_menu.asp?t=2&userid=$user") || fail "write or read $round refused"
  has=False; grep -q 'Link Pond' <<<"$menu" && has=True
  [ "$has" = "$checked" ] || fail "read $round: the menu shows Link Pond: $has, right after checked=$checked"
done
for n in 1 2; do
  grep -q 'tad_menu.asp' "$work/access$n.log" || fail "portal $n answered no menu: nginx did not share the load"
done
for k in $(seq 0 19); do
  user=$((3000000000000000000 + k * 7919))
  [ "$(grep -l "userid=$user" "$work"/access?.log | wc -l)" = 1 ] || fail "installation $user was answered by both portals"
done
echo "300 reads right after their writes all showed them"
