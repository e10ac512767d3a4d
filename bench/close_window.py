#!/usr/bin/env python3
"""Asks the top-level X11 window whose name contains the given text to close, as a window
manager's close button does (WM_DELETE_WINDOW), on a display without a window manager.
Uses libX11 through ctypes, so nothing needs installing."""
import ctypes
import ctypes.util
import sys

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                           ctypes.POINTER(ctypes.c_uint)]
x11.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]


def window_name(display, window, net_wm_name):
    """The UTF-8 title (_NET_WM_NAME) as Qt sets it; Xlib's XFetchName only reads Latin-1 ones."""
    actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
    count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
    status = x11.XGetWindowProperty(display, window, net_wm_name, 0, 1024, 0, 0, ctypes.byref(actual_type),
                                    ctypes.byref(actual_format), ctypes.byref(count), ctypes.byref(after),
                                    ctypes.byref(data))
    if status != 0 or not data.value or actual_format.value != 8:
        return b""
    return ctypes.string_at(data.value, count.value)


def main():
    wanted = sys.argv[1].encode()
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    root_return, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    x11.XQueryTree(display, x11.XDefaultRootWindow(display), ctypes.byref(root_return),
                   ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count))
    protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    net_wm_name = x11.XInternAtom(display, b"_NET_WM_NAME", 0)
    closed = 0
    for i in range(count.value):
        if wanted in window_name(display, children[i], net_wm_name):
            event = XEvent()
            event.client.type = 33  # ClientMessage
            event.client.window = children[i]
            event.client.message_type = protocols
            event.client.format = 32
            event.client.data[0] = delete
            x11.XSendEvent(display, children[i], 0, 0, ctypes.byref(event))
            closed += 1
    x11.XFlush(display)
    if not closed:
        sys.exit("no window named like " + sys.argv[1])


if __name__ == "__main__":
    main()
