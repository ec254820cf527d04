#!/usr/bin/env python3
"""Writes a small file laid out as a Nikon NEF is: a little-endian TIFF whose IFD0 holds a
reduced picture, the make and the model, and whose sub-IFD holds the full-size preview JPEG
(JPEGInterchangeFormat, JPEGInterchangeFormatLength) as cameras embed it beside the sensor
data; the sensor data itself is a short run of bytes. Run by make_pictures.sh:
make_raw_sample.py PREVIEW.jpg OUT.nef"""
import struct
import sys

preview = open(sys.argv[1], "rb").read()
SHORT, LONG, ASCII = 3, 4, 2


def ifd(entries, next_offset, at):
    """The IFD bytes at offset `at`; values longer than 4 bytes follow the IFD."""
    entries = sorted(entries)
    head = struct.pack("<H", len(entries))
    extra = b""
    extra_at = at + 2 + 12 * len(entries) + 4
    body = b""
    for tag, kind, count, value in entries:
        if isinstance(value, bytes):
            if len(value) <= 4:
                body += struct.pack("<HHI", tag, kind, count) + value.ljust(4, b"\0")
            else:
                body += struct.pack("<HHII", tag, kind, count, extra_at + len(extra))
                extra += value + (b"\0" if len(value) % 2 else b"")
        elif kind == SHORT:
            body += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            body += struct.pack("<HHII", tag, kind, count, value)
    return head + body + struct.pack("<I", next_offset) + extra


width, height = 8, 6
reduced = bytes((x * 30 + y * 10) % 256 for y in range(height) for x in range(width * 3))
sensor = bytes(range(256)) * 4
make, model = b"NIKON CORPORATION\0", b"NIKON D750\0"

ifd0_at = 8
sub_at = 512
data_at = 1024
reduced_at = data_at
sensor_at = reduced_at + len(reduced)
preview_at = sensor_at + len(sensor)

ifd0 = ifd([
    (0x00FE, LONG, 1, 1),  # NewSubfileType: reduced picture
    (0x0100, LONG, 1, width), (0x0101, LONG, 1, height),
    (0x0102, SHORT, 3, struct.pack("<HHH", 8, 8, 8)),
    (0x0103, SHORT, 1, 1), (0x0106, SHORT, 1, 2),
    (0x010F, ASCII, len(make), make), (0x0110, ASCII, len(model), model),
    (0x0111, LONG, 1, reduced_at), (0x0115, SHORT, 1, 3), (0x0116, LONG, 1, height),
    (0x0117, LONG, 1, len(reduced)),
    (0x014A, LONG, 1, sub_at),  # SubIFDs
    (0x9003, ASCII, 20, b"2022:05:06 07:08:09\0"),  # DateTimeOriginal, as NEF keeps it in IFD0
], 0, ifd0_at)
sub = ifd([
    (0x00FE, LONG, 1, 1),
    (0x0103, SHORT, 1, 6),  # old-style JPEG
    (0x0201, LONG, 1, preview_at), (0x0202, LONG, 1, len(preview)),
], 0, sub_at)
assert len(ifd0) + ifd0_at <= sub_at and len(sub) + sub_at <= data_at
out = bytearray(b"II*\0" + struct.pack("<I", ifd0_at))
out += ifd0.ljust(sub_at - len(out), b"\0")
out += sub.ljust(data_at - len(out), b"\0")
out += reduced + sensor + preview
open(sys.argv[2], "wb").write(out)
