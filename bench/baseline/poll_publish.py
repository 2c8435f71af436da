#!/usr/bin/python3
"""Poll a USB temperature sensor (DS18B20 HID) once a second and publish its reading over MQTT on
TLS with a client certificate whenever it moved by half a degree or more; optionally also keep a
USB watchdog alive, poll its status every 2.5 s and publish it when it changes.

What a user would write instead of running a gateway: Debian's python3-hid (its hidraw module, the
hidapi hidraw backend) and python3-paho-mqtt, nothing else.

    poll_publish.py --host localhost --port 8883 --cafile ca.pem --cert me.pem --key me.key \
                    --serial A1B2 --topic sensors/A1B2/state [--serial C3D4 --topic sensors/C3D4/state ...] \
                    [--watchdog WD01 --watchdog-topic sensors/WD01/state]

Each --serial is one more sensor, published on the --topic given in the same place.
"""
import argparse
import json
import math
import sys
import threading
import time

import hidraw
import paho.mqtt.client as mqtt

VENDOR_ID = 0x0483
PRODUCT_ID = 0xA26A
WATCHDOG_PRODUCT_ID = 0xA26D
KEEP_ALIVE = [0x01, 0x01]


def decode(report):
    """Temperature in degrees of input report 0x01 (hundredths, signed 16-bit little endian)."""
    if len(report) < 3 or report[0] != 0x01:
        return None
    return int.from_bytes(bytes(report[1:3]), 'little', signed=True) / 100.0


def watchdog_state(status):
    """Flags and temperature (None when there is none) of the watchdog's 17-byte status report 4."""
    if len(status) != 17:
        return None
    t = None
    kind = status[3]
    if status[2] != 0xFF:
        if kind in (1, 2):
            t = float(status[4])
        elif kind == 3 and status[4] != 0xFF:
            t = int.from_bytes(bytes(status[4:5]), 'little', signed=True) \
                + (int.from_bytes(bytes(status[5:7]), 'little') // 1000) / 10.0
    return {'status': status[1], 'status2': status[2], 'ch3': t}


class Sensor:
    def __init__(self, serial, topic):
        self.device = hidraw.device()
        self.device.open(VENDOR_ID, PRODUCT_ID, serial)
        self.device.set_nonblocking(1)
        self.topic = topic
        self.last = None

    def poll(self, client):
        while True:
            report = self.device.read(64)
            if not report:
                return
            t = decode(report)
            if t is None:
                continue
            if self.last is None or abs(t - self.last) >= 0.5:
                half_degrees = math.floor(2 * t + 0.5) / 2
                client.publish(self.topic, json.dumps({'t': half_degrees}, separators=(',', ':')))
            self.last = t


class Watchdog:
    def __init__(self, serial, topic):
        self.device = hidraw.device()
        self.device.open(VENDOR_ID, WATCHDOG_PRODUCT_ID, serial)
        self.device.set_nonblocking(1)
        self.topic = topic
        self.last = None

    def poll(self, client):
        if self.device.write(KEEP_ALIVE) <= 1:
            raise OSError('the watchdog is gone')
        state = watchdog_state(self.device.get_feature_report(4, 17))
        if state is None:
            raise OSError('the watchdog does not answer')
        if state != self.last:
            client.publish(self.topic, json.dumps(state, separators=(',', ':')))
        self.last = state


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--host', default='localhost')
    ap.add_argument('--port', type=int, default=8883)
    ap.add_argument('--cafile', required=True)
    ap.add_argument('--cert', required=True)
    ap.add_argument('--key', required=True)
    ap.add_argument('--serial', required=True, action='append')
    ap.add_argument('--topic', required=True, action='append')
    ap.add_argument('--period', type=float, default=1.0)
    ap.add_argument('--watchdog')
    ap.add_argument('--watchdog-topic')
    ap.add_argument('--watchdog-period', type=float, default=2.5)
    args = ap.parse_args()
    if len(args.serial) != len(args.topic):
        ap.error('give one --topic for each --serial')

    connected = threading.Event()
    client = mqtt.Client(client_id='poll-publish-' + args.serial[0], protocol=mqtt.MQTTv311)
    client.on_connect = lambda c, userdata, flags, rc: rc == 0 and connected.set()
    client.tls_set(ca_certs=args.cafile, certfile=args.cert, keyfile=args.key)
    client.connect(args.host, args.port, keepalive=60)
    client.loop_start()
    if not connected.wait(15):
        print('no connection to the broker', file=sys.stderr)
        return 1

    # Each device on its own period, as its own timer would run it.
    start = time.monotonic() + args.period
    schedule = [[start, args.period, Sensor(serial, topic)] for serial, topic in zip(args.serial, args.topic)]
    if args.watchdog:
        watchdog = Watchdog(args.watchdog, args.watchdog_topic or 'watchdog/' + args.watchdog + '/state')
        schedule.append([time.monotonic() + args.watchdog_period, args.watchdog_period, watchdog])
    print('ready', flush=True)

    while True:
        entry = min(schedule, key=lambda e: e[0])
        delay = entry[0] - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        entry[2].poll(client)
        entry[0] += entry[1]


if __name__ == '__main__':
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
