# Sourced by the install tests (their one argument is the build folder): a work folder that goes at the end with every
# process listed in `pids`, the verdicts, the packages built and a portal started.
set -euo pipefail
build=$1
work=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
build_packages() { # into $work/debs
  cpack --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
}
start_portal() { # a name for its output, then its command line; sets `host` to the host:port it listens on
  local out="$work/$1.out" name=$1
  shift
  "$@" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^listening on' "$out" && break; sleep 0.1; done
  host=$(sed -n 's|^listening on http://\([^/]*\)/tad/$|\1|p' "$out")
  [ -n "$host" ] || { cat "$out"; fail "$name did not start"; }
}
