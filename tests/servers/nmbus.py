#!/usr/bin/env python3
"""Starts and stops a private system bus with a mock network manager on it.

Usage:
  nmbus.py start --dir DIR
  nmbus.py stop --dir DIR

`start` writes a bus configuration of type "system" listening on
DIR/system_bus_socket, starts dbus-daemon with it and python3-dbusmock's
networkmanager template on that bus, and gives the mock:

  - the profiles (connection.id) "office" (not autoconnect), "backup"
    (autoconnect, priority 5), "uplink" (autoconnect, priority 10),
    "failing", "needs-secrets" and "stalling" (none autoconnect);
  - one ethernet device, eth0, disconnected;
  - networking disabled, no active connection, no primary connection;
  - an ActivateConnection that behaves like the real service where the
    template does not: it refuses while networking is disabled; "failing"
    is removed again at once, as a failed activation is; "needs-secrets"
    stays activating on eth0, which waits for secrets; "stalling" stays
    activating without asking for anything; any other becomes the
    PrimaryConnection when there is none, and stops being it when it is
    deactivated.

Tests reach the bus through DBUS_SYSTEM_BUS_ADDRESS=unix:path=DIR/system_bus_socket.
It first stops whatever an earlier run left in DIR; when something does not
come up within START_TIMEOUT (configuring the mock included), its log is printed, everything is stopped and the exit status is 1.
`stop` ends both processes (see servers.py) and always exits 0.
"""

import argparse
import os
import sys
import time

# python3-dbus and python3-dbusmock are Debian packages: an interpreter of
# its own (such as pyenv's) does not see them, the system's does.
SYSTEM_PYTHON = "/usr/bin/python3"
try:
    import dbus
    import dbus.bus
except ImportError:
    if sys.executable != SYSTEM_PYTHON and os.path.exists(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    raise

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from servers import Layout, spawn, stop  # noqa: E402

START_TIMEOUT = 20.0
NM = "org.freedesktop.NetworkManager"
NM_PATH = "/org/freedesktop/NetworkManager"
SETTINGS_PATH = NM_PATH + "/Settings"
MOCK_IFACE = "org.freedesktop.DBus.Mock"
DEVICE_DISCONNECTED = 30

# (id, autoconnect, priority)
PROFILES = [("office", False, 0), ("backup", True, 5), ("uplink", True, 10),
            ("failing", False, 0), ("needs-secrets", False, 0), ("stalling", False, 0)]

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

# Runs inside the mock for ActivateConnection(connection, device, specific).
ACTIVATE = """
nm = 'org.freedesktop.NetworkManager'
name = str(objects[args[0]].settings['connection']['id'])
if not self.Get(nm, 'NetworkingEnabled'):
    raise dbus.exceptions.DBusException('Networking is disabled', name=nm + '.UnknownDevice')
if name == 'needs-secrets':
    device = dbus.ObjectPath('/org/freedesktop/NetworkManager/Devices/eth0')
    ret = self.activate_connection(self, args[0], device, args[2])
    objects[ret].Set(nm + '.Connection.Active', 'State', dbus.UInt32(1))
    objects[device].Set(nm + '.Device', 'State', dbus.UInt32(60))
else:
    ret = self.activate_connection(self, args[0], args[1], args[2])
    if name == 'failing':
        self.deactivate_connection(self, ret)
    elif name == 'stalling':
        objects[ret].Set(nm + '.Connection.Active', 'State', dbus.UInt32(1))
    elif self.Get(nm, 'PrimaryConnection') == '/':
        self.Set(nm, 'PrimaryConnection', ret)
"""

# DeactivateConnection(active): the template's, which leaves PrimaryConnection.
DEACTIVATE = """
nm = 'org.freedesktop.NetworkManager'
self.deactivate_connection(self, args[0])
if self.Get(nm, 'PrimaryConnection') == args[0]:
    self.Set(nm, 'PrimaryConnection', dbus.ObjectPath('/'))
"""


def socket_path(layout):
    return os.path.join(layout.dir, "system_bus_socket")


def wait_for(proc, name, layout, ready, deadline):
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("%s exited with status %d" % (name, proc.returncode), name)
        try:
            if ready():
                return
        except Exception:  # not answering yet
            pass
        time.sleep(0.1)
    raise RuntimeError("%s did not come up" % name, name)


def configure(bus, deadline):
    """Each call gets what is left of the start's time."""
    def left():
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise RuntimeError("configuring the mock took too long", "dbusmock")
        return remaining

    mock = dbus.Interface(bus.get_object(NM, NM_PATH), MOCK_IFACE)
    settings = dbus.Interface(bus.get_object(NM, SETTINGS_PATH), NM + ".Settings")
    # Profiles first: the template activates an autoconnect profile at once
    # when a device exists.
    for ident, autoconnect, priority in PROFILES:
        settings.AddConnection(dbus.Dictionary({
            "connection": dbus.Dictionary({
                "id": dbus.String(ident),
                "type": dbus.String("802-3-ethernet"),
                "autoconnect": dbus.Boolean(autoconnect),
                "autoconnect-priority": dbus.Int32(priority),
            }, signature="sv"),
        }, signature="sa{sv}"), timeout=left())
    mock.AddEthernetDevice("eth0", "eth0", dbus.UInt32(DEVICE_DISCONNECTED), timeout=left())
    mock.SetNetworkingEnabled(False, timeout=left())
    mock.AddProperty(NM, "PrimaryConnection", dbus.ObjectPath("/"), timeout=left())
    mock.AddMethod(NM, "ActivateConnection", "ooo", "o", ACTIVATE, timeout=left())
    mock.AddMethod(NM, "DeactivateConnection", "o", "", DEACTIVATE, timeout=left())


def start(layout):
    stop(layout)
    for directory in (layout.run, layout.logs):
        os.makedirs(directory, exist_ok=True)
    path = socket_path(layout)
    if os.path.exists(path):
        os.remove(path)
    config = os.path.join(layout.dir, "bus.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG.format(socket=path))
    address = "unix:path=" + path
    os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = address
    deadline = time.monotonic() + START_TIMEOUT

    daemon = spawn(layout, "dbus-daemon", ["dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config])
    wait_for(daemon, "dbus-daemon", layout, lambda: dbus.bus.BusConnection(address) is not None, deadline)
    mock = spawn(layout, "dbusmock", [sys.executable, "-m", "dbusmock", "--system", "--template", "networkmanager"])
    bus = dbus.bus.BusConnection(address)
    wait_for(mock, "dbusmock", layout, lambda: bus.name_has_owner(NM), deadline)
    configure(bus, deadline)


def main():
    parser = argparse.ArgumentParser(description="Start or stop the private bus with a mock network manager.")
    parser.add_argument("command", choices=["start", "stop"])
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    layout = Layout(args.dir)
    if args.command == "stop":
        try:
            stop(layout)
        except Exception as e:  # stop reports but never fails a cleanup step
            print("nmbus: stop: %s" % e, file=sys.stderr)
        return 0
    os.makedirs(layout.dir, exist_ok=True)
    try:
        start(layout)
    except BaseException as e:  # an interrupt too: nothing half-started stays
        print("nmbus: start: %s" % e, file=sys.stderr)
        for name in ("dbus-daemon", "dbusmock"):
            try:
                with open(layout.log(name)) as f:
                    sys.stderr.write("--- %s log ---\n%s" % (name, f.read()))
            except OSError:
                pass
        stop(layout)
        return 1
    print("nmbus: DBUS_SYSTEM_BUS_ADDRESS=unix:path=%s" % socket_path(layout))
    return 0


if __name__ == "__main__":
    sys.exit(main())
