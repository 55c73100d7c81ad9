#!/usr/bin/python3
"""Asks an X window to close, as a window manager's close button does: the
WM_DELETE_WINDOW message of the WM_PROTOCOLS protocol. Usage: x_close_window.py WINDOW-ID
(DISPLAY names the display)."""
import sys

from Xlib import X, display, protocol


def main(window_id):
    screen = display.Display()
    window = screen.create_resource_object("window", window_id)
    protocols = screen.intern_atom("WM_PROTOCOLS")
    delete = screen.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    screen.sync()


if __name__ == "__main__":
    main(int(sys.argv[1], 0))
