#!/usr/bin/env python3
"""Draws the pictures and icons of velBox and velUpdate into artwork/.

Only the standard library: BMP, ICO and PNG are written by hand. The output
is deterministic, so running the script again reproduces the committed files
byte for byte (tools/gen_artwork.py --check tells whether they are current).

  main window: top.bmp (7 x 29 title strip), min_normal/min_hover.bmp and
    close_normal/close_hover.bmp (36 x 20), titleicon.bmp (32 x 32, 32-bit),
    Icon.ico (32 x 32 256 colours, 256 x 256 32-bit, 16/32/48 24-bit),
    tray.ico (16 x 16 24-bit), hand.ico (32 x 32 16 colours)
  settings dialog: set_close_normal/set_close_hover.bmp (36 x 20),
    btn_normal.bmp (97 x 40), btn_hover.bmp (98 x 40), btn_active.bmp (97 x 39)
  updater: velUpdate.ico (32 x 32 256 colours, 16/32/48 24-bit)
  at 125, 150 and 200 %: every picture again, drawn at that size, as
    NAME-125.bmp, NAME-150.bmp, NAME-200.bmp (resource id + 1000, 2000, 3000,
    listed in scaled.rc); the icons also carry 20, 24, 40 and 64 pixels and
    the hand 40, 48 and 64
"""
import argparse
import math
import re
import struct
import sys
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
ART = ROOT / "artwork"

# --- drawing ----------------------------------------------------------------
# An image is a list of rows of (r, g, b, a) with a in 0..255 (straight alpha).


def blank(w, h, color=(0, 0, 0, 0)):
    return [[color for _ in range(w)] for _ in range(h)]


def over(dst, src):
    """src over dst, straight alpha."""
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa / 255.0
    b = da / 255.0 * (1 - a)
    oa = a + b
    if oa <= 0:
        return (0, 0, 0, 0)
    return (round((sr * a + dr * b) / oa), round((sg * a + dg * b) / oa),
            round((sb * a + db * b) / oa), round(oa * 255))


def render(w, h, layers, ss=4):
    """layers: list of (inside(u, v) -> bool, color(u, v) -> (r, g, b)) in unit
    coordinates (0..1 over the image), painted in order with supersampling."""
    img = blank(w, h)
    for y in range(h):
        for x in range(w):
            px = (0, 0, 0, 0)
            for inside, color in layers:
                hits = 0
                cr = cg = cb = 0
                for j in range(ss):
                    for i in range(ss):
                        u = (x + (i + 0.5) / ss) / w
                        v = (y + (j + 0.5) / ss) / h
                        if inside(u, v):
                            c = color(u, v)
                            hits += 1
                            cr += c[0]
                            cg += c[1]
                            cb += c[2]
                if hits:
                    n = ss * ss
                    px = over(px, (round(cr / hits), round(cg / hits), round(cb / hits), round(255 * hits / n)))
            img[y][x] = px
    return img


def flatten(img, bg=(255, 255, 255)):
    """Composites over a background: an opaque picture."""
    return [[over(bg + (255,), p)[:3] + (255,) for p in row] for row in img]


def rounded_rect(x0, y0, x1, y1, r):
    def inside(u, v):
        if u < x0 or u > x1 or v < y0 or v > y1:
            return False
        cx = min(max(u, x0 + r), x1 - r)
        cy = min(max(v, y0 + r), y1 - r)
        return (u - cx) ** 2 + (v - cy) ** 2 <= r * r
    return inside


def ellipse(cx, cy, rx, ry, angle=0.0):
    ca, sa = math.cos(angle), math.sin(angle)

    def inside(u, v):
        du, dv = u - cx, v - cy
        pu = du * ca + dv * sa
        pv = -du * sa + dv * ca
        return (pu / rx) ** 2 + (pv / ry) ** 2 <= 1
    return inside


