#!/usr/bin/env python3
"""Adds a screen mode of the given size to the first RandR output and keeps it while it runs, so
that `xrandr --output <output> --mode <name>` can switch a virtual screen (Xvfb) to that size.
A mode a client creates lives only as long as that client's connection, so this stays connected
until it is killed. Prints the output's name once the mode exists. Uses libX11 and libXrandr
through ctypes, so nothing needs installing.

    keep_screen_mode.py WIDTH HEIGHT NAME
"""
import ctypes
import ctypes.util
import signal
import sys

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
xrandr = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xrandr"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]


class ModeInfo(ctypes.Structure):
    _fields_ = [("id", ctypes.c_ulong), ("width", ctypes.c_uint), ("height", ctypes.c_uint),
                ("dotClock", ctypes.c_ulong), ("hSyncStart", ctypes.c_uint), ("hSyncEnd", ctypes.c_uint),
                ("hTotal", ctypes.c_uint), ("hSkew", ctypes.c_uint), ("vSyncStart", ctypes.c_uint),
                ("vSyncEnd", ctypes.c_uint), ("vTotal", ctypes.c_uint), ("name", ctypes.c_char_p),
                ("nameLength", ctypes.c_uint), ("modeFlags", ctypes.c_ulong)]


class ScreenResources(ctypes.Structure):
    _fields_ = [("timestamp", ctypes.c_ulong), ("configTimestamp", ctypes.c_ulong),
                ("ncrtc", ctypes.c_int), ("crtcs", ctypes.POINTER(ctypes.c_ulong)),
                ("noutput", ctypes.c_int), ("outputs", ctypes.POINTER(ctypes.c_ulong)),
                ("nmode", ctypes.c_int), ("modes", ctypes.POINTER(ModeInfo))]


class OutputInfo(ctypes.Structure):
    _fields_ = [("timestamp", ctypes.c_ulong), ("crtc", ctypes.c_ulong), ("name", ctypes.c_char_p),
                ("nameLen", ctypes.c_int)]  # the rest is not read


xrandr.XRRGetScreenResourcesCurrent.restype = ctypes.POINTER(ScreenResources)
xrandr.XRRGetScreenResourcesCurrent.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
xrandr.XRRCreateMode.restype = ctypes.c_ulong
xrandr.XRRCreateMode.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ModeInfo)]
xrandr.XRRAddOutputMode.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
xrandr.XRRGetOutputInfo.restype = ctypes.POINTER(OutputInfo)
xrandr.XRRGetOutputInfo.argtypes = [ctypes.c_void_p, ctypes.POINTER(ScreenResources), ctypes.c_ulong]

width, height, name = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3].encode()
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
root = x11.XDefaultRootWindow(display)
resources = xrandr.XRRGetScreenResourcesCurrent(display, root)
if not resources or resources.contents.noutput < 1:
    sys.exit("the display has no RandR output")
output = resources.contents.outputs[0]
# Timings with ordinary blanking at about 60 Hz; a virtual screen only uses the size.
h_total, v_total = width + 272, height + 23
mode = ModeInfo(0, width, height, h_total * v_total * 60, width + 40, width + 136, h_total, 0,
                height + 3, height + 8, v_total, name, len(name), 0)
mode_id = xrandr.XRRCreateMode(display, root, ctypes.byref(mode))
if not mode_id:
    sys.exit("the display refused the mode")
xrandr.XRRAddOutputMode(display, output, mode_id)
x11.XSync(display, 0)
print(xrandr.XRRGetOutputInfo(display, resources, output).contents.name.decode(), flush=True)

signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    signal.pause()
