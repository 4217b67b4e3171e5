#!/usr/bin/env python3
"""Writes the tray icons tray_stopped.ico and tray_running.ico beside this script.

Each holds 16x16 and 32x32 32-bit images: a round lamp, red when scanning is stopped and green when it
runs, with a white "T". Run again after changing the drawing; the .ico files are committed."""
import math
import os
import struct

LAMPS = {"tray_stopped.ico": (200, 40, 40), "tray_running.ico": (30, 160, 60)}


def pixel(x, y, size, colour):
    """BGRA of one pixel, y counted from the top."""
    c = (size - 1) / 2.0
    r = size / 2.0 - 0.5
    d = math.hypot(x - c, y - c)
    if d > r + 0.5:
        return (0, 0, 0, 0)
    alpha = int(255 * min(1.0, r + 0.5 - d))
    u, v = x / size, y / size
    in_t = (0.25 <= u < 0.75 and 0.22 <= v < 0.36) or (0.43 <= u < 0.57 and 0.22 <= v < 0.8)
    if in_t:
        return (255, 255, 255, alpha)
    shade = 0.75 if d > r - max(1.0, size / 16.0) else 1.0  # a darker rim
    red, green, blue = (int(ch * shade) for ch in colour)
    return (blue, green, red, alpha)


def image(size, colour):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size, colour)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)  # the alpha channel decides; the mask stays clear
    return header + b"".join(rows) + mask_row * size


def icon(colour):
    images = [image(s, colour) for s in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, colour in LAMPS.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(icon(colour))
