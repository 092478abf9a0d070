#!/usr/bin/python3
# NetworkManager's stand-in on the lab's private system bus: owns its bus name and answers the
# Connectivity property of its main object with the state it is given, or, with "silent",
# takes the call and never answers it (a NetworkManager that hangs).
#
#   networkmanager-standin.py BUS_ADDRESS STATE READY_FILE
#   STATE: unknown | none | portal | limited | full | silent
#
# READY_FILE is created once the name is owned. Debian's python3 with python3-dbus and
# python3-gi (for the GLib main loop).
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.NetworkManager"
PATH = "/org/freedesktop/NetworkManager"
PROPERTIES = "org.freedesktop.DBus.Properties"
# NetworkManager's NMConnectivityState numbers.
STATES = {"unknown": 0, "none": 1, "portal": 2, "limited": 3, "full": 4}


class UnknownProperty(dbus.exceptions.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.UnknownProperty"


class NetworkManager(dbus.service.Object):
    def __init__(self, bus, state):
        super().__init__(bus, PATH)
        self.state = state
        self.held = []  # unanswered calls stay referenced, so nothing answers them

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v",
                         async_callbacks=("reply", "error"))
    def Get(self, interface, prop, reply, error):
        if self.state == "silent":
            self.held.append((reply, error))
            return
        if interface != NAME or prop != "Connectivity":
            error(UnknownProperty(f"no property {interface}.{prop}"))
            return
        reply(dbus.UInt32(STATES[self.state]))


def main():
    if len(sys.argv) != 4 or (sys.argv[2] not in STATES and sys.argv[2] != "silent"):
        sys.exit("usage: networkmanager-standin.py BUS_ADDRESS STATE READY_FILE")
    address, state, ready = sys.argv[1:]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    # Kept referenced for the life of the loop: dropping it gives the name back.
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    service = NetworkManager(bus, state)
    open(ready, "w").close()
    GLib.MainLoop().run()
    del name, service


if __name__ == "__main__":
    main()
