#!/usr/bin/env python3
"""The fault campaign behind scripts/faults: runs the gateway core (tsl-gated) against a broker that
is killed, devices that come and go, brokers it must not trust and a registrar that misbehaves, and
prints one Markdown table per part. Python 3 standard library only; the programs come from the build
directories scripts/faults hands over.

    faults.py --plain BUILD --asan BUILD --work DIR [--source DIR] [PART...]

PART is any of broker, plug, tls, registrar (default: all). Exits 1 when an expectation fails."""

import argparse
import hashlib
import http.server
import json
import os
import random
import re
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time

# ---- processes --------------------------------------------------------------------------------

STARTED = []  # every process this campaign started, ended at exit by its own process group


class Proc:
    """A started program whose standard output is read line by line, each line with its arrival
    time, so that a part can wait for a line and know when it came."""

    def __init__(self, args, env=None, stdin=False, log=None, cwd=None):
        self.args = [str(a) for a in args]
        self.lines = []  # (monotonic time, text)
        self.cond = threading.Condition()
        self.log = open(log, "w") if log else None
        self.p = subprocess.Popen(
            self.args, env=env, cwd=cwd, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        STARTED.append(self)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    @property
    def pid(self):
        return self.p.pid

    def _read(self):
        for raw in self.p.stdout:
            text = raw.decode("utf-8", "replace").rstrip("\n")
            now = time.monotonic()
            if self.log:
                self.log.write("%.3f %s\n" % (now, text))
                self.log.flush()
            with self.cond:
                self.lines.append((now, text))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def send(self, line):
        self.p.stdin.write((line + "\n").encode())
        self.p.stdin.flush()

    def wait_for(self, pattern, timeout, start=0):
        """(index, time, match) of the first line from index start on that matches, or None."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            i = start
            while True:
                while i < len(self.lines):
                    m = rx.search(self.lines[i][1])
                    if m:
                        return i, self.lines[i][0], m
                    i += 1
                left = deadline - time.monotonic()
                if left <= 0 or (self.p.poll() is not None and not self.reader.is_alive()):
                    return None
                self.cond.wait(min(left, 0.2))

    def count(self):
        with self.cond:
            return len(self.lines)

    def matching(self, pattern, start=0):
        rx = re.compile(pattern)
        with self.cond:
            return [(t, m) for t, s in self.lines[start:] for m in [rx.search(s)] if m]

    def stop(self, sig=signal.SIGTERM, timeout=20):
        """Signals the program (only it: tsl-devsim passes the signal on) and returns its exit code."""
        if self.p.poll() is None:
            try:
                os.kill(self.p.pid, sig)
            except ProcessLookupError:
                pass
            try:
                self.p.wait(timeout)
            except subprocess.TimeoutExpired:
                self.kill_group()
        self.reader.join(5)
        if self.log:
            self.log.close()
            self.log = None
        return self.p.returncode

    def kill_group(self):
        try:
            os.killpg(self.p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            self.p.wait(10)
        except subprocess.TimeoutExpired:
            pass


def end_everything():
    for proc in STARTED:
        if proc.p.poll() is None:
            proc.kill_group()


def descendant(pid, name):
    """The pid of the first descendant of pid whose command name is name, or None."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        rest = stat[stat.rindex(")") + 2:].split()
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        parents.setdefault(int(rest[1]), []).append((int(entry), comm))
    todo = [pid]
    while todo:
        for child, comm in parents.get(todo.pop(), []):
            if comm == name:
                return child
            todo.append(child)
    return None


