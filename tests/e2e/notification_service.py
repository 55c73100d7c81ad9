#!/usr/bin/python3
"""The desktop's notification service, for end-to-end tests.

Owns org.freedesktop.Notifications on the session bus named by
DBUS_SESSION_BUS_ADDRESS and writes one JSON line to standard output when it
is ready and one for every Notify call, so a test can see what a user would
have been shown.
"""
import itertools
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""

ids = itertools.count(1)


def report(record):
    print(json.dumps(record), flush=True)


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "Notify":
        app_name, replaces_id, icon, summary, body, actions, hints, timeout = parameters.unpack()
        report({"notify": {"appName": app_name, "summary": summary, "body": body, "timeout": timeout}})
        invocation.return_value(GLib.Variant("(u)", (next(ids),)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("orv-e2e", "orv", "1.0", "1.2")))
    else:
        invocation.return_value(None)


def main():
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)

    def on_bus(connection, name):
        connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], on_call, None, None)

    def on_name(connection, name):
        report({"ready": name})

    def on_lost(connection, name):
        report({"lost": name})
        loop.quit()

    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                     on_bus, on_name, on_lost)
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
