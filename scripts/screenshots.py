#!/usr/bin/python3
"""Takes the README's screenshots of a running tsl-gate through AT-SPI (run by scripts/screenshots).

Needs Debian's python3 (python3-pyatspi), the program's display and session bus, xdotool and
ImageMagick's import. Waits for the window and the two simulated devices, registers them through the
wizard as a user does (each step, the name dialog, the code that the dev cloud confirms by itself,
the result list), then shows the dashboard, cloud, device configuration, settings and registry pages
and the About box.
"""
import argparse
import subprocess
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

ap = argparse.ArgumentParser()
ap.add_argument('--outdir', required=True)
ap.add_argument('--app-name', default='TSL-Gate')
ap.add_argument('--title', default='Tessel Gateway')
args = ap.parse_args()


def log(msg):
    print('screenshots: ' + msg, file=sys.stderr, flush=True)


def wait_for(fn, what, timeout=30.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = fn()
            if value:
                return value
        except (GLib.Error, LookupError, StopIteration):
            pass
        time.sleep(0.1)
    raise SystemExit('screenshots: timed out waiting for ' + what)


def find(root, role, name=None):
    return pyatspi.findDescendant(
        root, lambda a: a is not None and a.getRoleName() == role and (name is None or a.name == name))


def press(widget, wait_reply=True):
    # An action that opens a modal box answers only when the box closes: do not wait for it.
    if not wait_reply:
        Atspi.set_timeout(300, -1)
    try:
        widget.queryAction().doAction(0)
    except GLib.Error:
        if wait_reply:
            raise
    finally:
        Atspi.set_timeout(15000, -1)


def shoot(name):
    time.sleep(0.7)  # let the page paint
    path = '%s/%s.png' % (args.outdir, name)
    subprocess.run(['/usr/bin/import', '-window', 'root', path], check=True)
    log('wrote ' + path)


def application():
    return next(a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == args.app_name)


try:
    app = wait_for(application, 'the program on the accessibility bus', 60)
except SystemExit:
    log('applications on the bus: %s' % [a.name for a in pyatspi.Registry.getDesktop(0) if a is not None])
    raise
window = wait_for(lambda: next(w for w in application() if w.getRoleName() == 'frame' and w.name == args.title),
                  'the window "%s"' % args.title, 60)
xid = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^%s$' % args.title],
                     capture_output=True, text=True).stdout.split()
if xid:
    subprocess.run(['xdotool', 'windowsize', xid[0], '900', '600', 'windowmove', xid[0], '60', '60'])

table = wait_for(lambda: find(window, 'table'), 'the dashboard')
wait_for(lambda: table.queryTable().nRows >= 3, 'the gateway and two devices on the dashboard')
wait_for(lambda: find(window, 'push button', 'Cloud'), 'the navigation')


def dialogs():
    return [w for w in application() if w.getRoleName() == 'dialog' and w.name == 'Thing Name']


# The wizard: step 1, a name for every thing (the proposed aliases), the code, the result.
press(find(window, 'push button', 'Cloud'))
start = wait_for(lambda: find(window, 'push button', 'Start'), 'the wizard')
wait_for(lambda: find(window, 'label', 'Step 1. Fill in the thing names'), 'step 1 of the wizard')
shoot('wizard-1-start')
press(start, wait_reply=False)
named = 0
while True:
    try:
        dialog = wait_for(lambda: dialogs() or find(window, 'label', 'Step 3. Enter the code in the cloud'),
                          'a name dialog or the code', 30)
    except SystemExit:
        raise
    if not isinstance(dialog, list):
        break
    if named == 0:
        shoot('wizard-2-name')
    press(find(dialog[0], 'push button', 'OK'), wait_reply=False)
    named += 1
    wait_for(lambda: len(dialogs()) == 0 or dialogs()[0] != dialog[0], 'the dialog to close', 10)
log('named %d things' % named)
shoot('wizard-3-code')
wait_for(lambda: find(window, 'label', 'Step 4. Finish'), 'the registration result', 60)
# A successful registration switches to the dashboard; the result stays on the cloud page.
wait_for(lambda: pyatspi.findDescendant(window, lambda a: a is not None and 'onnected' in (a.description or '')
                                        and 'not' not in (a.description or '')), 'the cloud connection', 40)
press(find(window, 'push button', 'Cloud'))
wait_for(lambda: find(window, 'label', 'Ready'), 'the gateway "Ready" on the cloud page')
shoot('wizard-4-result')

press(find(window, 'push button', 'Status'))
shoot('dashboard')

press(find(window, 'push button', 'New Session'))
wait_for(lambda: find(window, 'label', 'Your registration process is complete'), 'the wizard complete')
shoot('cloud')

press(find(window, 'push button', 'Types'))
shoot('devices')

press(find(window, 'push button', 'Settings'))
shoot('settings')

press(find(window, 'push button', 'Registry'))
shoot('registry')

press(find(window, 'push button', 'Status'))
about = find(find(window, 'menu', 'Help') or window, 'menu item', 'About')
press(about, wait_reply=False)
box = wait_for(lambda: next(w for w in application() if w.getRoleName() in ('alert', 'dialog')), 'the About box')
shoot('about')
ok = find(box, 'push button', 'OK') or find(box, 'push button', 'Close')
if ok:
    press(ok)
log('done')
