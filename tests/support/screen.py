"""What the virtual display shows: the root window read in one GetImage
request, which is the screen as a viewer, a screen recorder or a remote
desktop gets it.

Tools that put a whole-screen picture together window by window (`xwd -root`,
`import -window root -descend`) are not used: all of Wine's windows share one
visual and one colormap of Wine's own, so those tools read a window that lies
entirely inside another one through the window below, and the X server
returns undefined (black) pixels for the part of a window that another
top-level window covers. The settings dialog, centred over the main window,
came out black that way although the screen showed it.

    python3 -m tests.support.screen OUT.png [DISPLAY]
"""
import ctypes
import ctypes.util
import os
import struct
import sys
import time
import zlib
from pathlib import Path

BORDER = (9, 123, 183)
WHITE = (255, 255, 255)


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


def _xlib():
    x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultScreen.argtypes = [ctypes.c_void_p]
    x.XRootWindow.restype = ctypes.c_ulong
    x.XRootWindow.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XGetImage.restype = ctypes.POINTER(_XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                            ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x.XFree.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x


def grab(display=None):
    """(width, height, RGB bytes) of the whole screen."""
    x = _xlib()
    name = display or os.environ.get("DISPLAY")
    d = x.XOpenDisplay(name.encode() if name else None)
    if not d:
        raise RuntimeError(f"cannot open display {name}")
    try:
        screen = x.XDefaultScreen(d)
        w, h = x.XDisplayWidth(d, screen), x.XDisplayHeight(d, screen)
        im = x.XGetImage(d, x.XRootWindow(d, screen), 0, 0, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not im:
            raise RuntimeError("GetImage of the root window failed")
        try:
            i = im.contents
            if (i.bits_per_pixel, i.red_mask, i.green_mask, i.blue_mask, i.byte_order) != (
                    32, 0xFF0000, 0xFF00, 0xFF, 0):
                raise RuntimeError("only 24-bit TrueColor screens are read")
            raw = ctypes.string_at(i.data, i.bytes_per_line * h)
            if i.bytes_per_line != w * 4:
                raw = b"".join(raw[y * i.bytes_per_line:y * i.bytes_per_line + w * 4] for y in range(h))
        finally:
            x.XFree(im.contents.data)
            x.XFree(im)
    finally:
        x.XCloseDisplay(d)
    rgb = bytearray(w * h * 3)
    rgb[0::3], rgb[1::3], rgb[2::3] = raw[2::4], raw[1::4], raw[0::4]
    return w, h, bytes(rgb)


class _WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("rest", ctypes.c_byte * 128)]


def mapped_sizes(seconds, display=None):
    """The sizes (width, height) of the windows the display maps on the
    screen during the next `seconds`: every map, also of a window shown only
    for a moment."""
    x = _xlib()
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XPending.argtypes = [ctypes.c_void_p]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
    x.XSetErrorHandler.argtypes = [ctypes.c_void_p]
    name = display or os.environ.get("DISPLAY")
    d = x.XOpenDisplay(name.encode() if name else None)
    if not d:
        raise RuntimeError(f"cannot open display {name}")
    # A window gone before it is asked about is no error here.
    handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda *_: 0)
    x.XSetErrorHandler(ctypes.cast(handler, ctypes.c_void_p))
    sizes, event, attributes = [], ctypes.create_string_buffer(192), _WindowAttributes()
    try:
        x.XSelectInput(d, x.XRootWindow(d, x.XDefaultScreen(d)), 1 << 19)  # SubstructureNotifyMask
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if not x.XPending(d):
                time.sleep(0.005)
                continue
            x.XNextEvent(d, event)
            if struct.unpack_from("i", event.raw)[0] == 19:  # MapNotify: its window at offset 40
                attributes.width = attributes.height = 0
                x.XGetWindowAttributes(d, struct.unpack_from("L", event.raw, 40)[0], ctypes.byref(attributes))
                sizes.append((attributes.width, attributes.height))
    finally:
        x.XCloseDisplay(d)
    return sizes


def write_png(path, w, h, rgb):
    rows = b"".join(b"\0" + rgb[y * w * 3:(y + 1) * w * 3] for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                           chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


class Shot:
    """The whole screen, read once."""

    def __init__(self, display=None, save_as=None):
        self.width, self.height, self.raw = grab(display)
        if save_as:
            write_png(save_as, self.width, self.height, self.raw)

    def save_part(self, path, x, y, w, h):
        """Writes the w x h pixels at (x, y) as a PNG."""
        rows = b"".join(self.raw[((y + r) * self.width + x) * 3:((y + r) * self.width + x + w) * 3] for r in range(h))
        write_png(path, w, h, rows)

    def px(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def dark(self, x0, y0, x1, y1):
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if max(self.px(x, y)) < 90)

    def count(self, x0, y0, x1, y1, color):
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if self.px(x, y) == color)


def luminance(rgb):
    def channel(v):
        c = v / 255
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = rgb
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b)


def contrast_ratio(a, b):
    """The web accessibility guidelines' contrast ratio of two colours, 1 to 21."""
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def caption_contrast(s, x0, y0, x1, y1, least=4.5):
    """A caption inside the box (x0, y0)-(x1, y1): its background (the box's
    commonest colour), the text pixels that stand at least `least` : 1
    against it, and the best ratio found."""
    counts = {}
    for y in range(y0, y1):
        for x in range(x0, x1):
            p = s.px(x, y)
            counts[p] = counts.get(p, 0) + 1
    back = max(counts, key=counts.get)
    ratios = {p: contrast_ratio(p, back) for p in counts}
    readable = sum(n for p, n in counts.items() if ratios[p] >= least)
    return back, readable, max(ratios.values())


def chrome_faults(s, left, top, width, height, title_width, scale=1.0):
    """What is missing of a skinned window's chrome at (left, top), width x
    height screen pixels: its one-pixel border, the blue title strip, the red
    close button at the right and the white title text beside the icon. The
    chrome's own sizes are 96-dpi pixels times `scale`. Empty when all is
    there."""
    faults = []

    def at(dx, dy):
        return s.px(left + round(dx), top + round(dy))

    for name, (x, y) in {"left border": (0, height // 2), "right border": (width - 1, height // 2),
                         "top border": (width // 2, 0), "bottom border": (width // 3, height - 1)}.items():
        if at(x, y) != BORDER:
            faults.append(f"{name} at {left + x},{top + y}: {at(x, y)}")
    for y in (2 * scale, 32 * scale):
        p = at(width * 0.6, y)
        if not p[2] > p[0] + 80:
            faults.append(f"title strip at {left + round(width * 0.6)},{top + round(y)}: {p}")
    close = at(width - (36 + 2 - 3) * scale, 4 * scale)
    if not (close[0] > 180 and close[1] < 90):
        faults.append(f"close button: {close}")
    x0, x1 = left + round(45 * scale), left + round((45 + title_width) * scale)
    y0, y1 = top + round(6 * scale), top + round(29 * scale)
    if s.count(x0, y0, x1, y1, WHITE) < title_width * scale * scale / 2:
        faults.append(f"title text in {x0},{y0}-{x1},{y1}: too few white pixels")
    return faults


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    Shot(sys.argv[2] if len(sys.argv) > 2 else None, save_as=sys.argv[1])
