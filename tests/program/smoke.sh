#!/usr/bin/env bash
# Smoke test of the installed program: installs the build into a private prefix, starts
# bin/tsl-gate on its own Xvfb display with a private home, waits for the window "Tessel Gateway",
# takes a screenshot, checks that a second start hands over to the first and leaves at once, and
# ends the program with SIGTERM, which must shut it down cleanly (exit code 0).
# usage: smoke.sh <build dir> <output dir>
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
prefix=$out/install

fail() {
    echo "smoke: $*" >&2
    [ -f "$out/tsl-gate.log" ] && sed 's/^/  tsl-gate: /' "$out/tsl-gate.log" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >"$out/install.log"
entry=$prefix/share/applications/tsl-gate.desktop
[ -f "$entry" ] || fail "no menu entry installed"
grep -qx "Exec=$prefix/bin/tsl-gate" "$entry" || fail "menu entry does not start $prefix/bin/tsl-gate"
grep -qx "Icon=tsl-gate" "$entry" || fail "menu entry has no icon"
[ -f "$prefix/share/icons/hicolor/256x256/apps/tsl-gate.png" ] || fail "no icon in the hicolor theme"

# A private home, and settings that keep every address on this machine.
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share
export XDG_CACHE_HOME=$out/home/.cache XDG_RUNTIME_DIR=$out/home/run
mkdir -p "$XDG_CONFIG_HOME/tessel.pro" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cat >"$XDG_CONFIG_HOME/tessel.pro/TSL-Gate.conf" <<'CONF'
[Cloud]
Host=127.0.0.1
[Updates]
Auto=false
[Web]
Cloud=http://127.0.0.1:9
RegEndpoint=http://127.0.0.1:9/iot/register
UpdateURL=http://127.0.0.1:9/appcast.json
CONF

# Xvfb picks a free display itself and tells its number.
exec 3>"$out/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$out/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
[ -s "$out/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$out/display")
export QT_QPA_PLATFORM=xcb

"$prefix/bin/tsl-gate" >"$out/tsl-gate.log" 2>&1 &
pid=$!
window=
for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || fail "tsl-gate ended before its window showed"
    window=$(xdotool search --onlyvisible --name '^Tessel Gateway$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled \"Tessel Gateway\""
sleep 1 # let the window paint
import -window root "$out/tsl-gate.png"

# A second start hands "show" to the first and leaves with 0; the first keeps running.
timeout 30 "$prefix/bin/tsl-gate" >"$out/second.log" 2>&1 || fail "second start failed: $(cat "$out/second.log")"
kill -0 "$pid" 2>/dev/null || fail "the first instance ended on the second start"

kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || fail "tsl-gate ended with $rc after SIGTERM"
echo "smoke: ok, screenshot in $out/tsl-gate.png"
