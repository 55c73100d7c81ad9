#!/usr/bin/env bash
# The package's program run as root from a system prefix writes nothing
# below that prefix: the browser engine's data goes to root's cache folder.
# The package is unpacked below /opt (a system prefix, like /usr) rather
# than installed, and the program opens an address nobody answers, which
# is enough for the engine to set up its data folder.
#   check_root_run.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
if [ "$(id -u)" -ne 0 ]; then
  echo "root run: skipped, it needs root"
  exit 0
fi
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$(mktemp -d /opt/orv-dashboard-check.XXXXXX)
home=$(mktemp -d)
pid=
cleanup() {
  [ -z "$pid" ] || kill -- "-$pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$prefix" "$home"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$prefix"
(cd "$prefix" && find . | sort) > "$home/before"
cache="$home/cache/orvsoftware/EdgeCache"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -m 700 "$home/runtime"

# A session of its own, so that ending it ends the engine's processes too.
(cd "$home" && exec env -u DBUS_SESSION_BUS_ADDRESS HOME="$home" XDG_CACHE_HOME="$home/cache" \
  XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" \
  ORV_DASHBOARD_SITE_URL=http://127.0.0.1:9 ORV_DASHBOARD_API_URL=http://127.0.0.1:9 \
  QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:$port" QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu QT_QPA_PLATFORM=xcb \
  setsid xvfb-run -a -s "-screen 0 1600x1000x24" "$prefix/usr/bin/orv-dashboard" > "$home/output" 2>&1) &
pid=$!

# The engine has set up its data folder, wherever it is, once it lists its
# page over DevTools and the folder is in the cache or the prefix changed.
changed() { ! (cd "$prefix" && find . | sort) | cmp -s - "$home/before"; }
for _ in $(seq 600); do
  if curl -s "http://127.0.0.1:$port/json/list" 2> /dev/null | grep -q '"type": "page"' && { [ -d "$cache" ] || changed; }; then
    break
  fi
  kill -0 "$pid" 2> /dev/null || fail "orv-dashboard ended early:"$'\n'"$(cat "$home/output")"
  sleep 0.1
done
kill -- "-$pid"
wait "$pid" 2> /dev/null || true
pid=

(cd "$prefix" && find . | sort) > "$home/after"
diff "$home/before" "$home/after" > "$home/diff" || fail "the run as root wrote below its prefix:"$'\n'"$(cat "$home/diff")"
[ -d "$cache" ] || fail "no engine data in $cache:"$'\n'"$(cat "$home/output")"
echo "root run: nothing written below the prefix; engine data in the cache folder"
