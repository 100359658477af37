#!/bin/bash
# Portal throughput next to nginx serving a static file of the same size, and the SQLite
# portal again while hostile clients are attached (attackers.py: ATTACK_SLOW slow-header
# connections, default 2000, two clients that never read, and 200 that never read a
# made-up id's 500 longest sites).
#   bench/portal/run-bench.sh [BUILD_DIR]
# Needs: wrk, nginx (nginx-light), python3, and for PostgreSQL pg_virtualenv
# (postgresql-common, postgresql). DURATION in seconds (default 20s), THREADS (portal
# workers, default 2). Not a test: it prints figures.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$(cd "$HERE/../.." && pwd)/build}
PORTAL=$BUILD/tadpole/tadpole-portal
PROBE=$BUILD/bench/portal/portal_httplib_probe
DURATION=${DURATION:-20s}
THREADS=${THREADS:-2}
ATTACK_SLOW=${ATTACK_SLOW:-2000}
USERID=2026120612000012345

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Runs wrk and prints one line: label, requests/s, p99 latency, errors.
measure() {
    local label=$1 url=$2 out
    out=$(wrk -t2 -c64 -d"$DURATION" --latency "$url")
    local rps p99 errors non2xx
    rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1=="99%" {print $2}' <<<"$out")
    errors=$(awk '/Socket errors/ {gsub(",",""); print $4+$6+$8+$10}' <<<"$out")
    non2xx=$(awk '/Non-2xx/ {print $5}' <<<"$out")
    printf '%-34s %10s req/s   p99 %8s   errors %s\n' "$label" "$rps" "$p99" "$(( ${errors:-0} + ${non2xx:-0} ))"
}

start_portal() {  # DB_URL -> sets PORTAL_PID, PORTAL_PORT
    local fifo=$WORK/portal.out
    "$PORTAL" --port 0 --threads "$THREADS" --db "$1" --no-catalogue --maintainer 900 --max-writes-per-minute 0 >"$fifo" 2>"$WORK/portal.err" &
    PORTAL_PID=$!
    for _ in $(seq 100); do grep -q listening "$fifo" 2>/dev/null && break; sleep 0.1; done
    PORTAL_PORT=$(sed -E 's/.*:([0-9]+)\/tad\/$/\1/' "$fifo")
}

fill_sites() {  # 50 public sites, 25 ticked for child 1 of USERID
    local base=http://127.0.0.1:$PORTAL_PORT/tad
    for i in $(seq 1 50); do
        curl -sf -o /dev/null "$base/tad_postsite.asp?url=http%3A%2F%2Fsite$i.example%2F&shortname=Site%20number%20$i&comments=A%20fine%20site%20for%20children%20number%20$i&AgeFrom=3&AgeTo=12&LogoLoc=S_gif.gif&id=0&userid=900&Delete=0&Type=1"
    done
    for i in $(seq 1 2 50); do
        curl -sf -o /dev/null "$base/tad_saveitem.asp?item=$i&checked=True&t=1&userid=$USERID"
    done
    curl -sf -o /dev/null "$base/tad_saveface.asp?userid=$USERID&tface=1&newname=Anna"
}

bench_db() {  # LABEL DB_URL [attacked]
    start_portal "$2"
    fill_sites
    local base=http://127.0.0.1:$PORTAL_PORT/tad
    curl -s "$base/tad_getface.asp?userid=$USERID" >"$WORK/www/getface.txt"
    curl -s "$base/tad_available.asp?t=1&userid=$USERID" >"$WORK/www/available.txt"
    measure "portal $1 tad_getface" "$base/tad_getface.asp?userid=$USERID"
    measure "portal $1 tad_available (50)" "$base/tad_available.asp?t=1&userid=$USERID"
    if [ "${3:-}" = attacked ]; then
        # Bounded by its own clock too: both runs, the connecting, and a margin.
        python3 "$HERE/attackers.py" "$PORTAL_PORT" $(( ${DURATION%s} * 2 + 60 )) "$ATTACK_SLOW" 2 \
            >"$WORK/attackers.out" 2>"$WORK/attackers.err" &
        local attackers=$!
        for _ in $(seq 600); do grep -q ready "$WORK/attackers.out" 2>/dev/null && break; sleep 0.1; done
        python3 "$HERE/attackers.py" --big-list "$PORTAL_PORT" "$PORTAL_PID" 200 $(( ${DURATION%s} * 2 + 60 )) \
            >"$WORK/big.out" 2>&1 &
        local big=$!
        for _ in $(seq 600); do grep -q "big list" "$WORK/big.out" 2>/dev/null && break; sleep 0.1; done
        echo "  attached: $(sed 's/^ready: //' "$WORK/attackers.out")"
        echo "  $(cat "$WORK/big.out")"
        measure "portal $1 tad_getface, attacked" "$base/tad_getface.asp?userid=$USERID"
        measure "portal $1 tad_available, attacked" "$base/tad_available.asp?t=1&userid=$USERID"
        kill "$attackers" "$big"; wait "$attackers" "$big" || true
        echo "  $(cat "$WORK/attackers.err")"
    fi
    kill "$PORTAL_PID"; wait "$PORTAL_PID" || true
}

if [ "${1:-}" = "--postgres-inside" ]; then
    # Re-entered under pg_virtualenv with PG* set.
    WORK=$2; PORTAL=$3; THREADS=$4; DURATION=$5
    bench_db postgresql "postgresql://$PGUSER:$PGPASSWORD@$PGHOST:$PGPORT/$PGDATABASE" attacked
    exit 0
fi

WORK=$(mktemp -d)
chmod 755 "$WORK"
mkdir -p "$WORK/www"
trap 'kill $(jobs -p) 2>/dev/null || true; [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null; rm -rf "$WORK"' EXIT

echo "wrk -t2 -c64 -d$DURATION; portal --threads $THREADS; $(nproc) cores"
bench_db sqlite "sqlite:$WORK/portal.sqlite" attacked
chmod 644 "$WORK"/www/*
echo "  reply sizes: getface $(stat -c %s "$WORK/www/getface.txt") B, available $(stat -c %s "$WORK/www/available.txt") B"

NGINX_PORT=$(free_port)
cat >"$WORK/nginx.conf" <<CONF
worker_processes 2;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $WORK/www;
        default_type text/plain;
    }
}
CONF
nginx -e "$WORK/nginx-error.log" -c "$WORK/nginx.conf" -p "$WORK"
sleep 0.5
measure "nginx static, getface size" "http://127.0.0.1:$NGINX_PORT/getface.txt"
measure "nginx static, available size" "http://127.0.0.1:$NGINX_PORT/available.txt"
kill "$(cat "$WORK/nginx.pid")"; rm -f "$WORK/nginx.pid"

if [ -x "$PROBE" ]; then
    PROBE_PORT=$(free_port)
    "$PROBE" "$PROBE_PORT" "$THREADS" "$WORK/www/available.txt" >/dev/null &
    PROBE_PID=$!
    sleep 0.5
    measure "cpp-httplib fixed body (compare)" "http://127.0.0.1:$PROBE_PORT/"
    kill "$PROBE_PID"; wait "$PROBE_PID" 2>/dev/null || true
fi

if command -v pg_virtualenv >/dev/null; then
    pg_virtualenv "$0" --postgres-inside "$WORK" "$PORTAL" "$THREADS" "$DURATION" 2>/dev/null \
        | grep -v -e '^Creating' -e '^Dropping' || echo "PostgreSQL run failed"
else
    echo "pg_virtualenv missing: PostgreSQL not measured"
fi
