#!/usr/bin/env python3
"""Makes the desktop program's own resources: the three wave files, the 150 x 40 logo
bitmap (24 bits per pixel) and the application icon. Run it again after changing a design;
the files it writes are kept in the repository."""
import math
import os
import struct
import wave
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 22050


def tone(parts, volume=0.35):
    """parts: (frequency Hz, seconds) pairs; frequency 0 is a rest. Each note fades out."""
    samples = []
    for freq, secs in parts:
        n = int(RATE * secs)
        for i in range(n):
            if freq == 0:
                samples.append(0)
                continue
            t = i / RATE
            env = min(1.0, i / (RATE * 0.005)) * (1.0 - i / n) ** 1.5
            v = math.sin(2 * math.pi * freq * t) + 0.3 * math.sin(4 * math.pi * freq * t)
            samples.append(int(32767 * volume * env * v / 1.3))
    return samples


def write_wave(name, samples):
    with wave.open(os.path.join(HERE, name), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", s) for s in samples))


# A short two-note chime, a rising arpeggio, and a closing cadence.
write_wave("ringin.wav", tone([(1318.5, 0.12), (1046.5, 0.22)]))
write_wave("carib.wav", tone([(523.3, 0.09), (659.3, 0.09), (784.0, 0.09), (1046.5, 0.25)]))
write_wave("end.wav", tone([(784.0, 0.15), (659.3, 0.15), (523.3, 0.4)]))

# 5 x 7 dot glyphs for the logo's lettering.
GLYPHS = {
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
}


def logo(width=150, height=40):
    """A dot-matrix panel: dark blue glass, amber lit dots spelling the name."""
    text = "ZEM-TABULO"
    dot = 2
    cols = len(text) * 6 - 1
    x0 = (width - cols * dot) // 2
    y0 = 6
    lit = set()
    for k, ch in enumerate(text):
        for r, row in enumerate(GLYPHS[ch]):
            for c, bit in enumerate(row):
                if bit == "1":
                    lit.add((k * 6 + c, r))
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            shade = 40 + int(30 * y / height)
            color = (shade // 3, shade // 2, shade + 30)  # r, g, b
            if x < 2 or y < 2 or x >= width - 2 or y >= height - 2:
                color = (150, 160, 175)
            gx, gy = (x - x0) // dot, (y - y0) // dot
            if x >= x0 and y >= y0 and gx < cols and gy < 7:
                if (gx, gy) in lit:
                    color = (255, 176, 32)
                elif (x - x0) % dot == 0 and (y - y0) % dot == 0:
                    color = (60, 58, 90)
            # A thin amber line under the lettering, like a progress bar at full.
            if 28 <= y <= 30 and 12 <= x < width - 12:
                color = (255, 176, 32) if y == 29 else (120, 84, 30)
            row.append(color)
        pixels.append(row)
    return pixels


def write_bmp(name, pixels):
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        body += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + body)


def write_png(name, pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png)


def icon(size=64):
    """A rounded panel with a bar of amber dots and a downward arrow: data going in."""
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            inside = 4 <= x < size - 4 and 4 <= y < size - 4
            corner = min(x - 4, size - 5 - x) < 6 and min(y - 4, size - 5 - y) < 6
            if corner:
                cx = 10 if x < size // 2 else size - 11
                cy = 10 if y < size // 2 else size - 11
                inside = inside and (x - cx) ** 2 + (y - cy) ** 2 <= 36
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            color = (30, 45, 100, 255)
            arrow = (abs(x - size // 2) <= 4 and 12 <= y <= 34) or (
                34 <= y <= 44 and abs(x - size // 2) <= 44 - y)
            if arrow:
                color = (255, 176, 32, 255)
            if 48 <= y <= 52 and 12 <= x < size - 12 and x % 4 < 3:
                color = (255, 176, 32, 255)
            row.append(color)
        pixels.append(row)
    return pixels


write_bmp("logo137.bmp", logo())
write_png("zemtabulo.png", icon())
