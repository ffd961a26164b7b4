#!/usr/bin/env python3
"""Draws the web wizard's images (plain shapes of the sizes the pages lay out) into web_ui/static/images."""
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web_ui", "static", "images")


def png(path, width, height, pixel):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
    write(path, data)


def gif_frame_data(width, height, index):
    # LZW with a clear code before every pair of pixels keeps every code 3 bits wide.
    clear, end = 4, 5
    codes = []
    pixels = [index(x, y) for y in range(height) for x in range(width)]
    for i in range(0, len(pixels), 2):
        codes.append(clear)
        codes.extend(pixels[i:i + 2])
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += 3
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = bytearray([2])
    for i in range(0, len(out), 255):
        part = out[i:i + 255]
        blocks += bytes([len(part)]) + part
    return bytes(blocks + b"\0")


def gif(path, width, height, palette, frames, delay=10):
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF1, 0, 0)
    data += b"".join(bytes(c) for c in palette)
    if len(frames) > 1:
        data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for index in frames:
        data += b"\x21\xF9\x04" + struct.pack("<BHBB", 0x05, delay, 0, 0)
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data += gif_frame_data(width, height, index)
    write(path, data + b";")


def write(path, data):
    full = os.path.join(OUT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


def filled(color):
    return lambda x, y: color


def disc(size, color, inner=None):
    def pixel(x, y):
        dx, dy = x - (size - 1) / 2, y - (size - 1) / 2
        r = (dx * dx + dy * dy) ** 0.5
        if r <= size / 2 - 1:
            return inner(x, y) if inner and r <= size / 4 else color
        return (0, 0, 0, 0)
    return pixel


BLUE, GREY, GREEN, RED, AMBER, WHITE = (40, 96, 160, 255), (160, 160, 160, 255), (60, 150, 60, 255), (190, 40, 40, 255), (220, 150, 30, 255), (255, 255, 255, 255)
GIF_PALETTE = [(255, 255, 255), (40, 96, 160), (200, 200, 200), (60, 150, 60)]


def main():
    # Small GIF marks, the gauge pieces and the busy indicator.
    plus = lambda x, y: 1 if (x == 4 or y == 4) and 1 <= x <= 7 and 1 <= y <= 7 else 0
    minus = lambda x, y: 1 if y == 4 and 1 <= x <= 7 else 0
    gif("collapse.gif", 9, 9, GIF_PALETTE, [minus])
    gif("expand.gif", 9, 9, GIF_PALETTE, [plus])
    arrow = lambda color: (lambda x, y: color if y <= 4 and x >= y and x <= 8 - y else 0)
    gif("dropdown-arrow.gif", 9, 5, GIF_PALETTE, [arrow(2)])
    gif("dropdown-arrow-active.gif", 9, 5, GIF_PALETTE, [arrow(1)])
    spinner = [(lambda step: (lambda x, y: 1 if (x // 4 + y // 4 * 4) % 8 == step else 2 if (x + y) % 5 == 0 else 0))(s) for s in range(8)]
    gif("indicator.gif", 16, 16, GIF_PALETTE, spinner)
    gif("gauge/begin-empty.gif", 4, 16, GIF_PALETTE, [filled(2)])
    gif("gauge/begin-filled.gif", 4, 16, GIF_PALETTE, [filled(3)])
    gif("gauge/empty.gif", 1, 16, GIF_PALETTE, [filled(2)])
    gif("gauge/end-empty.gif", 4, 16, GIF_PALETTE, [filled(2)])
    gif("gauge/end-filled.gif", 4, 16, GIF_PALETTE, [filled(3)])
    gif("gauge/fill.gif", 1, 16, GIF_PALETTE, [filled(3)])

    # State marks, 16 by 16.
    for name, color in [("arr_collapse", BLUE), ("arr_expand", BLUE), ("att_small", AMBER), ("error", RED),
                        ("installed", GREEN), ("mixed", AMBER), ("not-installed", GREY), ("ok", GREEN)]:
        png(name + ".png", 16, 16, disc(16, color, filled(WHITE) if name in ("mixed", "att_small") else None))
    png("company_logo.png", 86, 35, lambda x, y: BLUE if 4 <= y <= 30 and (x // 12) % 2 == 0 else (0, 0, 0, 0))
    png("header_login_bg.png", 134, 139, disc(134, BLUE, filled(WHITE)))
    for name in ["add_remove_components", "install_upgrade_product", "main", "repair_products", "uninstall_patch",
                 "uninstall_product", "update_components"]:
        png("header_%s_bg.png" % name, 62, 62, disc(62, BLUE, filled(WHITE)))
    for name, color in [("add_remove_components_bg", BLUE), ("add_remove_components_disabled_bg", GREY),
                        ("arrow", BLUE), ("arrow_disabled_bg", GREY), ("default_bg", BLUE),
                        ("default_product", BLUE), ("default_product_disabled", GREY),
                        ("install_upgrade_product_bg", BLUE), ("installed_bg", GREEN), ("not_installed_bg", GREY),
                        ("partly_installed_bg", AMBER), ("product_alpha", RED), ("product_beta", AMBER),
                        ("repair_product_bg", BLUE), ("uninstall_patch_bg", RED), ("uninstall_product_bg", RED),
                        ("update_components_bg", BLUE), ("updates_available_bg", AMBER)]:
        png("icon_%s.png" % name, 32, 32, disc(32, color))


if __name__ == "__main__":
    sys.exit(main())
