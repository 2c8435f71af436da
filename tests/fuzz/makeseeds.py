#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/seed-*.

Run again after a format changes; regression inputs (regression-*) are left alone. Needs openssl
for a throw-away certificate and key.
"""
import base64
import json
import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def qstring(text):
    raw = text.encode("utf-16-be")
    return struct.pack(">I", len(raw)) + raw


def qvariant(value):
    if isinstance(value, bool):
        return struct.pack(">IBB", 1, 0, int(value))
    if isinstance(value, int):
        return struct.pack(">IBi", 2, 0, value)
    if isinstance(value, float):
        return struct.pack(">IBd", 6, 0, value)
    if isinstance(value, bytes):
        return struct.pack(">IBI", 12, 0, len(value)) + value
    if isinstance(value, list):
        return struct.pack(">IBI", 11, 0, len(value)) + b"".join(qstring(v) for v in value)
    if isinstance(value, dict):
        return struct.pack(">IBI", 8, 0, len(value)) + b"".join(
            qstring(k) + qvariant(v) for k, v in value.items())
    return struct.pack(">IB", 10, 0) + qstring(value)


def settings(pairs):
    return b"".join(qstring(k) + qvariant(v) for k, v in pairs)


def backup(sections):
    table = b""
    offset = 8 + 12 * len(sections)
    for tag, data in sections:
        table += struct.pack("<III", tag, offset, len(data))
        offset += len(data)
    return struct.pack("<II", 0x200, 12 * len(sections)) + table + b"".join(d for _, d in sections)


def credentials():
    with tempfile.TemporaryDirectory() as tmp:
        key, cert = os.path.join(tmp, "k.pem"), os.path.join(tmp, "c.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", key, "-out",
                        cert, "-subj", "/CN=gateway_200_5521_9", "-days", "3650"], check=True,
                       capture_output=True)
        run = lambda *args: subprocess.run(args, check=True, capture_output=True).stdout
        return (open(cert).read(), run("openssl", "rsa", "-traditional", "-in", key).decode(),
                run("openssl", "x509", "-in", cert, "-outform", "DER"),
                run("openssl", "rsa", "-traditional", "-in", key, "-outform", "DER"))


pool = json.dumps({"devices": [
    {"type": "thx9", "version": "100", "serial": "S1", "regid": "77", "alias": "Boiler"},
    {"type": "watchdog", "version": "100", "serial": "W1", "regid": "", "alias": ""},
    {"type": "gateway", "version": "200", "serial": "5521", "regid": "9", "alias": "Office"}],
    "updated": "2026.03.01 12:00:00"}, separators=(",", ":"))
pairs = [("Cloud/Serial", "5521"), ("Cloud/Interval", 900), ("System/Version", "0.2.0"),
         ("UI/Geom", b"\x01\x00\xff"), ("Plugins/thx9/enabled", False), ("Plugins/x/float", 21.5),
         ("Plugins/x/list", ["a", "b"]), ("Plugins/x/map", {"k": 1}), ("Devices/Pool", pool)]
cert_pem, key_pem, cert_der, key_der = credentials()

# Event stream: first byte seeds the chunking; 0x01 expands to a line over the cap.
write("fuzz_eventstream", "code", "\x07event: code\ndata: {\"value\":123456,\"timeout\":60}\n\n")
write("fuzz_eventstream", "fields", "\x2a: comment\r\nid: 42\r\nretry: 5000\r\nevent: result\r\ndata: a\r\ndata: b\r\n\r\n")
write("fuzz_eventstream", "long", "\x03data: \x01\n\nevent: error\ndata: {}\n\n")
write("fuzz_eventstream", "utf8", "\x05data: caf\xc3\xa9 \xe2\x82\xac\rid\rdata\n\n".encode("latin-1"))

doc = json.dumps({"gw": "gateway_200_?", "alias": "Office",
                  "sib": [["thx9_100_A1B2", "Boiler"], ["watchdog_100_?", ""]]}, separators=(",", ":"))
write("fuzz_regcodec", "text", b"\x00" + base64.urlsafe_b64encode(zlib.compress(doc.encode())))
write("fuzz_regcodec", "zlib", b"\x01" + zlib.compress(doc.encode()))
write("fuzz_regcodec", "json", "\x02" + doc)

write("fuzz_settingssection", "backup", settings(pairs))
write("fuzz_settingssection", "version-only", settings([("System/Version", "0.1.9")]))

write("fuzz_backup", "settings", backup([(0x104201, settings(pairs))]))
write("fuzz_backup", "full", backup([(0x104201, settings(pairs)), (0x104202, cert_der), (0x104203, key_der)]))

write("fuzz_devicepool", "pool", pool)
write("fuzz_devicepool", "gateway-twice", pool.replace("Boiler", "x").replace('"thx9"', '"gateway"'))

result = {"id": "gateway_200_5521_9", "alias": "Office", "server": "localhost", "port": 8883,
          "cred": {"file": cert_pem, "priv": key_pem},
          "fleet": [{"id": "thx9_100_S1_77", "alias": "Boiler"}, {"id": "watchdog_100_?_78", "alias": "Pump"}]}
write("fuzz_regresult", "result", json.dumps(result))
write("fuzz_regresult", "fleet-only", json.dumps({"fleet": result["fleet"], "port": 1883}))

# HID playback: a control byte gives each answer's length (see hidplayback.h).
write("fuzz_hidreports", "thx9", bytes([1, 3, 0x01, 0x10, 0x09, 3, 0x01, 0x60, 0xf0, 8, 0x01, 0xff, 0x7f, 0, 0, 0, 0, 0]))
write("fuzz_hidreports", "vgl5", bytes([0x0e, 0, 17, 4, 1, 0, 3, 25, 0x80] + [0] * 8 + [0, 17, 4, 2, 0xff] + [0] * 12))

for name, body in [("reset", "\x01{\"rst\":1}"), ("hard-reset", "\x01{\"pwr\":1,\"rst\":1}"),
                   ("sensor", "\x00{\"unit\":\"Kelvin\"}"), ("gateway", "\x02{\"count\":3}")]:
    write("fuzz_mqttupdate", name, body)

q = base64.urlsafe_b64encode(zlib.compress(doc.encode())).decode()
write("fuzz_devcloudhttp", "register", f"GET /iot/register?doc={q} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
write("fuzz_devcloudhttp", "form", "POST /things HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 11\r\n\r\ncode=123456")
write("fuzz_devcloudhttp", "bare", "GET / HTTP/1.0\n\n")
