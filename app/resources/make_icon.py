#!/usr/bin/env python3
"""Wraps the desktop program's 64 x 64 icon (the Qt build's PNG) into zemtabulo.ico for the
Windows build: an icon file whose one image is stored as PNG, as Windows reads them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
PNG = os.path.join(HERE, "..", "..", "platform", "qt", "resources", "zemtabulo.png")

png = open(PNG, "rb").read()
width, height = struct.unpack(">II", png[16:24])
header = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
with open(os.path.join(HERE, "zemtabulo.ico"), "wb") as f:
    f.write(header + entry + png)
