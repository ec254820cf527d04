#!/usr/bin/env python3
"""Writes small camera RAW files laid out as the published descriptions of each format have them:
TIFF directory trees with the maker's tags, sub-directories, Exif with a maker note, a preview
JPEG and raw strips (CR2, NEF, NRW, ARW, SR2, ORF, RW2, RWL, DNG, PEF, SRW, 3FR, ERF, DCR, MOS,
MEF), and the makers' own containers (CR3, RAF, X3F, MRW, CRW). No real camera file can be had
here; the raw data are pseudo-random bytes (as sensor noise compresses), the previews real JPEGs
made by ImageMagick. Usage: make_raw_samples.py OUTDIR"""
import os
import random
import struct
import subprocess
import sys
import tempfile

OUT = sys.argv[1]
rng = random.Random(29)


def jpeg(width, height, exif=None):
    """A real baseline JPEG of a fractal, optionally with an Exif APP1 segment."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, 'p.jpg')
        subprocess.run(['/usr/bin/convert', '-seed', str(width), '-size', f'{width}x{height}',
                        'plasma:fractal', '-strip', '-quality', '70', path], check=True)
        data = open(path, 'rb').read()
    if exif is not None:
        app1 = b'Exif\0\0' + exif
        data = data[:2] + b'\xff\xe1' + struct.pack('>H', len(app1) + 2) + app1 + data[2:]
    return data


def noise(n):
    return rng.randbytes(n)


# Field types: 1 byte, 2 ascii, 3 short, 4 long, 5 rational, 7 undefined, 13 ifd.
SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 13: 4}


class Blob:
    """Bytes placed somewhere in the file; entries refer to their offset or length."""

    def __init__(self, data, align=2):
        self.data = data
        self.align = align
        self.offset = None


class Ifd:
    def __init__(self, entries=None):
        self.entries = entries or {}  # tag -> (type, values); a value may be a Blob/Ifd ref
        self.next = None
        self.offset = None


class Off:
    def __init__(self, target, base=0):
        self.target, self.base = target, base

    def value(self):
        return self.target.offset - self.base


class Len:
    def __init__(self, blob):
        self.blob = blob

    def value(self):
        return len(self.blob.data)


class Tiff:
    """A TIFF file: header, then directories and their values, then blobs in order."""

    def __init__(self, big=False, magic=42, header_extra=b'', first_at=8):
        self.e = '>' if big else '<'
        self.order = b'MM' if big else b'II'
        self.magic = magic
        self.header_extra = header_extra
        self.first_at = first_at
        self.items = []  # Ifd or Blob in file order

    def add(self, item):
        self.items.append(item)
        return item

    def _ifd_size(self, ifd):
        size = 2 + 12 * len(ifd.entries) + 4
        for typ, values in ifd.entries.values():
            n = len(values) if not isinstance(values, bytes) else len(values)
            if SIZES[typ] * n > 4:
                size += SIZES[typ] * n + (SIZES[typ] * n) % 2
        return size

    def layout(self, start):
        pos = start
        for item in self.items:
            if isinstance(item, Ifd):
                pos += pos % 2
                item.offset = pos
                pos += self._ifd_size(item)
            else:
                pos += (-pos) % item.align
                item.offset = pos
                pos += len(item.data)
        return pos

    def _pack(self, typ, values):
        if isinstance(values, bytes):
            return values
        out = b''
        for v in values:
            v = v.value() if isinstance(v, (Off, Len)) else v
            if typ == 5:
                out += struct.pack(self.e + 'II', *v)
            else:
                out += struct.pack(self.e + {1: 'B', 3: 'H', 4: 'I', 13: 'I', 7: 'B'}[typ], v)
        return out

    def build(self, base=0):
        """`base`: where offset 0 of this TIFF lies in the final file (kept 0: offsets are from
        the TIFF header)."""
        end = self.layout(self.first_at)
        buf = bytearray(end)
        head = self.order + struct.pack(self.e + 'H', self.magic) + struct.pack(
            self.e + 'I', self.first_ifd().offset)
        buf[0:8] = head
        buf[8:8 + len(self.header_extra)] = self.header_extra
        for item in self.items:
            if isinstance(item, Blob):
                buf[item.offset:item.offset + len(item.data)] = item.data
                continue
            tags = sorted(item.entries)
            out = struct.pack(self.e + 'H', len(tags))
            extra = b''
            extra_at = item.offset + 2 + 12 * len(tags) + 4
            for tag in tags:
                typ, values = item.entries[tag]
                data = self._pack(typ, values)
                count = len(data) // SIZES[typ]
                if len(data) <= 4:
                    field = data.ljust(4, b'\0')
                else:
                    field = struct.pack(self.e + 'I', extra_at + len(extra))
                    extra += data + b'\0' * (len(data) % 2)
                out += struct.pack(self.e + 'HHI', tag, typ, count) + field
            nxt = item.next.offset if item.next is not None else 0
            out += struct.pack(self.e + 'I', nxt) + extra
            buf[item.offset:item.offset + len(out)] = out
        return bytes(buf)

    def first_ifd(self):
        return next(i for i in self.items if isinstance(i, Ifd))


def ascii(text):
    return (2, text.encode() + b'\0')


def short(*v):
    return (3, list(v))


def long_(*v):
    return (4, list(v))


def rational(*v):
    return (5, list(v))


def exif_ifd(makernote=None, extra=None):
    entries = {
        0x829A: rational((1, 125)), 0x829D: rational((56, 10)), 0x8827: short(200),
        0x9000: (7, b'0231'), 0x9003: ascii('2024:05:17 10:21:33'),
        0x920A: rational((350, 10)),
    }
    if makernote is not None:
        entries[0x927C] = (7, makernote)
    entries.update(extra or {})
    return Ifd(entries)


def ifd0_common(make, model):
    return {0x010F: ascii(make), 0x0110: ascii(model), 0x0112: short(1),
            0x011A: rational((300, 1)), 0x011B: rational((300, 1)), 0x0128: short(2),
            0x0131: ascii('Ver.1.00'), 0x0132: ascii('2024:05:17 10:21:33')}


def raw_ifd(raw, width, height, compression, photometric=32803, bits=14, tiles=False):
    entries = {0x00FE: long_(0), 0x0100: long_(width), 0x0101: long_(height),
               0x0102: short(bits), 0x0103: short(compression), 0x0106: short(photometric),
               0x0115: short(1), 0x828D: short(2, 2), 0x828E: (1, b'\0\1\1\2')}
    if tiles:
        entries.update({0x0142: long_(width), 0x0143: long_(height),
                        0x0144: (4, [Off(raw)]), 0x0145: (4, [Len(raw)])})
    else:
        entries.update({0x0111: (4, [Off(raw)]), 0x0116: long_(height),
                        0x0117: (4, [Len(raw)])})
    return Ifd(entries)


def strips_of(blob):
    return {0x0111: (4, [Off(blob)]), 0x0117: (4, [Len(blob)])}


def jpeg_if(blob):
    return {0x0201: (4, [Off(blob)]), 0x0202: (4, [Len(blob)])}


def write(name, data):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(data)


# --- Canon CR2: "CR" 2.0 at byte 8 and the raw directory's offset at 12; four directories:
# full-size JPEG, thumbnail, small RGB, raw (lossless JPEG strips with the slice tag).
def cr2():
    t = Tiff(header_extra=b'CR\x02\x00' + b'\0\0\0\0', first_at=16)
    preview, thumb = Blob(jpeg(160, 106)), Blob(jpeg(64, 42))
    rgb = Blob(noise(40 * 27 * 6))
    raw = Blob(noise(24000))
    note_values = Blob(noise(64))
    # Canon's maker note is a directory whose offsets count from the TIFF header.
    note = struct.pack('<H', 2) + struct.pack('<HHII', 0x0001, 3, 4, 0) + struct.pack(
        '<HHII', 0x0006, 2, 32, 0) + b'\0\0\0\0'
    ifd0 = t.add(Ifd({**ifd0_common('Canon', 'Canon EOS 5D Mark IV'), 0x0100: long_(160),
                      0x0101: long_(106), 0x0102: short(8, 8, 8), 0x0103: short(6),
                      **strips_of(preview)}))
    ex = t.add(exif_ifd(note))
    ifd0.entries[0x8769] = (4, [Off(ex)])
    ifd1 = t.add(Ifd({0x0103: short(6), **jpeg_if(thumb)}))
    ifd2 = t.add(Ifd({0x0100: long_(40), 0x0101: long_(27), 0x0102: short(16, 16, 16),
                      0x0103: short(1), 0x0106: short(2), 0x0115: short(3),
                      0x0116: long_(27), **strips_of(rgb), 0x011C: short(1)}))
    ifd3 = t.add(Ifd({0x0103: short(6), **strips_of(raw), 0xC5D8: long_(1), 0xC5E0: long_(1),
                      0xC640: short(1, 2000, 2000)}))
    ifd0.next, ifd1.next, ifd2.next = ifd1, ifd2, ifd3
    for b in (note_values, preview, thumb, rgb, raw):
        t.add(b)
    data = bytearray(t.build())
    data[12:16] = struct.pack('<I', ifd3.offset)
    # Fill the maker note's offset entry, pointing at its values block.
    pos = data.find(note)
    struct.pack_into('<I', data, pos + 2 + 12 + 8, note_values.offset)
    write('canon.cr2', bytes(data))


# --- Nikon NEF: big-endian; a thumbnail in IFD0, the raw and a preview JPEG in sub-directories,
# a type-2 maker note holding its own TIFF with a preview directory.
def nikon(name, model, raw_size):
    t = Tiff(big=True)
    thumb, preview = Blob(noise(20 * 13 * 3)), Blob(jpeg(120, 80))
    raw = Blob(noise(raw_size))
    inner_jpeg = jpeg(48, 32)
    mn = Tiff(big=True)
    inner_ifd = mn.add(Ifd({0x0001: (7, b'0210'), 0x0011: (13, [0])}))
    prev_ifd = mn.add(Ifd({0x0103: short(6), 0x0201: long_(0), 0x0202: long_(len(inner_jpeg))}))
    inner_ifd.entries[0x0011] = (13, [Off(prev_ifd)])
    jb = mn.add(Blob(inner_jpeg))
    prev_ifd.entries[0x0201] = (4, [Off(jb)])
    note = b'Nikon\0\x02\x10\0\0' + mn.build()
    ifd0 = t.add(Ifd({**ifd0_common('NIKON CORPORATION', model), 0x00FE: long_(1),
                      0x0100: long_(20), 0x0101: long_(13), 0x0102: short(8, 8, 8),
                      0x0103: short(1), 0x0106: short(2), 0x0115: short(3), 0x0116: long_(13),
                      **strips_of(thumb)}))
    sub_prev = t.add(Ifd({0x00FE: long_(1), 0x0103: short(6), **jpeg_if(preview)}))
    sub_raw = t.add(raw_ifd(raw, 64, 40, 34713, bits=14))
    ex = t.add(exif_ifd(note))
    ifd0.entries[0x014A] = (4, [Off(sub_prev), Off(sub_raw)])
    ifd0.entries[0x8769] = (4, [Off(ex)])
    for b in (thumb, preview, raw):
        t.add(b)
    write(name, t.build())


# --- Sony ARW / SR2: a preview JPEG in IFD0, the raw in a sub-directory, an SR2 private
# directory reached through DNGPrivateData, holding the (encrypted) SR2 sub-directory's place.
def sony(name, model, compression):
    t = Tiff()
    preview, raw = Blob(jpeg(128, 85)), Blob(noise(30000))
    sr2sub = Blob(noise(512))
    note = b'SONY DSC \0\0\0' + struct.pack('<H', 1) + struct.pack('<HHII', 0xB020, 2, 4,
                                                                   0x4C4F5700) + b'\0\0\0\0'
    ifd0 = t.add(Ifd({**ifd0_common('SONY', model), 0x00FE: long_(1), 0x0103: short(6),
                      **jpeg_if(preview)}))
    sub = t.add(raw_ifd(raw, 80, 50, compression, bits=12))
    ex = t.add(exif_ifd(note))
    sr2 = t.add(Ifd({0x7200: (4, [Off(sr2sub)]), 0x7201: (4, [Len(sr2sub)]),
                     0x7221: long_(0x12345678)}))
    ifd0.entries[0x014A] = (4, [Off(sub)])
    ifd0.entries[0x8769] = (4, [Off(ex)])
    ifd0.entries[0xC634] = (4, [Off(sr2)])
    for b in (preview, sr2sub, raw):
        t.add(b)
    write(name, t.build())


# --- Olympus ORF: "IIRO" header, the raw in IFD0, the preview JPEG inside the maker note,
# reached through its camera-settings directory (offsets from the maker note's start).
def olympus():
    t = Tiff(magic=0x4F52)
    raw = Blob(noise(26000))
    prev = jpeg(96, 64)
    # Maker note: "OLYMPUS\0II" 3 0, then a directory whose offsets count from the note's start.
    body = bytearray(b'OLYMPUS\0II\x03\x00')
    main_at = len(body)
    cs_at = main_at + 2 + 12 + 4
    cs_entries = 3
    prev_at = cs_at + 2 + 12 * cs_entries + 4
    body += struct.pack('<H', 1) + struct.pack('<HHII', 0x2020, 13, 1, cs_at) + b'\0\0\0\0'
    body += struct.pack('<H', cs_entries)
    body += struct.pack('<HHII', 0x0100, 4, 1, 1)
    body += struct.pack('<HHII', 0x0101, 4, 1, prev_at)
    body += struct.pack('<HHII', 0x0102, 4, 1, len(prev))
    body += b'\0\0\0\0' + prev
    ifd0 = t.add(Ifd({**ifd0_common('OLYMPUS CORPORATION', 'E-M10MarkII'), 0x00FE: long_(0),
                      0x0100: long_(80), 0x0101: long_(60), 0x0102: short(12),
                      0x0103: short(1), 0x0106: short(32803), 0x0115: short(1),
                      0x0116: long_(60), **strips_of(raw)}))
    ex = t.add(exif_ifd(bytes(body)))
    ifd0.entries[0x8769] = (4, [Off(ex)])
    t.add(raw)
    write('olympus.orf', t.build())


# --- Panasonic RW2 (and Leica's RWL): "IIU" header, Panasonic's own tags in IFD0, the raw from
# RawDataOffset and the full JPEG with its Exif in JpgFromRaw (tag 0x2E).
def panasonic(name, make, model):
    t = Tiff(magic=0x55, first_at=0x18)
    raw = Blob(noise(28000))
    ex = Tiff()
    e0 = ex.add(Ifd({**ifd0_common(make, model)}))
    e1 = ex.add(exif_ifd())
    e0.entries[0x8769] = (4, [Off(e1)])
    embedded = Blob(jpeg(120, 80, ex.build()))
    t.add(Ifd({0x0001: (7, b'0340'), 0x0002: short(96), 0x0003: short(72),
               0x0004: short(4), 0x0005: short(8), 0x0006: short(72), 0x0007: short(96),
               0x0009: short(2), 0x0017: short(200), 0x002E: (7, b'\0' * 8),
               0x010F: ascii(make), 0x0110: ascii(model), 0x0111: (4, [Off(raw)]),
               0x0112: short(1), 0x0116: short(72), 0x0117: (4, [Len(raw)]),
               0x0118: (4, [Off(raw)])}))
    t.add(embedded)
    t.add(raw)
    data = bytearray(t.build())
    # JpgFromRaw's count and offset: the JPEG blob.
    ifd = t.first_ifd()
    count = struct.unpack_from('<H', data, ifd.offset)[0]
    for i in range(count):
        at = ifd.offset + 2 + 12 * i
        if struct.unpack_from('<H', data, at)[0] == 0x002E:
            struct.pack_into('<II', data, at + 4, len(embedded.data), embedded.offset)
    data[8:0x18] = b'\x88\xe7\x74\xd8\xf8\x25\x1d\x4d\x94\x7a\x6e\x77\x82\x2b\x5d\x6a'
    write(name, bytes(data))


# --- DNG as a phone writes it: a preview in IFD0, DNGVersion, the raw tiled in a sub-directory.
def dng():
    t = Tiff()
    thumb = Blob(noise(32 * 24 * 3))
    raw = Blob(noise(26000))
    ifd0 = t.add(Ifd({**ifd0_common('Apple', 'iPhone 14 Pro'), 0x00FE: long_(1),
                      0x0100: long_(32), 0x0101: long_(24), 0x0102: short(8, 8, 8),
                      0x0103: short(1), 0x0106: short(2), 0x0115: short(3), 0x0116: long_(24),
                      **strips_of(thumb), 0xC612: (1, b'\1\6\0\0'), 0xC613: (1, b'\1\4\0\0'),
                      0xC614: ascii('iPhone 14 Pro')}))
    sub = t.add(raw_ifd(raw, 96, 64, 7, photometric=34892, bits=16, tiles=True))
    ex = t.add(exif_ifd())
    ifd0.entries[0x014A] = (4, [Off(sub)])
    ifd0.entries[0x8769] = (4, [Off(ex)])
    t.add(thumb)
    t.add(raw)
    write('phone.dng', t.build())


# --- Other TIFF-based RAW: the raw in IFD0 (or a sub-directory), named by Make and Model.
def plain_raw(name, make, model, compression, big=False, sub=False):
    t = Tiff(big=big)
    preview, raw = Blob(jpeg(64, 48)), Blob(noise(18000))
    ifd0 = t.add(Ifd({**ifd0_common(make, model), **jpeg_if(preview)}))
    r = t.add(raw_ifd(raw, 64, 48, compression, bits=12))
    if sub:
        ifd0.entries[0x014A] = (4, [Off(r)])
    else:
        ifd0.next = r
    ex = t.add(exif_ifd())
    ifd0.entries[0x8769] = (4, [Off(ex)])
    t.add(preview)
    t.add(raw)
    write(name, t.build())


# --- Canon CR3: ISO base media, brand "crx ", Canon's boxes in the movie box, XMP and the
# preview in top-level "uuid" boxes, the picture and raw in "mdat".
def box(kind, payload):
    return struct.pack('>I', 8 + len(payload)) + kind + payload


def full_box(kind, version_flags, payload):
    return box(kind, struct.pack('>I', version_flags) + payload)


def cr3():
    preview = jpeg(160, 106)
    thumb = jpeg(64, 42)
    raw = noise(30000)
    ftyp = box(b'ftyp', b'crx ' + struct.pack('>I', 1) + b'crx isom')
    cmt = Tiff()
    cmt.add(Ifd({**ifd0_common('Canon', 'Canon EOS R5')}))
    canon = box(b'uuid', bytes.fromhex('85c0b687820f11e08111f4ce462b6a48') +
                box(b'CNCV', b'CanonCR3_001/00.10.00/00.00.00') +
                box(b'CCTP', b'\0' * 12) + box(b'CMT1', cmt.build()) +
                box(b'THMB', struct.pack('>IHHI', 0, 64, 42, len(thumb)) + b'\0\0\0\0' + thumb))
    mvhd = full_box(b'mvhd', 0, b'\0' * 96)
    tkhd = full_box(b'tkhd', 3, b'\0' * 80)
    trak = box(b'trak', tkhd + box(b'mdia', full_box(b'mdhd', 0, b'\0' * 20)))
    moov = box(b'moov', canon + mvhd + trak)
    xmp = box(b'uuid', bytes.fromhex('be7acfcb97a942e89c71999491e3afac') +
              b'<x:xmpmeta xmlns:x="adobe:ns:meta/"></x:xmpmeta>')
    prvw = box(b'uuid', bytes.fromhex('eaf42b5e1c984b88b9fbb7dc406e4d16') +
               struct.pack('>Q', 1) + box(b'PRVW', struct.pack('>IHHHH', 0, 1, 160, 106, 0) +
                                          struct.pack('>I', len(preview)) + preview))
    mdat = box(b'mdat', jpeg(200, 133) + raw)
    write('canon.cr3', ftyp + moov + xmp + prvw + mdat)


# --- Fujifilm RAF: the big-endian header with the directory of the JPEG, the meta container
# (count and records) and the raw (a TIFF-like container and the data).
def raf():
    exif = Tiff(big=False)
    e0 = exif.add(Ifd({**ifd0_common('FUJIFILM', 'X-T4')}))
    e1 = exif.add(exif_ifd())
    e0.entries[0x8769] = (4, [Off(e1)])
    picture = jpeg(160, 106, exif.build())
    records = [(0x100, struct.pack('>HH', 64, 96)), (0x110, struct.pack('>HH', 0, 0)),
               (0x111, struct.pack('>HH', 64, 96)), (0x121, struct.pack('>HH', 64, 96)),
               (0x130, b'\0' * 8)]
    meta = struct.pack('>I', len(records)) + b''.join(
        struct.pack('>HH', t, len(d)) + d for t, d in records)
    cfa = Tiff(big=True)
    c0 = cfa.add(Ifd({0xF000: (13, [0])}))
    raw = Blob(noise(32000))
    c1 = cfa.add(Ifd({0xF001: long_(96), 0xF002: long_(64), 0xF003: long_(14),
                      0xF007: (4, [Off(raw)]), 0xF008: (4, [Len(raw)])}))
    c0.entries[0xF000] = (13, [Off(c1)])
    cfa.add(raw)
    cfa_data = cfa.build()
    header = bytearray(b'FUJIFILMCCD-RAW 0201FF129502X-T4'.ljust(60, b'\0'))
    header[28:60] = b'X-T4'.ljust(32, b'\0')
    directory = bytearray(b'0100' + b'\0' * 20)
    jpeg_at = 160
    meta_at = jpeg_at + len(picture)
    meta_at += (-meta_at) % 4
    cfa_at = meta_at + len(meta)
    cfa_at += (-cfa_at) % 16
    directory += struct.pack('>IIIIII', jpeg_at, len(picture), meta_at, len(meta), cfa_at,
                             len(cfa_data))
    head = bytes(header + directory)
    data = bytearray(head.ljust(jpeg_at, b'\0'))
    data += picture
    data += b'\0' * (meta_at - len(data)) + meta
    data += b'\0' * (cfa_at - len(data)) + cfa_data
    write('fuji.raf', bytes(data))


# --- Sigma X3F: little-endian "FOVb" header, sections (properties, a JPEG preview image, the
# raw image), the "SECd" directory after them and its offset in the file's last four bytes.
def x3f():
    header = bytearray(b'FOVb' + struct.pack('<I', 0x00020003) + rng.randbytes(16) +
                       struct.pack('<IIII', 0, 96, 64, 0))
    header += b'\0' * (256 - len(header))
    sections = []
    props = ('CAMMANUF\0SIGMA\0CAMMODEL\0SIGMA dp2 Quattro\0').encode('utf-16-le')
    sections.append((b'PROP', b'SECp' + struct.pack('<IIIIII', 0x00020000, 2, 0, 0, 0,
                                                     len(props) // 2) + props))
    preview = jpeg(96, 64)
    sections.append((b'IMAG', b'SECi' + struct.pack('<IIIIII', 0x00020000, 2, 18, 96, 64, 0) +
                     preview))
    raw = noise(24000)
    sections.append((b'IMA2', b'SECi' + struct.pack('<IIIIII', 0x00020000, 3, 30, 96, 64,
                                                     len(raw)) + raw))
    data = bytearray(header)
    entries = []
    for kind, body in sections:
        data += b'\0' * ((-len(data)) % 16)
        entries.append((len(data), len(body), kind))
        data += body
    data += b'\0' * ((-len(data)) % 4)
    directory_at = len(data)
    data += b'SECd' + struct.pack('<II', 0x00020000, len(entries))
    for at, length, kind in entries:
        data += struct.pack('<II', at, length) + kind
    data += struct.pack('<I', directory_at)
    write('sigma.x3f', bytes(data))


# --- Minolta MRW: the "\0MRM" block holding PRD, TTW (a TIFF), WBG, RIF and PAD blocks, then
# the raw data, height x width at 16 bits (or 12, packed).
def mrw():
    height, width = 48, 64
    prd = b'21810002' + struct.pack('>HHHH', height, width, height, width) + bytes(
        [16, 12, 0x52, 0, 0, 0]) + b'\0\1'
    ttw_tiff = Tiff(big=True)
    t0 = ttw_tiff.add(Ifd({**ifd0_common('Konica Minolta Camera, Inc.', 'DYNAX 5D')}))
    t1 = ttw_tiff.add(exif_ifd())
    t0.entries[0x8769] = (4, [Off(t1)])
    blocks = [(b'\0PRD', prd), (b'\0TTW', ttw_tiff.build()),
              (b'\0WBG', bytes([2, 2, 2, 2]) + struct.pack('>HHHH', 460, 256, 256, 600)),
              (b'\0RIF', b'\0' * 64)]
    body = b''.join(k + struct.pack('>I', len(d)) + d for k, d in blocks)
    pad = (-(8 + 8 + len(body) + 8)) % 512
    body += b'\0PAD' + struct.pack('>I', pad) + b'\0' * pad
    data = b'\0MRM' + struct.pack('>I', len(body)) + body + noise(height * width * 2)
    write('minolta.mrw', data)


# --- Canon CRW: the CIFF header ("HEAPCCDR"), a root heap holding the JPEG, the raw and a
# sub-heap of image properties, each heap ending with its record table and the table's offset.
def heap(records):
    """records: (tag, bytes) ; returns a heap: data, then the table and its offset."""
    body = bytearray()
    table = []
    for tag, data in records:
        table.append((tag, len(data), len(body)))
        body += data
        body += b'\0' * (len(body) % 2)
    table_at = len(body)
    body += struct.pack('<H', len(table))
    for tag, size, at in table:
        body += struct.pack('<HII', tag, size, at)
    body += struct.pack('<I', table_at)
    return bytes(body)


def crw():
    props = heap([(0x080A, b'Canon\0Canon PowerShot G5\0'.ljust(32, b'\0')),
                  (0x1810, struct.pack('<IIfII', 160, 120, 1.0, 0, 0))])
    root = heap([(0x2007, jpeg(160, 120)), (0x2005, noise(28000)), (0x300A, props)])
    data = b'II' + struct.pack('<I', 26) + b'HEAPCCDR' + struct.pack('<I', 0x00010002) + \
        b'\0' * 8 + root
    write('canon.crw', data)


cr2()
nikon('nikon.nef', 'NIKON D750', 30000)
nikon('coolpix.nrw', 'COOLPIX P7800', 20000)
sony('sony.arw', 'ILCE-7M3', 32767)
sony('sony.sr2', 'DSC-R1', 32767)
olympus()
panasonic('panasonic.rw2', 'Panasonic', 'DC-G9')
panasonic('leica.rwl', 'LEICA', 'D-LUX 7')
dng()
plain_raw('pentax.pef', 'PENTAX', 'PENTAX K-3 II', 65535, big=True)
plain_raw('samsung.srw', 'SAMSUNG', 'NX500', 32770)
plain_raw('hasselblad.3fr', 'Hasselblad', 'Hasselblad H6D-100c', 1, big=True)
plain_raw('epson.erf', 'SEIKO EPSON CORP.', 'R-D1', 32769)
plain_raw('kodak.dcr', 'EASTMAN KODAK COMPANY', 'DCS Pro 14N', 65000)
plain_raw('leaf.mos', 'Leaf', 'Credo 40', 1, big=True, sub=True)
plain_raw('mamiya.mef', 'Mamiya-OP Co.,Ltd.', 'Mamiya ZD', 1, big=True)
cr3()
raf()
x3f()
mrw()
crw()