def polygon(points):
    def inside(u, v):
        n = len(points)
        c = False
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > v) != (yj > v) and u < (xj - xi) * (v - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c
    return inside


def union(*shapes):
    return lambda u, v: any(s(u, v) for s in shapes)


def solid(c):
    return lambda u, v: c


def vgradient(top, bottom):
    return lambda u, v: tuple(round(t + (b - t) * v) for t, b in zip(top, bottom))


# --- the designs ------------------------------------------------------------

BLUE_TOP = (86, 170, 232)
BLUE_BOTTOM = (14, 106, 188)
WHITE = (255, 255, 255)


def note_icon(size):
    """Program icon: a blue rounded square with a white pair of beamed notes."""
    bg = rounded_rect(0.04, 0.04, 0.96, 0.96, 0.2)
    head1 = ellipse(0.33, 0.72, 0.13, 0.095, -0.35)
    head2 = ellipse(0.68, 0.64, 0.13, 0.095, -0.35)
    stem1 = polygon([(0.40, 0.72), (0.46, 0.72), (0.46, 0.27), (0.40, 0.27)])
    stem2 = polygon([(0.75, 0.64), (0.81, 0.64), (0.81, 0.19), (0.75, 0.19)])
    beam = polygon([(0.40, 0.27), (0.81, 0.17), (0.81, 0.29), (0.40, 0.39)])
    notes = union(head1, head2, stem1, stem2, beam)
    return render(size, size, [(bg, vgradient(BLUE_TOP, BLUE_BOTTOM)), (notes, solid(WHITE))],
                  ss=4 if size <= 64 else 2)


def update_icon(size):
    """Updater icon: a blue disc with a white arrow pointing down."""
    disc = ellipse(0.5, 0.5, 0.46, 0.46)
    arrow = polygon([(0.41, 0.2), (0.59, 0.2), (0.59, 0.5), (0.74, 0.5), (0.5, 0.8), (0.26, 0.5), (0.41, 0.5)])
    return render(size, size, [(disc, vgradient((90, 190, 110), (20, 130, 60))), (arrow, solid(WHITE))])


def to_pixels(v):
    """A scaled length to whole pixels as the programs round it: halves up."""
    return math.floor(v + 0.5)


def title_strip(scale=1):
    # 7 x 29, light blue at the top to the border's blue at the bottom.
    h = to_pixels(29 * scale)
    return [[tuple(round(a + (b - a) * y / (h - 1)) for a, b in zip(BLUE_TOP, BLUE_BOTTOM)) + (255,)
             for _ in range(7)] for y in range(h)]


def caption_button(kind, hover, scale=1):
    # Designed on 36 x 20; the unit coordinates below keep to that grid.
    w, h = 36, 20
    if kind == "min":
        base = (58, 146, 222) if hover else (26, 118, 204)
        bar = polygon([(13 / w, 12 / h), (23 / w, 12 / h), (23 / w, 14 / h), (13 / w, 14 / h)])
        mark = bar
    else:
        base = (236, 84, 70) if hover else (210, 48, 38)
        t = 0.9 / w * 2  # stroke half-width in unit coordinates
        a = polygon([(13 / w - t, 6 / h), (13 / w + t, 6 / h), (23 / w + t, 14 / h), (23 / w - t, 14 / h)])
        b = polygon([(23 / w - t, 6 / h), (23 / w + t, 6 / h), (13 / w + t, 14 / h), (13 / w - t, 14 / h)])
        mark = union(a, b)
    img = render(to_pixels(w * scale), to_pixels(h * scale),
                 [(lambda u, v: True, solid(base)), (mark, solid(WHITE))])
    return flatten(img)


def dialog_button(w, h, top, bottom, outline, scale=1):
    """A rounded button on white: a 1-pixel outline around a vertical gradient
    (both as thick and as round as the scale makes them)."""
    w, h = to_pixels(w * scale), to_pixels(h * scale)

    def rr(x0, y0, x1, y1, rad):
        def inside(u, v):
            X, Y = u * w, v * h
            if X < x0 or X > x1 or Y < y0 or Y > y1:
                return False
            cx = min(max(X, x0 + rad), x1 - rad)
            cy = min(max(Y, y0 + rad), y1 - rad)
            return (X - cx) ** 2 + (Y - cy) ** 2 <= rad * rad
        return inside
    r, t = 5.0 * scale, scale
    img = render(w, h, [(rr(0, 0, w, h, r), solid(outline)),
                        (rr(t, t, w - t, h - t, r - t), vgradient(top, bottom))])
    return flatten(img)


HAND = """
         XX
        X..X
        X..X
        X..X
        X..X
        X..XXX
        X..X..XXX
        X..X..X..XX
     XX X..X..X..X.X
    X..XX........X..X
    X...X...........X
     X..............X
     X..............X
      X.............X
      X............X
       X...........X
       X..........X
        X.........X
        X.........X
        XXXXXXXXXXX
"""


def scaled_pixels(img, size):
    """Pixel art at another size: each pixel goes to the nearest one."""
    n = len(img)
    return [[img[y * n // size][x * n // size] for x in range(size)] for y in range(size)]


def hand_icon(hot):
    rows = HAND.strip("\n").split("\n")
    top = 1  # one transparent row above the fingertip
    img = blank(32, 32)
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == "X":
                img[top + y][x] = (0, 0, 0, 255)
            elif ch == ".":
                img[top + y][x] = (255, 255, 255, 255)
    # The hot spot declared in resource.h must be the fingertip.
    first = next((x for x, p in enumerate(img[top]) if p[3]), None)
    if (first, top) != hot:
        sys.exit(f"hand hot spot {hot} does not match the artwork's fingertip {(first, top)}")
    return img


# --- file formats -----------------------------------------------------------

def bmp_dib(img, bits):
    """BITMAPINFOHEADER + bottom-up pixels (24 or 32 bits)."""
    h = len(img)
    w = len(img[0])
    stride = (w * bits + 31) // 32 * 4
    data = bytearray()
    for row in reversed(img):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((b, g, r)) if bits == 24 else bytes((b, g, r, a))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(data), 2835, 2835, 0, 0)
    return header, bytes(data)


def bmp_file(img, bits):
    header, data = bmp_dib(img, bits)
    off = 14 + len(header)
    return b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + header + data


def and_mask(img, alpha_min=128):
    h = len(img)
    w = len(img[0])
    stride = (w + 31) // 32 * 4
    out = bytearray()
    for row in reversed(img):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < alpha_min:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return pal


def nearest(pal, c):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], c)))


