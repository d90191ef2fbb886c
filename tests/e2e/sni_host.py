#!/usr/bin/env python3
"""A StatusNotifierWatcher with a host, as a desktop panel offers one, on the session bus of
the test, and the host's side of talking to a registered item.

  sni_host.py watch FILE        serves org.kde.StatusNotifierWatcher; writes each registered
                                item's bus name to FILE, one a line
  sni_host.py menu NAME         prints the item's Menu path, then its exported menu, one
                                line an item: "<id> <label>" or "<id> -" for a separator
  sni_host.py tooltip NAME      prints the item's tooltip text
  sni_host.py activate NAME     the host's primary click (Activate)
  sni_host.py click NAME ID     chooses the menu item with that id (dbusmenu Event "clicked")
Every call to the item is bounded by a timeout of its own.
"""
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"
INTROSPECTABLE = "org.freedesktop.DBus.Introspectable"
# Qt reads the watcher's properties through its introspection data, which dbus-python does
# not write for properties.
WATCHER_XML = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
</node>"""
TIMEOUT = 5  # seconds, for every call


class Watcher(dbus.service.Object):
    def __init__(self, bus, path, out):
        super().__init__(bus, path)
        self.items = []
        self.out = out

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        name = service if not service.startswith("/") else sender
        self.items.append(name)
        with open(self.out, "a") as f:
            f.write(name + "\n")
        self.StatusNotifierItemRegistered(name)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, name):
        pass

    @dbus.service.method(INTROSPECTABLE, out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
        }


def watch(out):
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    keep = dbus.service.BusName(WATCHER, bus)
    Watcher(bus, "/StatusNotifierWatcher", out)
    print("watcher ready", flush=True)
    GLib.MainLoop().run()
    del keep


def item(name):
    return dbus.SessionBus().get_object(name, "/StatusNotifierItem")


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "watch":
        watch(args[0])
        return
    obj = item(args[0])
    if command == "menu":
        path = obj.Get(ITEM, "Menu", dbus_interface=PROPS, timeout=TIMEOUT)
        print(path)
        menu = dbus.SessionBus().get_object(args[0], path)
        _, layout = menu.GetLayout(0, -1, [], dbus_interface=MENU, timeout=TIMEOUT)
        for child in layout[2]:
            props = child[1]
            label = "-" if props.get("type") == "separator" else props.get("label", "")
            print(int(child[0]), label)
    elif command == "tooltip":
        tip = obj.Get(ITEM, "ToolTip", dbus_interface=PROPS, timeout=TIMEOUT)
        print(tip[2] or tip[3])
    elif command == "activate":
        obj.Activate(0, 0, dbus_interface=ITEM, timeout=TIMEOUT)
    elif command == "click":
        menu = dbus.SessionBus().get_object(
            args[0], obj.Get(ITEM, "Menu", dbus_interface=PROPS, timeout=TIMEOUT))
        menu.Event(int(args[1]), "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
                   dbus_interface=MENU, timeout=TIMEOUT)
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
