#!/usr/bin/python3
"""Poll a USB temperature sensor (DS18B20 HID) once a second and publish its reading over MQTT on
TLS with a client certificate whenever it moved by half a degree or more.

What a user would write instead of running a gateway: Debian's python3-hid (its hidraw module, the
hidapi hidraw backend) and python3-paho-mqtt, nothing else.

    poll_publish.py --host localhost --port 8883 --cafile ca.pem --cert me.pem --key me.key \
                    --serial A1B2 --topic sensors/A1B2/state
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


def decode(report):
    """Temperature in degrees of input report 0x01 (hundredths, signed 16-bit little endian)."""
    if len(report) < 3 or report[0] != 0x01:
        return None
    return int.from_bytes(bytes(report[1:3]), 'little', signed=True) / 100.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--host', default='localhost')
    ap.add_argument('--port', type=int, default=8883)
    ap.add_argument('--cafile', required=True)
    ap.add_argument('--cert', required=True)
    ap.add_argument('--key', required=True)
    ap.add_argument('--serial', required=True)
    ap.add_argument('--topic', required=True)
    ap.add_argument('--period', type=float, default=1.0)
    args = ap.parse_args()

    connected = threading.Event()
    client = mqtt.Client(client_id='poll-publish-' + args.serial, protocol=mqtt.MQTTv311)
    client.on_connect = lambda c, userdata, flags, rc: rc == 0 and connected.set()
    client.tls_set(ca_certs=args.cafile, certfile=args.cert, keyfile=args.key)
    client.connect(args.host, args.port, keepalive=60)
    client.loop_start()
    if not connected.wait(15):
        print('no connection to the broker', file=sys.stderr)
        return 1

    device = hidraw.device()
    device.open(VENDOR_ID, PRODUCT_ID, args.serial)
    device.set_nonblocking(1)
    print('ready', flush=True)

    last = None
    while True:
        while True:
            report = device.read(64)
            if not report:
                break
            t = decode(report)
            if t is None:
                continue
            if last is None or abs(t - last) >= 0.5:
                half_degrees = math.floor(2 * t + 0.5) / 2
                client.publish(args.topic, json.dumps({'t': half_degrees}, separators=(',', ':')))
            last = t
        time.sleep(args.period)


if __name__ == '__main__':
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
