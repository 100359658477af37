#!/usr/bin/env bash
# Two portals on one PostgreSQL database behind nginx, with the example configuration and a certificate from an
# authority of the test's own: each of 300 ticks and unticks sent through nginx over https, by 20 installations, shows
# in the menu read through nginx right after it; each installation is answered by one instance, and both answer some.
# Then the real browser, which trusts that authority, reaches child 1's menu through nginx over https.
# usage: nginx-portals.sh BUILD_DIR   (run under pg_virtualenv)
source "$(dirname "$0")/common.sh"
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
[ -n "${PGPORT:-}" ] || skip "no PostgreSQL server: run under pg_virtualenv"
command -v nginx >/dev/null || skip "nginx is not installed"
command -v curl >/dev/null || skip "curl is not installed"
command -v certutil >/dev/null || skip "certutil (libnss3-tools) is not installed"
# A certificate authority of the test's own, and a certificate from it for 127.0.0.1.
tls="$work/tls"
mkdir -p "$tls"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 2 -subj "/CN=Tadpole test authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign >/dev/null 2>&1 &&
openssl req -newkey rsa:2048 -nodes -keyout "$tls/privkey.pem" -out "$tls/portal.csr" -subj /CN=127.0.0.1 >/dev/null 2>&1 &&
openssl x509 -req -in "$tls/portal.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 2 -out "$tls/fullchain.pem" \
  -extfile <(printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n') >/dev/null 2>&1 || fail "no test certificate"

# No password in --db, where ps shows it: the portals find libpq's PGPASSWORD.
db="postgresql://$PGUSER@$PGHOST:$PGPORT/$PGDATABASE"
ports=()
for n in 1 2; do
  extra=(); [ "$n" = 1 ] && extra=(--demo)
  start_portal "portal $n" "$build/tadpole/tadpole-portal" --port 0 --max-per-address 0 --max-writes-per-minute 0 --db "$db" --access-log "$work/access$n.log" "${extra[@]}"
  ports+=("${host#*:}")
done

front=$(free_port) plain=$(free_port)
{
  echo "pid $work/nginx.pid; error_log $work/nginx.err; events {}"
  echo "http { access_log off; client_body_temp_path $work; proxy_temp_path $work;"
  sed -e "s/127.0.0.1:8642/127.0.0.1:${ports[0]}/" -e "s/127.0.0.1:8643/127.0.0.1:${ports[1]}/" \
      -e "s/listen 443 ssl;/listen 127.0.0.1:$front ssl;/" -e "s/listen 80;/listen 127.0.0.1:$plain;/" \
      -e "s|/etc/ssl/tadpole-portal/|$work/tls/|" "$source_dir/portal/examples/nginx-tadpole-portal.conf"
  echo "}"
} >"$work/nginx.conf"
nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' >"$work/nginx.out" 2>&1 &
pids+=($!)
base="https://127.0.0.1:$front/tad"
curl() { command curl --cacert "$work/tls/ca.pem" "$@"; }
for _ in $(seq 50); do curl -fs "$base/version.htm" >/dev/null && break; sleep 0.1; done
curl -fs "$base/version.htm" >/dev/null || { cat "$work/nginx.err" "$work/nginx.out"; fail "nginx does not answer over https"; }
[ "$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' "http://127.0.0.1:$plain/tad/version.htm")" = \
  "301 https://127.0.0.1/tad/version.htm" ] || fail "plain http is not sent on to https"

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
[ "$(grep -l 'tad_menu.asp' "$work"/access?.log | wc -l)" = 2 ] || fail "a portal answered no menu: nginx did not share the load"
for user in "${!ticked[@]}"; do
  [ "$(grep -l "userid=$user" "$work"/access?.log | wc -l)" = 1 ] || fail "installation $user was answered by both portals"
done
echo "300 reads right after their writes all showed them"

# The browser, started with no argument, its portal https://127.0.0.1:$front. The test's
# authority is trusted by the web engine through the user's certificate database and by the
# portal requests through the system's certificate folder, replaced for the browser alone.
unshare --mount true 2>/dev/null || skip "cannot make a mount namespace for the certificate folder"
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$HOME/.pki/nssdb" "$XDG_DATA_HOME/tadpole" "$work/bin" "$work/certs"
certutil -N -d "sql:$HOME/.pki/nssdb" --empty-password
certutil -A -d "sql:$HOME/.pki/nssdb" -t C,, -n "Tadpole test authority" -i "$work/tls/ca.pem"
cp -a /etc/ssl/certs/. "$work/certs/" && cp "$work/tls/ca.pem" "$work/certs/tadpole-test.pem" && openssl rehash "$work/certs" 2>/dev/null
printf '[portal]\npublic=https://127.0.0.1:%s\n' "$front" >"$XDG_DATA_HOME/tadpole/tadpole.conf"
cp "$build/tadpole/tadpole" "$work/bin/" # a folder without the name: the program folder is the home's
QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 unshare --mount sh -c \
  'mount --bind "$1" /etc/ssl/certs && exec "$2"' - "$work/certs" "$work/bin/tadpole" >"$work/browser.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do grep -q 'tad_menu.asp?t=1&userid=20' "$work"/access?.log && break; sleep 0.1; done
grep -q 'tad_menu.asp?t=1&userid=20' "$work"/access?.log || { cat "$work/browser.log"; fail "the browser did not reach child 1's menu over https"; }
echo "the browser reached child 1's menu through nginx over https"
