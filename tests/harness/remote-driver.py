#!/usr/bin/python3
"""A session-bus client of the Lumenwick remote-control service, driven line by line
on standard input; answers on standard output, one line each, flushed.

Commands:
  call <tag> <path> <Interface.Method> <signature> <json list of arguments>
      calls org.lumenwick.service; prints "<tag> ok <json of the results>" or
      "<tag> error <remote error name> <message>"
  listen      prints every signal from the service: "signal <path> <Name> <json>"
  own <name>  takes a bus name and prints "owned <name>" (to pose as the service)
  name        prints "name <our unique bus name>"
  exit        leaves at once, without saying goodbye to the service
End of standard input leaves too. Needs python3-gi.
"""
import json
import sys

from gi.repository import Gio, GLib

SERVICE = "org.lumenwick.service"

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
loop = GLib.MainLoop()


def out(*parts):
    sys.stdout.write(" ".join(str(p) for p in parts) + "\n")
    sys.stdout.flush()


def on_signal(_conn, _sender, path, _iface, name, params, *_):
    out("signal", path, name, json.dumps(params.unpack()))


def run(line):
    words = line.split(" ", 5)
    cmd = words[0]
    if cmd == "call":
        tag, path, method, signature = words[1:5]
        args = json.loads(words[5]) if len(words) > 5 else []
        iface, member = method.rsplit(".", 1)
        params = GLib.Variant(signature, tuple(args)) if signature != "()" else None
        try:
            reply = bus.call_sync(SERVICE, path, "org.lumenwick." + iface, member, params, None,
                                  Gio.DBusCallFlags.NONE, 10000, None)
            out(tag, "ok", json.dumps(reply.unpack() if reply else []))
        except GLib.Error as e:
            out(tag, "error", Gio.DBusError.get_remote_error(e) or "-", e.message)
    elif cmd == "listen":
        bus.signal_subscribe(None, "org.lumenwick.plugin", None, None, None,
                             Gio.DBusSignalFlags.NONE, on_signal)
        out("listening")
    elif cmd == "own":
        reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                              "RequestName", GLib.Variant("(su)", (words[1], 4)), None,
                              Gio.DBusCallFlags.NONE, 10000, None)
        out("owned" if reply.unpack()[0] == 1 else "not-owned", words[1])
    elif cmd == "name":
        out("name", bus.get_unique_name())
    elif cmd == "exit":
        sys.exit(0)


def on_input(channel, condition):
    if condition & GLib.IO_IN:
        line = channel.readline()
        if line:
            run(line.rstrip("\n"))
            return True
    loop.quit()
    return False


stdin = GLib.IOChannel.unix_new(sys.stdin.fileno())
GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