def ico_image(img, bits):
    """One icon image: a DIB of double height, the colour part and the mask."""
    h = len(img)
    w = len(img[0])
    if bits in (24, 32):
        src = img if bits == 32 else [[over((255, 255, 255, 255), p)[:3] + (p[3],) for p in row] for row in img]
        header, data = bmp_dib(src, bits)
        pal = b""
    else:
        pal_rgb = VGA16 if bits == 4 else palette256()
        cache = {}
        idx_rows = []
        for row in img:
            out = []
            for p in row:
                c = over((255, 255, 255, 255), p)[:3] if p[3] else (0, 0, 0)
                if c not in cache:
                    cache[c] = nearest(pal_rgb, c)
                out.append(cache[c])
            idx_rows.append(out)
        stride = (w * bits + 31) // 32 * 4
        data = bytearray()
        for row in reversed(idx_rows):
            line = bytearray(stride)
            for x, i in enumerate(row):
                if bits == 8:
                    line[x] = i
                else:
                    line[x // 2] |= i << (4 if x % 2 == 0 else 0)
            data += line
        data = bytes(data)
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in pal_rgb)
        pal += b"\0" * ((1 << bits) * 4 - len(pal))
    mask = and_mask(img)
    size_image = len(data) + len(mask)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, size_image, 0, 0,
                         0 if bits >= 24 else (1 << bits), 0)
    return header + pal + data + mask


