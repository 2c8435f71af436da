#!/usr/bin/env bash
# A desktop session for the installed tsl-gate, as a user has it, and the acceptance scenario in it.
# Starts, in a private home under OUTDIR and on its own Xvfb display with a window manager (openbox)
# and a tray (trayer), on a private session bus with its accessibility bus:
#   tsl-devcloud (registrar, portal, TLS broker; codes are confirmed at the portal by the scenario),
#   tsl-devsim (a sensor and a watchdog, driven through a FIFO), after tsl-historyseed wrote four
#   hours of the sensor's history,
# and runs tests/acceptance/acceptance.py, which starts tsl-gate and drives it through AT-SPI.
# Screenshots of each step and summary.txt end up in OUTDIR.
#   session.sh PREFIX OUTDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Inside the private session bus: accessibility bus, window manager, tray, devices, scenario.
if [ "${1:-}" = "--in-session" ]; then
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    for _ in $(seq 100); do xprop -root AT_SPI_BUS 2>/dev/null | grep -q unix: && break; sleep 0.05; done
    openbox >"$TSL_WORK/openbox.log" 2>&1 &
    desktop=($!)
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
        >"$TSL_WORK/trayer.log" 2>&1 &
    desktop+=($!)
    rc=0
    "$TSL_BIN/tsl-devsim" --sensor ACC-S1 --temp ACC-S1=21.5 --watchdog ACC-W1 --ctl "$TSL_CTL" --no-stdin -- \
        bash "$here/scenario.sh" --outdir "$TSL_OUT" >"$TSL_WORK/devsim.log" 2>&1 || rc=$?
    kill "${desktop[@]}" 2>/dev/null || true
    exit $rc
fi

prefix=$(realpath -m "$1")
out=$(realpath -m "$2")
bin=$prefix/bin
[ -x "$bin/tsl-gate" ] && [ -x "$bin/tsl-devsim" ] && [ -x "$bin/tsl-devcloud" ] && [ -x "$bin/tsl-historyseed" ] \
    || { echo "session: tsl-gate, tsl-devsim, tsl-devcloud and tsl-historyseed must be installed in $prefix" >&2; exit 2; }
mkdir -p "$out"
work=$(mktemp -d /tmp/tsl-session.XXXXXX)
home=$work/home
mkdir -p "$home/.config/tessel.pro" "$home/.local/share" "$home/.cache" "$home/run"
chmod 700 "$home/run"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
export XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$home/run
printf '[Updates]\nAuto=false\n' >"$XDG_CONFIG_HOME/tessel.pro/TSL-Gate.conf"
# Hours of the sensor's history before the session, so its trend has something to show.
"$bin/tsl-historyseed" --thing thx9_100_ACC-S1 --hours 4 --from 17 --to 21.5

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    cp "$work"/*.log "$out/" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/tsl-devcloud" --data "$work/devcloud" --configure-gateway >"$work/devcloud.out" 2>"$work/devcloud.log" &
pids+=($!)
for _ in $(seq 300); do grep -q '^READY' "$work/devcloud.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^READY' "$work/devcloud.out" || { cat "$work/devcloud.log" >&2; exit 1; }
setting() { sed -n "s|^$1=||p" "$work/devcloud.out"; }
export TSL_GATE_CA_BUNDLE TSL_PORTAL TSL_CONSOLE
TSL_GATE_CA_BUNDLE=$(setting TSL_GATE_CA_BUNDLE)
TSL_PORTAL="$(setting Web/Cloud)/things"
TSL_CONSOLE="-h 127.0.0.1 -p $(setting Cloud/Port) --cafile $TSL_GATE_CA_BUNDLE --cert $(setting CONSOLE_CERT) --key $(setting CONSOLE_KEY)"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x720x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

mkfifo "$work/devices"
export TSL_BIN=$bin TSL_WORK=$work TSL_OUT=$out TSL_CTL=$work/devices
rc=0
dbus-run-session -- "$here/session.sh" --in-session 2> >(grep -v 'Failed to set fd limit' >"$work/dbus.log") || rc=$?
[ -f "$out/summary.txt" ] && cat "$out/summary.txt"
[ $rc -eq 0 ] || { echo "session: the scenario failed ($rc); logs in $out" >&2; tail -n 30 "$work/devsim.log" >&2 || true; }
exit $rc
