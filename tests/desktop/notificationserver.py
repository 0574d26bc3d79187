#!/usr/bin/python3
"""A stand-in desktop notification server (org.freedesktop.Notifications) on the session bus
named by DBUS_SESSION_BUS_ADDRESS: prints "ready", then one line per notification,
"notify<TAB>summary<TAB>body", and runs until killed."""
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>
"""
counter = [0]


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "Notify":
        args = parameters.unpack()
        counter[0] += 1
        print("notify\t%s\t%s" % (args[3], args[4].replace("\n", " ")), flush=True)
        invocation.return_value(GLib.Variant("(u)", (counter[0],)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "test", "1", "1.2")))
    else:
        invocation.return_value(None)


def on_bus(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    connection.register_object("/org/freedesktop/Notifications", info, on_call, None, None)


def on_name(connection, name):
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, on_bus, on_name, lambda *a: sys.exit(1))
GLib.MainLoop().run()