def proc_status(pid, field):
    """A kB figure of /proc/PID/status (VmRSS, VmHWM), or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def open_fds(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), 0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def mib(kb):
    return "?" if kb is None else "%.1f" % (kb / 1024.0)


# ---- the gateway's files ----------------------------------------------------------------------

def settings_path(home):
    return os.path.join(home, "config", "tessel.pro", "TSL-Gate.conf")


def credential_dir(home):
    return os.path.join(home, "data", "tessel.pro", "TSL-Gate")


def read_settings(home):
    """{"Section/Key": raw value} of the gateway's INI settings file."""
    values, section = {}, ""
    with open(settings_path(home), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line:
                key, value = line.split("=", 1)
                values[key if section == "General" else section + "/" + key] = value
    return values


def set_setting(home, key, value):
    """Replaces or adds one Section/Key of the INI file (the gateway is not running)."""
    section, name = key.split("/", 1)
    with open(settings_path(home), encoding="utf-8") as f:
        lines = f.read().split("\n")
    out, current, done = [], None, False
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            if current == section and not done:
                out.insert(len(out) - (1 if out and out[-1] == "" else 0), "%s=%s" % (name, value))
                done = True
            current = line[1:-1]
        elif current == section and line.startswith(name + "=") and not done:
            line, done = "%s=%s" % (name, value), True
        out.append(line)
    if not done:
        out += ["[%s]" % section, "%s=%s" % (name, value), ""]
    with open(settings_path(home), "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def pool_of(values):
    """The device pool document of the settings: {shortid: regid}."""
    raw = values.get("Devices/Pool", "")
    if raw.startswith('"') and raw.endswith('"'):
        raw = raw[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    doc = json.loads(raw)
    return {"%s_%s_%s" % (d["type"], d["version"], d["serial"]): d.get("regid", "") for d in doc["devices"]}


def file_digest(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except FileNotFoundError:
        return "missing"


# ---- the campaign -----------------------------------------------------------------------------

class Campaign:
    def __init__(self, args):
        self.plain = os.path.abspath(args.plain)
        self.asan = os.path.abspath(args.asan)
        self.source = os.path.abspath(args.source)
        self.work = os.path.abspath(args.work)
        self.cloud = os.path.join(self.work, "cloud")
        self.failures = []
        self.summary = []

    # -- helpers --

    def expect(self, ok, what):
        if not ok:
            self.failures.append(what)
            print("faults: FAILED: " + what, file=sys.stderr, flush=True)
        return ok

    def note(self, text):
        print("faults: " + text, file=sys.stderr, flush=True)

    def env(self, home, **extra):
        env = dict(os.environ)
        for var in ("LD_PRELOAD", "UMOCKDEV_DIR", "TSL_DEVSIM_REEXEC"):
            env.pop(var, None)
        env.update({
            "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_DATA_HOME": os.path.join(home, "data"), "XDG_CACHE_HOME": os.path.join(home, "cache"),
            "XDG_RUNTIME_DIR": os.path.join(home, "run"), "QT_QPA_PLATFORM": "offscreen",
            "TSL_GATE_CA_BUNDLE": os.path.join(self.cloud, "ca.crt"),
        })
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        env.update(extra)
        return env

    def home(self, name, base="base"):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        if base:
            shutil.copytree(os.path.join(self.work, base), path, symlinks=True)
        else:
            os.makedirs(path)
        return path

    def log(self, name):
        os.makedirs(os.path.join(self.work, "logs"), exist_ok=True)
        return os.path.join(self.work, "logs", name + ".log")

    def gated(self, build, devices, gated_args, home, log, env=None, stdin=True):
        """tsl-gated under tsl-devsim with the given devices (["--sensor", "S1", ...])."""
        bindir = os.path.join(build, "bin")
        return Proc([os.path.join(bindir, "tsl-devsim")] + devices + ["--", os.path.join(bindir, "tsl-gated")]
                    + gated_args, env=env or self.env(home), stdin=stdin, log=self.log(log))

    def openssl(self, *args, cwd):
        subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def broker_conf(self, path, port, cert, key, cafile=None, extra=()):
        lines = [
            "log_dest stderr", "log_type all", "connection_messages true",
            "allow_anonymous false", "per_listener_settings false",
            "acl_file " + os.path.join(self.cloud, "broker.acl"),
            "listener %d 127.0.0.1" % port, "cafile " + (cafile or os.path.join(self.cloud, "ca.crt")),
            "certfile " + cert, "keyfile " + key, "require_certificate true", "use_identity_as_username true",
        ] + list(extra)
        if not any(line.startswith("persistence ") for line in extra):
            lines.append("persistence false")
        if os.geteuid() == 0:
            lines.append("user root")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")

    def start_broker(self, conf, log, env=None):
        port = int(re.search(r"^listener (\d+)", open(conf).read(), re.M).group(1))
        broker = Proc(["mosquitto", "-c", conf], env=env, log=self.log(log))
        if not wait_port(port):
            broker.stop()
            raise RuntimeError("mosquitto did not come up on %d (see %s)" % (port, self.log(log)))
        return broker

    # -- set-up: a registered gateway with a sensor and a watchdog --

    def setup(self):
        self.note("registering a gateway with sensor S1 and watchdog W1 at tsl-devcloud")
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        home = self.home("base", base=None)
        self.mqtt_port = free_port()
        cloud = Proc([os.path.join(self.plain, "bin", "tsl-devcloud"), "--data", self.cloud, "--mqtt-port",
                      self.mqtt_port, "--auto-confirm", "200", "--configure-gateway"],
                     env=self.env(home), log=self.log("devcloud"))
        if not cloud.wait_for(r"^READY$", 60):
            raise RuntimeError("tsl-devcloud did not start (see %s)" % self.log("devcloud"))
        gw = self.gated(self.plain, ["--sensor", "S1", "--temp", "S1=20", "--watchdog", "W1", "--no-stdin"],
                        ["--register", "--rescan", "60"], home, "setup", stdin=False)
        done = gw.wait_for(r"^finished ProcReg (.*)", 60)
        connected = gw.wait_for(r"^cloud connected", 30)
        gw.stop()
        cloud.stop()
        result = json.loads(done[2].group(1)) if done else {}
        if not done or "error" in result or not connected:
            raise RuntimeError("the set-up registration failed (see %s)" % self.log("setup"))
        self.gateway_id = result["id"]
        self.regids = {f["id"].rsplit("_", 1)[0]: f["id"].rsplit("_", 1)[1] for f in result["fleet"]}
        self.aliases = {f["id"].rsplit("_", 1)[0]: f["alias"] for f in result["fleet"]}

    # -- part 1: the broker is killed and restarted --

    def part_broker(self, restarts=10, down=2.0, settle=3.0):
        self.note("part 1: broker killed and restarted %d times" % restarts)
        work = os.path.join(self.work, "p1")
        os.makedirs(work)
        home = self.home("home-broker")
        conf = os.path.join(work, "mosquitto.conf")
        # The console's session and the QoS 0 messages queued for it survive a restart, so the
        # count at the console does not depend on who comes back first, gateway or console.
        self.broker_conf(conf, self.mqtt_port, os.path.join(self.cloud, "server.crt"),
                         os.path.join(self.cloud, "server.key"),
                         extra=["persistence true", "persistence_location " + work + "/",
                                "autosave_interval 1", "autosave_on_changes true", "queue_qos0_messages true"])
        broker = self.start_broker(conf, "p1-broker-0")
        topic = "things/thx9_100_S1_%s/state" % self.regids["thx9_100_S1"]
        # mosquitto_sub ends when its connection is lost: one per broker run, same durable session.
        consoles = []

        def console():
            consoles.append(Proc(["mosquitto_sub", "-h", "localhost", "-p", self.mqtt_port, "--cafile",
                                  os.path.join(self.cloud, "ca.crt"), "--cert",
                                  os.path.join(self.cloud, "console.crt"), "--key",
                                  os.path.join(self.cloud, "console.key"), "-t", topic, "-q", "1", "-c", "-i",
                                  "faults-console", "-v"], log=self.log("p1-console-%d" % len(consoles))))

        console()
        gw = self.gated(self.plain, ["--sensor", "S1", "--temp", "S1=-50", "--watchdog", "W1"],
                        ["--report-changes", "--rescan", "60"], home, "p1-gated")
        rows = []
        try:
            if not self.expect(gw.wait_for(r"^cloud connected", 30), "part 1: the gateway did not connect"):
                return
            value = [-50.0]
            ticking = threading.Event()
            ticking.set()

            def tick():
                while ticking.is_set():
                    value[0] += 0.5
                    gw.send("temp S1 %.1f" % value[0])
                    time.sleep(1.0)

            first_tick = gw.count()
            ticker = threading.Thread(target=tick, daemon=True)
            ticker.start()
            time.sleep(settle)
            for n in range(1, restarts + 1):
                mark = gw.count()
                killed = time.monotonic()
                broker.p.send_signal(signal.SIGKILL)
                broker.stop()
                lost = gw.wait_for(r"^cloud disconnected", 10, mark)
                time.sleep(down)
                broker = self.start_broker(conf, "p1-broker-%d" % n)
                up = time.monotonic()
                console()
                back = gw.wait_for(r"^cloud connected", 30, mark)
                changes = len(gw.matching(r"^thing thx9_100_S1 .*\{\"t\":", mark)) if back else 0
                rows.append((n, lost[1] - killed if lost else None, up - killed,
                             back[1] - up if back else None, changes))
                self.expect(back is not None, "part 1: no reconnection after restart %d" % n)
                time.sleep(settle)
            ticking.clear()
            ticker.join()
            time.sleep(3)
        finally:
            gw.stop()
            for c in consoles:
                c.stop()
            broker.stop()

        sent = [float(m.group(1))
                for _, m in gw.matching(r"^thing thx9_100_S1 .*\{\"t\":(-?[0-9.]+)\}", first_tick)]
        received = []
        for _, m in [hit for c in consoles for hit in c.matching(r"^\S+ \{\"t\":(-?[0-9.]+)\}")]:
            v = float(m.group(1))
            if sent and v < sent[0]:
                continue  # from before the first change of the run
            if not received or received[-1] != v:  # a full report repeats the current reading
                received.append(v)
        ordered = all(a < b for a, b in zip(received, received[1:]))
        missing = len(set(sent) - set(received))
        reconnects = [r[3] for r in rows if r[3] is not None]
        print("\n### Broker killed (SIGKILL) and restarted\n")
        print("| restart | gateway saw the loss after (s) | broker down (s) | reconnected after restart (s) "
              "| changes reported meanwhile |")
        print("|---|---|---|---|---|")
        for n, lost, downtime, back, changes in rows:
            print("| %d | %s | %.1f | %s | %d |" % (n, "-" if lost is None else "%.2f" % lost, downtime,
                                                  "never" if back is None else "%.1f" % back, changes))
        print("\n| reports sent (distinct changes) | received at the console | lost | order kept | "
              "reconnect median / max (s) |")
        print("|---|---|---|---|---|")
        print("| %d | %d | %d | %s | %s |" % (
            len(sent), len(received), missing, "yes" if ordered else "NO",
            "%.1f / %.1f" % (sorted(reconnects)[len(reconnects) // 2], max(reconnects)) if reconnects else "-"))
        print("\nThe broker is devcloud's own configuration run by the campaign as a separate mosquitto on "
              "the gateway's port (tsl-devcloud treats the death of its broker as fatal); it keeps the "
              "console's session and queues QoS 0 messages for it, so a console (mosquitto_sub, started "
              "again after each restart) that comes back after the gateway still gets what was sent meanwhile. The sensor changes by 0.5 degrees every "
              "second; tsl-gated runs with --report-changes.")
        self.expect(len(rows) == restarts and len(reconnects) == restarts, "part 1: not every restart reconnected")
        self.expect(all(r <= 12.0 for r in reconnects), "part 1: a reconnection took longer than 12 s")
        self.expect(missing == 0 and len(sent) > 0, "part 1: %d of %d reports lost" % (missing, len(sent)))
        self.expect(ordered, "part 1: reports arrived out of order")
        self.summary.append("broker %d/%d reconnected, %d/%d reports" % (
            len(reconnects), restarts, len(sent) - missing, len(sent)))

    # -- part 2: unplug and replug under ASan --

    def part_plug(self, cycles=100):
        self.note("part 2: %d unplug/replug cycles, tsl-gated under ASan" % cycles)
        home = self.home("home-plug")
        # Reports go to the standard error, read with the program's lines (ASan's log_path crashes
        # at start under the umockdev preload). Full stacks, so a leak inside libcrypto (built
        # without frame pointers) shows who allocated it; a quarantine of 8 MiB instead of 256, so
        # that RSS tells live memory from freed memory ASan holds back.
        env = self.env(home, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0:"
                                          "quarantine_size_mb=8",
                       LSAN_OPTIONS="suppressions=%s:print_suppressions=0" %
                       os.path.join(self.source, "tests", "lsan.supp"),
                       UBSAN_OPTIONS="print_stacktrace=1")
        devices = {"S1": ("sensor", "thx9_100_S1"), "W1": ("watchdog", "watchdog_100_W1")}
        gw = self.gated(self.asan, ["--sensor", "S1", "--temp", "S1=21", "--watchdog", "W1"], ["--rescan", "1"],
                        home, "p2-gated", env=env)
        row_rx = r'^thing %s name="%s" regid=%s '
        pid = None
        back, wrong, slowest, fds, rss = 0, [], 0.0, [], []
        started = time.monotonic()
        try:
            for serial, (_, sid) in devices.items():
                self.expect(gw.wait_for(row_rx % (sid, re.escape(self.aliases[sid]), self.regids[sid]), 60),
                            "part 2: %s did not come up registered" % sid)
            for _ in range(50):
                pid = pid or descendant(gw.pid, "tsl-gated")
                if pid:
                    break
                time.sleep(0.1)
            if not self.expect(pid is not None, "part 2: tsl-gated not found"):
                return
            time.sleep(2)
            fds.append(open_fds(pid))
            rss.append(proc_status(pid, "VmRSS"))
            for n in range(cycles):
                serial = "S1" if n % 2 == 0 else "W1"
                kind, sid = devices[serial]
                mark = gw.count()
                t0 = time.monotonic()
                gw.send("unplug " + serial)
                gone = gw.wait_for(r"^gone %s$" % sid, 20, mark)
                gw.send("plug %s %s" % (kind, serial))
                if kind == "sensor":
                    gw.send("temp S1 21")
                row = gw.wait_for(r'^thing %s name="(.*)" regid=(\S+) ' % sid, 20, gone[0] if gone else mark)
                if gone and row and row[2].group(1) == self.aliases[sid] and row[2].group(2) == self.regids[sid]:
                    back += 1
                else:
                    wrong.append("%d:%s" % (n + 1, serial))
                slowest = max(slowest, time.monotonic() - t0)
                if n == 9:
                    rss.append(proc_status(pid, "VmRSS"))
            time.sleep(3)
            fds.append(open_fds(pid))
            rss.append(proc_status(pid, "VmRSS"))
        finally:
            code = gw.stop(timeout=60)
        elapsed = time.monotonic() - started
        reports = [m.group(0) for _, m in gw.matching(r"(ERROR: \w+Sanitizer.*|runtime error:.*|SUMMARY: .*)")]
        if reports:
            verdict = "REPORT: %s (see %s)" % (reports[-1], self.log("p2-gated"))
        else:
            verdict = "clean" if code == 0 else "exit %s" % code
        print("\n### Unplug and replug, tsl-gated under ASan+UBSan\n")
        print("| cycles | back with alias and regid | fds before / after | RSS MiB before / after 10 / "
              "after %d | slowest cycle (s) | run (s) | ASan at exit |" % cycles)
        print("|---|---|---|---|---|---|---|")
        print("| %d (sensor S1 and watchdog W1 in turn) | %d | %s / %s | %s / %s / %s | %.1f | %.0f | %s |" % (
            cycles, back, fds[0] if fds else "?", fds[-1] if len(fds) > 1 else "?",
            mib(rss[0] if rss else None), mib(rss[1] if len(rss) > 1 else None),
            mib(rss[-1] if len(rss) > 2 else None), slowest, elapsed, verdict))
        print("\ntsl-gated rescans every second; a cycle unplugs the device, waits for its row to go, "
              "plugs it again and waits for its row with the same name and registration id. RSS under "
              "ASan includes its quarantine of freed memory, capped at 8 MiB for this run "
              "(quarantine_size_mb=8).")
        self.expect(back == cycles, "part 2: %d of %d replugs came back wrong or not at all: %s" % (
            cycles - back, cycles, " ".join(wrong[:10])))
        self.expect(len(fds) == 2 and fds[0] == fds[1], "part 2: open descriptors %s" % fds)
        self.expect(len(rss) == 3 and None not in rss and rss[2] - rss[1] <= 12 * 1024,
                    "part 2: RSS grew more than 12 MiB over the last %d cycles" % (cycles - 10))
        self.expect(verdict == "clean", "part 2: ASan verdict %s" % verdict)
        self.summary.append("plug %d/%d, ASan %s" % (back, cycles, verdict))

    # -- part 3: brokers the gateway must refuse and clients the broker must refuse --

    def make_pki(self, pki):
        os.makedirs(pki)
        ca, cakey = os.path.join(self.cloud, "ca.crt"), os.path.join(self.cloud, "ca.key")
        ossl = lambda *a: self.openssl(*a, cwd=pki)
        with open(os.path.join(pki, "san-localhost.cnf"), "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
        with open(os.path.join(pki, "san-wrong.cnf"), "w") as f:
            f.write("subjectAltName=DNS:wrong.example\nbasicConstraints=CA:FALSE\n")
        with open(os.path.join(pki, "client.cnf"), "w") as f:
            f.write("basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n")
        # Another certification authority, and a broker certificate for localhost signed by it.
        ossl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other-ca.key", "-out", "other-ca.crt",
             "-days", "365", "-subj", "/CN=Other CA")

        def leaf(name, cn, signer, signer_key, ext, *dates):
            ossl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                 "-subj", "/CN=" + cn)
            if dates:
                # openssl x509 cannot backdate: a throw-away openssl ca database can.
                db = os.path.join(pki, "db-" + name)
                os.makedirs(db)
                open(os.path.join(db, "index.txt"), "w").close()
                with open(os.path.join(pki, name + "-ca.cnf"), "w") as f:
                    f.write("[ca]\ndefault_ca=d\n[d]\ndir=%s\ndatabase=$dir/index.txt\nnew_certs_dir=$dir\n"
                            "serial=$dir/serial\ndefault_md=sha256\npolicy=p\nunique_subject=no\n"
                            "[p]\ncommonName=supplied\n" % db)
                with open(os.path.join(db, "serial"), "w") as f:
                    f.write("%08X\n" % random.getrandbits(31))
                ossl("ca", "-batch", "-config", name + "-ca.cnf", "-cert", signer, "-keyfile", signer_key,
                     "-in", name + ".csr", "-out", name + ".crt", "-extfile", ext, "-notext",
                     "-startdate", dates[0], "-enddate", dates[1])
            else:
                ossl("x509", "-req", "-in", name + ".csr", "-CA", signer, "-CAkey", signer_key,
                     "-CAcreateserial", "-out", name + ".crt", "-days", "365", "-extfile", ext)

        leaf("other-ca-server", "localhost", "other-ca.crt", "other-ca.key", "san-localhost.cnf")
        leaf("wrong-name", "wrong.example", ca, cakey, "san-wrong.cnf")
        leaf("expired", "localhost", ca, cakey, "san-localhost.cnf", "20200101000000Z", "20210101000000Z")
        leaf("not-yet", "localhost", ca, cakey, "san-localhost.cnf", "20400101000000Z", "20410101000000Z")
        ossl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "self-signed.key", "-out",
             "self-signed.crt", "-days", "365", "-subj", "/CN=localhost", "-addext",
             "subjectAltName=DNS:localhost,IP:127.0.0.1")
        # A gateway identity from the other authority, handed out by a registrar (traditional RSA PEM).
        ossl("genrsa", "-traditional", "-out", "foreign-client.key", "2048")
        ossl("req", "-new", "-key", "foreign-client.key", "-out", "foreign-client.csr", "-subj",
             "/CN=" + self.gateway_id)
        ossl("x509", "-req", "-in", "foreign-client.csr", "-CA", "other-ca.crt", "-CAkey", "other-ca.key",
             "-CAcreateserial", "-out", "foreign-client.crt", "-days", "365", "-extfile", "client.cnf")
        with open(os.path.join(pki, "old-tls.cnf"), "w") as f:
            f.write("openssl_conf = openssl_init\n[openssl_init]\nssl_conf = ssl_sect\n[ssl_sect]\n"
                    "system_default = tls_sect\n[tls_sect]\nMinProtocol = TLSv1\nMaxProtocol = TLSv1.1\n"
                    "CipherString = DEFAULT@SECLEVEL=0\n")

    def attempts(self, home, tries, label):
        """tries fresh tsl-gated runs; [(connected, reason)]."""
        out = []
        for n in range(tries):
            gw = Proc([os.path.join(self.plain, "bin", "tsl-gated"), "--rescan", "3600"], env=self.env(home),
                      log=self.log("p3-%s-%d" % (label, n)))
            hit = gw.wait_for(r"^cloud (connected)|^cloud error: (.*)", 15)
            gw.stop()
            if not hit:
                out.append((False, "nothing within 15 s"))
            else:
                out.append((hit[2].group(1) is not None, hit[2].group(2) or "connected"))
        return out

    def part_tls(self, tries=5):
        self.note("part 3: TLS refusals, %d attempts per case" % tries)
        work = os.path.join(self.work, "p3")
        pki = os.path.join(work, "pki")
        os.makedirs(work)
        self.make_pki(pki)
        p = lambda name: os.path.join(pki, name)
        server = (os.path.join(self.cloud, "server.crt"), os.path.join(self.cloud, "server.key"))
        cases = [
            ("control: the right broker", server, {}, None, True),
            ("broker certificate from another CA", (p("other-ca-server.crt"), p("other-ca-server.key")), {},
             None, False),
            ("broker certificate for another host name", (p("wrong-name.crt"), p("wrong-name.key")), {}, None,
             False),
            ("broker certificate expired", (p("expired.crt"), p("expired.key")), {}, None, False),
            ("broker certificate not yet valid", (p("not-yet.crt"), p("not-yet.key")), {}, None, False),
            ("broker certificate self-signed", (p("self-signed.crt"), p("self-signed.key")), {}, None, False),
            ("broker offering only TLS 1.1 (SECLEVEL=0)", server, {"OPENSSL_CONF": p("old-tls.cnf")}, "old",
             False),
            ("gateway without client certificate", server, {}, "nocred", False),
            ("client certificate from another CA", server, {}, "foreign", False),
        ]
        rows = []
        for label, (cert, key), broker_env, special, should_connect in cases:
            tag = re.sub(r"[^a-z0-9]+", "-", label.lower()).strip("-")[:40]
            port = free_port()
            conf = os.path.join(work, tag + ".conf")
            self.broker_conf(conf, port, cert, key, extra=["tls_version tlsv1.1"] if special == "old" else [])
            env = dict(os.environ)
            env.update(broker_env)
            broker = self.start_broker(conf, "p3-broker-" + tag, env=env)
            home = self.home("home-tls-" + tag)
            set_setting(home, "Cloud/Port", port)
            extra = ""
            try:
                if special == "old":
                    # The broker does speak TLS 1.1 to a client that allows it.
                    probe = subprocess.run(
                        ["openssl", "s_client", "-connect", "127.0.0.1:%d" % port, "-tls1_1", "-cipher",
                         "DEFAULT@SECLEVEL=0", "-cert", os.path.join(self.cloud, "console.crt"), "-key",
                         os.path.join(self.cloud, "console.key"), "-CAfile", os.path.join(self.cloud, "ca.crt")],
                        input=b"", capture_output=True, timeout=20)
                    spoke = b"Protocol  : TLSv1.1" in probe.stdout
                    extra = "; openssl s_client -tls1_1 handshake: %s" % ("ok" if spoke else "FAILED")
                    self.expect(spoke, "part 3: the TLS 1.1 broker did not speak TLS 1.1")
                elif special == "nocred":
                    for f in ("tsgatew.key", "tsgatew.cert"):
                        os.remove(os.path.join(credential_dir(home), f))
                    # The broker's side of the same case: a client with no certificate at all.
                    sub = subprocess.run(
                        ["mosquitto_sub", "-h", "localhost", "-p", str(port), "--cafile",
                         os.path.join(self.cloud, "ca.crt"), "-t", "things/#", "-C", "1", "-W", "5"],
                        capture_output=True, timeout=20)
                    extra = "; mosquitto_sub without certificate: %s" % (
                        "refused" if sub.returncode != 0 else "CONNECTED")
                    self.expect(sub.returncode != 0, "part 3: the broker accepted a client without certificate")
                elif special == "foreign":
                    ok = self.register_foreign(home, port, pki)
                    self.expect(ok, "part 3: the foreign identity was not stored")
                results = self.attempts(home, tries, tag)
            finally:
                broker.stop()
            connected = sum(1 for c, _ in results if c)
            reasons = sorted(set(r for c, r in results if not c))
            rows.append((label, tries, connected, tries - connected, "; ".join(reasons) + extra))
            if should_connect:
                self.expect(connected == tries, "part 3: %s: %d of %d connected" % (label, connected, tries))
            else:
                self.expect(connected == 0, "part 3: %s: connected %d of %d times" % (label, connected, tries))
                self.expect(all(not r.startswith("nothing") for _, r in results),
                            "part 3: %s: a refusal without a reason" % label)
        print("\n### TLS refusals\n")
        print("| case | attempts | connected | refused | reason printed (`cloud error: ...`) |")
        print("|---|---|---|---|---|")
        for row in rows:
            print("| %s | %d | %d | %d | %s |" % row)
        print("\nEach attempt is a fresh tsl-gated against a mosquitto configured for the case, waiting for "
              "`cloud connected` or `cloud error: ...`. The gateway trusts only the dev cloud's CA; the "
              "client certificate from another CA reached the gateway as a registrar's result.")
        refusals = sum(r[3] for r in rows[1:])
        self.summary.append("TLS %d/%d refused" % (refusals, tries * (len(rows) - 1)))

    def register_foreign(self, home, port, pki):
        """Registers the gateway in home at a registrar that hands out an identity from another CA."""
        for f in ("tsgatew.key", "tsgatew.cert"):
            os.remove(os.path.join(credential_dir(home), f))
        set_setting(home, "Cloud/Serial", "")
        set_setting(home, "Devices/Pool", "")
        key = open(os.path.join(pki, "foreign-client.key")).read()
        cert = open(os.path.join(pki, "foreign-client.crt")).read()
        result = {"id": self.gateway_id, "alias": "foreign", "server": "localhost", "port": port,
                  "cred": {"priv": key, "file": cert}}
        server = HostileRegistrar({"foreign": [("code", {"value": 1, "timeout": 60}), ("result", result)]})
        try:
            set_setting(home, "Web/RegEndpoint", server.url("foreign"))
            gw = Proc([os.path.join(self.plain, "bin", "tsl-gated"), "--register", "--rescan", "3600"],
                      env=self.env(home), log=self.log("p3-foreign-register"))
            done = gw.wait_for(r"^finished ProcReg (.*)", 30)
            gw.wait_for(r"^cloud (connected|error)", 15)
            gw.stop()
        finally:
            server.stop()
        return bool(done) and "error" not in json.loads(done[2].group(1))

    # -- part 4: a hostile registrar --

    def part_registrar(self):
        self.note("part 4: a hostile registrar")
        rng = random.Random(7)
        garbage = []
        for _ in range(400):
            kind = rng.randrange(6)
            if kind == 0:
                garbage.append(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200))))
            elif kind == 1:
                garbage.append(b"event: %s\ndata: %s\n\n" % (
                    rng.choice([b"cod", b"resul", b"", b"\xff\xfe", b"code\x00", b"ERROR"]),
                    bytes(rng.randrange(32, 127) for _ in range(rng.randrange(0, 80)))))
            elif kind == 2:
                garbage.append(b"event: code\ndata: {\"value\": [1,2], \"timeout\": \"soon\"\n\n")
            elif kind == 3:
                garbage.append(b"\r\r\n\n:comment\rdata\n" + b"data:" * rng.randrange(1, 50) + b"\n")
            elif kind == 4:
                garbage.append(b"\xef\xbb\xbf" + b"\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x28\x8c\xbc" * 10 + b"\n")
            else:
                garbage.append(b"id: \x00\nretry: -1e9\nevent\n\n")
        code = ("code", {"value": 123456, "timeout": 2})
        wrong_types = {"id": 42, "cred": "nope", "alias": [1], "server": 7, "port": "localhost",
                       "fleet": {"id": 3}}
        big = 100 * 1024 * 1024
        cases = [
            ("control: a proper code and result", [code, ("result", {"fleet": [
                {"id": "thx9_100_S9_ctl00001", "alias": "thx9 S9"}]})], "ok"),
            # A NUL drops the rest of its network block: the error event comes in a block of its own,
            # after a line end for whatever line the garbage left open.
            ("garbage events, then an error event", [code, ("raw", b"".join(garbage)), ("pause", 0.3),
                                                      ("raw", b"\n\n"),
                                                      ("error", {"code": 452, "error": "after garbage"})], 452),
            ("an endless line after the code", [code, ("endless", None)], 504),
            ("a 100 MB data field, then an error event", [code, ("bigdata", big),
                                                           ("error", {"code": 453, "error": "after 100 MB"})], 453),
            ("a result with wrong types", [code, ("result", wrong_types)], 498),
            ("a result that is not JSON", [code, ("raw", b"event: result\ndata: {\"id\": \"gateway_\n\n")], 498),
            ("a stream that stalls after the code", [code, ("stall", None)], 504),
        ]
        server = HostileRegistrar({re.sub(r"[^a-z0-9]+", "-", c[0])[:30]: c[1] for c in cases})
        rows = []
        try:
            for label, _, expected in cases:
                tag = re.sub(r"[^a-z0-9]+", "-", label)[:30]
                home = self.home("home-reg-" + tag)
                set_setting(home, "Web/RegEndpoint", server.url(tag))
                creds = {f: file_digest(os.path.join(credential_dir(home), f)) for f in ("tsgatew.key", "tsgatew.cert")}
                before = read_settings(home)
                gw = self.gated(self.plain, ["--sensor", "S9", "--temp", "S9=20"], ["--register", "--rescan", "3600"],
                                home, "p4-" + tag)
                started = time.monotonic()
                pid, peak, done = None, None, None
                while time.monotonic() - started < 120:
                    pid = pid or descendant(gw.pid, "tsl-gated")
                    if pid:
                        peak = max(peak or 0, proc_status(pid, "VmHWM") or 0)
                    done = gw.wait_for(r"^finished ProcReg (.*)", 0.1)
                    if done or gw.p.poll() is not None:
                        break
                took = time.monotonic() - started
                pid = pid or descendant(gw.pid, "tsl-gated")
                if pid:
                    peak = max(peak or 0, proc_status(pid, "VmHWM") or 0)
                gw.stop()
                result = json.loads(done[2].group(1)) if done else None
                got = "none" if result is None else result.get("code", "?") if "error" in result else "ok"
                after_creds = {f: file_digest(os.path.join(credential_dir(home), f)) for f in creds}
                try:
                    after = read_settings(home)
                    pool_before, pool_after = pool_of(before), pool_of(after)
                    intact = all(after.get(k) == before.get(k) for k in ("Cloud/Serial", "Cloud/Host", "Cloud/Port")) \
                        and all(pool_after.get(s) == r for s, r in pool_before.items())
                    if expected == "ok":
                        intact = intact and pool_after.get("thx9_100_S9") == "ctl00001"
                except (OSError, ValueError, KeyError) as e:
                    intact = False
                    self.note("%s: settings unreadable: %s" % (label, e))
                creds_same = after_creds == creds
                rows.append((label, expected, got, took, mib(peak), "yes" if creds_same else "CHANGED",
                             "yes" if intact else "NO"))
                self.expect(got == expected, "part 4: %s: ProcReg %s, expected %s" % (label, got, expected))
                self.expect(creds_same and intact, "part 4: %s: files changed" % label)
                self.expect(peak is not None and peak < 200 * 1024, "part 4: %s: peak RSS %s MiB" % (label, mib(peak)))
        finally:
            server.stop()
        print("\n### Hostile registrar\n")
        print("| stream | expected ProcReg | got | after (s) | peak RSS (MiB) | credentials unchanged | "
              "settings intact |")
        print("|---|---|---|---|---|---|---|")
        for row in rows:
            print("| %s | %s | %s | %.1f | %s | %s | %s |" % row)
        print("\ntsl-gated --register (a registered gateway with one new sensor) against a small Python "
              "server of this campaign. \"ok\" is a result without an error; a number is the error code "
              "of the `finished ProcReg` result. Settings intact: Cloud/Serial, Cloud/Host, Cloud/Port and "
              "every registration id of the device pool as before (plus the new sensor's in the control).")
        self.summary.append("registrar %d/%d as expected" % (sum(1 for r in rows if r[1] == r[2]), len(rows)))


class HostileRegistrar:
    """An HTTP server whose event streams misbehave in the ways a case asks for. A case is a list
    of steps: ("code" | "result" | "error", object), ("raw", bytes), ("bigdata", size),
    ("endless", None) or ("stall", None)."""

    def __init__(self, cases):
        self.cases = cases
        self.stopping = threading.Event()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                name = self.path.split("?")[0].strip("/").split("/")[0]
                steps = outer.cases.get(name)
                if steps is None:
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "text/event-stream")
                self.send_header("Cache-Control", "no-cache")
                self.send_header("Connection", "close")
                self.end_headers()
                try:
                    for kind, arg in steps:
                        outer.step(self.wfile, kind, arg)
                except (BrokenPipeError, ConnectionResetError):
                    pass

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True

        self.server = Server(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, case):
        return "http://127.0.0.1:%d/%s/iot/register" % (self.server.server_address[1], case)

    def step(self, out, kind, arg):
        if kind in ("code", "result", "error"):
            out.write(b"event: %s\ndata: %s\n\n" % (kind.encode(), json.dumps(arg).encode()))
        elif kind == "raw":
            out.write(arg)
        elif kind == "bigdata":
            out.write(b"event: result\ndata: ")
            chunk = b"x" * (1 << 20)
            for _ in range(arg >> 20):
                out.write(chunk)
            out.write(b"\n\n")
        elif kind == "endless":
            chunk = b"y" * (1 << 20)
            while not self.stopping.is_set():
                out.write(chunk)
                out.flush()
                time.sleep(0.05)  # about 20 MB/s, endless
        elif kind == "pause":
            out.flush()
            time.sleep(arg)
        elif kind == "stall":
            self.stopping.wait()
        out.flush()

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--plain", required=True)
    parser.add_argument("--asan", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--source", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("parts", nargs="*", default=["broker", "plug", "tls", "registrar"])
    args = parser.parse_args()
    campaign = Campaign(args)
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(143))
    started = time.monotonic()
    try:
        campaign.setup()
        parts = {"broker": campaign.part_broker, "plug": campaign.part_plug, "tls": campaign.part_tls,
                 "registrar": campaign.part_registrar}
        for name in args.parts:
            parts[name]()
            sys.stdout.flush()
    except Exception as e:  # a part that cannot run at all is a failed expectation too
        campaign.failures.append("%s: %s" % (type(e).__name__, e))
        print("faults: %s: %s" % (type(e).__name__, e), file=sys.stderr)
    finally:
        end_everything()
    print("\n**Summary:** %s; %s in %.0f s." % (
        ", ".join(campaign.summary) or "nothing ran",
        "every expectation met" if not campaign.failures else "%d expectation(s) FAILED" % len(campaign.failures),
        time.monotonic() - started))
    for f in campaign.failures:
        print("- FAILED: " + f)
    return 1 if campaign.failures else 0


if __name__ == "__main__":
    sys.exit(main())
