#!/usr/bin/env python3
"""Plays a song through the QMIDI engine's automation interface and prints
the engine's status reports (python3-dbus and python3-gi).

    python3 scripts/automation-example.py SONG.MID

The engine (bus name Qmidiexe.QMIDIOLE) is started by the session bus when it
is registered (qmidiexe -REGSERVER), or may already run. The script creates an
automation object, reads the song's title, exports a status sink, plays the
song and prints its reports (progress when it changes) until the song ends,
then releases its object. A song whose WRD script is shown reports no
progress: its script's screen is the display.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "Qmidiexe.QMIDIOLE"
FACTORY = "/Qmidiexe/QMIDIOLE"
IFACE = "Qmidiexe.IQMIDIOLE"
SINK_IFACE = "QMIDICTLXControl.IQMIDICTLXEvents"
PROPS = "org.freedesktop.DBus.Properties"


class StatusSink(dbus.service.Object):
    """The status sink: the engine calls OnStatus(Value1..Value4) on it."""

    def __init__(self, bus, path, loop):
        super().__init__(bus, path)
        self.loop = loop
        self.last = None

    @dbus.service.method(SINK_IFACE, in_signature="", out_signature="")
    def OnClick(self):
        pass

    @dbus.service.method(SINK_IFACE, in_signature="", out_signature="")
    def OnDblClick(self):
        pass

    @dbus.service.method(SINK_IFACE, in_signature="iiii", out_signature="")
    def OnStatus(self, v1, v2, v3, v4):
        if v1 > 0:  # progress: the four status values in the forms chosen below
            if (v1, v2, v3, v4) == self.last:  # every TIMERWRD ms; print the changes
                return
            self.last = (v1, v2, v3, v4)
            bar, beat = divmod(v2, 10000)
            print(f"progress {v1 / 1000:7.3f} s  bar {bar + 1} beat {beat // 1000 + 1}  "
                  f"{v3} bpm  {v4 // 1000}/{v4 % 1000}", flush=True)
        elif v1 in (-1, -2):  # the song ended (-1 stop, -2 the next may follow)
            print(f"ended: {v1}", flush=True)
            self.loop.quit()
        else:  # -3 / -4: a key pressed / released in the engine's window
            print(f"key {'down' if v1 == -3 else 'up'}: {v2} (modifier {v3})", flush=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()

    factory = dbus.Interface(bus.get_object(BUS_NAME, FACTORY), "Qmidiexe.QMIDIOLEFactory")
    path = factory.CreateObject()
    obj = bus.get_object(BUS_NAME, path)
    engine = dbus.Interface(obj, IFACE)
    props = dbus.Interface(obj, PROPS)
    print(f"object {path}", flush=True)

    props.Set(IFACE, "MIDIFILENAME", sys.argv[1])
    engine.STATUS()  # title and memo, read from the file (UTF-8)
    print(f"title: {props.Get(IFACE, 'MIDITITLE')}", flush=True)
    # Status values: 1 milliseconds, 2 position, 3 tempo, 4 time signature.
    for name, form in (("MIDICURRENTTIME1", 0), ("MIDICURRENTTIME2", 1),
                       ("MIDITIMEOPTION1", 3), ("MIDITIMEOPTION2", 4)):
        props.Set(IFACE, name, dbus.Int32(form))
    props.Set(IFACE, "STOPOPTION", dbus.Int32(0))

    sink = StatusSink(bus, "/sink", loop)

    def play(*_):
        engine.PLAY()
        print(f"playing {sys.argv[1]}", flush=True)

    def refused(error):
        print(f"no sink: {error}", file=sys.stderr)
        loop.quit()

    # The engine asks the sink object for its interface before it answers
    # this put, so the put must not block the main loop that answers it.
    props.Set(IFACE, "OnStatusDisp",
              dbus.Struct((bus.get_unique_name(), dbus.ObjectPath("/sink")), signature="so"),
              reply_handler=play, error_handler=refused)
    loop.run()
    props.Set(IFACE, "OnStatusDisp", dbus.Struct(("", dbus.ObjectPath("/")), signature="so"))
    engine.Release()
    del sink
    return 0


if __name__ == "__main__":
    sys.exit(main())