def png(img):
    h = len(img)
    w = len(img[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in img)

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_file(entries):
    """entries: (img, bits); 256 x 256 images are stored as PNG."""
    blobs = []
    for img, bits in entries:
        w = len(img[0])
        blobs.append(png(img) if w == 256 else ico_image(img, bits))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for (img, bits), blob in zip(entries, blobs):
        w = len(img[0])
        h = len(img)
        colors = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colors, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# --- main -------------------------------------------------------------------

def hotspot():
    text = (ART / "resource.h").read_text()
    x = int(re.search(r"#define HAND_HOTSPOT_X (\d+)", text).group(1))
    y = int(re.search(r"#define HAND_HOTSPOT_Y (\d+)", text).group(1))
    return (x, y)


SCALES = {125: 1.25, 150: 1.5, 200: 2.0}
# Ids of the scaled pictures: the 100 % picture's id plus this times 1, 2, 3.
SCALE_STEP = 1000


def resource_ids():
    text = (ART / "resource.h").read_text()
    return {m.group(1): int(m.group(2)) for m in re.finditer(r"#define (IDB_\w+) (\d+)", text)}


def pictures(scale):
    """The bitmaps of both forms at a scale: file stem -> (resource name, image, bits)."""
    out = {"top": ("IDB_TOP", title_strip(scale), 24)}
    for kind in ("min", "close"):
        for state, hover in (("normal", False), ("hover", True)):
            out[f"{kind}_{state}"] = (f"IDB_{kind.upper()}_{state.upper()}", caption_button(kind, hover, scale), 24)
    out["set_close_normal"] = ("IDB_SET_CLOSE_NORMAL", out["close_normal"][1], 24)
    out["set_close_hover"] = ("IDB_SET_CLOSE_HOVER", out["close_hover"][1], 24)
    out["btn_normal"] = ("IDB_BTN_NORMAL",
                         dialog_button(97, 40, (255, 255, 255), (222, 222, 222), (150, 150, 150), scale), 24)
    out["btn_hover"] = ("IDB_BTN_HOVER",
                        dialog_button(98, 40, (244, 244, 244), (214, 214, 214), (9, 123, 183), scale), 24)
    out["btn_active"] = ("IDB_BTN_ACTIVE",
                         dialog_button(97, 39, (190, 190, 190), (160, 160, 160), (120, 120, 120), scale), 24)
    out["titleicon"] = ("IDB_TITLEICON", note_icon(to_pixels(32 * scale)), 32)
    return out


def build():
    files = {}
    for stem, (_, img, bits) in pictures(1).items():
        files[f"{stem}.bmp"] = bmp_file(img, bits)
    ids = resource_ids()
    rc = ["// Pictures for 125, 150 and 200 % (made by tools/gen_artwork.py; do not edit).", ""]
    for k, (percent, scale) in enumerate(SCALES.items(), start=1):
        for stem, (name, img, bits) in pictures(scale).items():
            files[f"{stem}-{percent}.bmp"] = bmp_file(img, bits)
            rc.append(f'{ids[name] + k * SCALE_STEP} BITMAP "{stem}-{percent}.bmp"')
    files["scaled.rc"] = ("\n".join(rc) + "\n").encode()

    # Icons in the sizes the shell asks for at 100 to 200 %: small 16, 20,
    # 24, 32; large 32, 40, 48, 64.
    icons = {s: note_icon(s) for s in (16, 20, 24, 32, 40, 48, 64, 256)}
    files["Icon.ico"] = ico_file([(icons[32], 8), (icons[256], 32), (icons[16], 24), (icons[32], 24),
                                  (icons[48], 24)] + [(icons[s], 32) for s in (20, 24, 40, 64)])
    files["tray.ico"] = ico_file([(icons[16], 24)] + [(icons[s], 32) for s in (20, 24, 32)])
    hand = hand_icon(hotspot())
    files["hand.ico"] = ico_file([(hand, 4)] + [(scaled_pixels(hand, s), 4) for s in (40, 48, 64)])
    up = {s: update_icon(s) for s in (16, 20, 24, 32, 40, 48, 64)}
    files["velUpdate.ico"] = ico_file([(up[32], 8), (up[16], 24), (up[32], 24), (up[48], 24)] +
                                      [(up[s], 32) for s in (20, 24, 40, 64)])
    return files


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="only tell whether artwork/ is current")
    args = ap.parse_args()
    files = build()
    stale = [n for n, data in files.items() if not (ART / n).exists() or (ART / n).read_bytes() != data]
    if args.check:
        for n in stale:
            print(f"stale: artwork/{n}")
        return 1 if stale else 0
    for n, data in files.items():
        (ART / n).write_bytes(data)
    print(f"wrote {len(files)} files to {ART} ({len(stale)} changed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
