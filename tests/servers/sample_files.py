"""The files the local search stand-ins serve, made on the spot from a seed: pictures written by
hand (JPEG, GIF, BMP), small PDF and office documents, and fillers of an exact size. The
same seed always gives the same bytes."""

import struct
import zlib


def seed_of(*parts):
    return zlib.crc32("\x00".join(str(p) for p in parts).encode("utf-8"))


# ---------------------------------------------------------------------------------------------
# Pictures, written by hand: a flat-block baseline JPEG, an LZW GIF that never grows its code
# width, and an uncompressed BMP. Each can be padded to a given size with comment data.

def _bit_writer():
    state = {"bits": "", "out": bytearray()}

    def put(bits):
        state["bits"] += bits
        while len(state["bits"]) >= 8:
            byte = int(state["bits"][:8], 2)
            state["bits"] = state["bits"][8:]
            state["out"].append(byte)
            if byte == 0xFF:
                state["out"].append(0)  # byte stuffing inside entropy-coded data

    def finish():
        if state["bits"]:
            put("1" * (8 - len(state["bits"])))
        return bytes(state["out"])

    return put, finish


# Standard luminance DC table: code length counts for lengths 1..16 and the categories.
_DC_COUNTS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
_DC_CODES = {0: "00", 1: "010", 2: "011", 3: "100", 4: "101", 5: "110", 6: "1110",
             7: "11110", 8: "111110", 9: "1111110", 10: "11111110", 11: "111111110"}


def _segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def make_jpeg(seed, size=0, blocks=4):
    """A grey-scale JPEG of blocks x blocks flat 8x8 tiles, padded with comments to `size`."""
    width = height = 8 * blocks
    out = bytearray(b"\xff\xd8")
    out += _segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    out += _segment(0xDB, b"\x00" + b"\x01" * 64)  # quantisation by 1: DC = 8 * (level - 128)
    out += _segment(0xC0, struct.pack(">BHHBBBB", 8, height, width, 1, 1, 0x11, 0))
    out += _segment(0xC4, b"\x00" + bytes(_DC_COUNTS) + bytes(range(12)))
    out += _segment(0xC4, b"\x10" + bytes([1] + [0] * 15) + b"\x00")  # AC: end-of-block only
    put, finish = _bit_writer()
    previous = 0
    for row in range(blocks):
        for col in range(blocks):
            level = (seed >> ((row * blocks + col) % 24) & 0xFF) ^ (row * 37 + col * 71) & 0xFF
            dc = 8 * (level - 128)
            diff = dc - previous
            previous = dc
            category = abs(diff).bit_length()
            put(_DC_CODES[category])
            if category:
                value = diff if diff > 0 else diff + (1 << category) - 1
                put(format(value, "0%db" % category))
            put("0")  # end of block
    scan = finish()
    out += _segment(0xDA, b"\x01\x01\x00\x00\x3f\x00") + scan
    trailer = b"\xff\xd9"
    missing = size - len(out) - len(trailer)
    while missing >= 4:
        # A comment segment costs four bytes of framing; never leave a rest under four.
        total = min(missing, 65533)
        if 0 < missing - total < 4:
            total -= 4
        out += _segment(0xFE, b"q" * (total - 4))
        missing -= total
    return bytes(out + trailer)


def make_gif(seed, size=0, side=16):
    palette = bytearray()
    for k in range(4):
        palette += bytes([(seed >> (k * 6)) & 0xFF, (seed >> (k * 5 + 3)) & 0xFF, (k * 85) & 0xFF])
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", side, side, 0x81, 0, 0) + palette)
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, side, side, 0) + b"\x02"
    # Codes are 3 bits wide: clear 4, end 5. A clear after every second pixel keeps the
    # decoder's table below 8 entries, so the width never changes.
    codes = []
    for p in range(side * side):
        if p % 2 == 0:
            codes.append(4)
        x, y = p % side, p // side
        codes.append(((x // 4) + (y // 4) + seed) % 4)
    codes.append(5)
    bits, nbits, data = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += 3
        while nbits >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        data.append(bits & 0xFF)
    for start in range(0, len(data), 255):
        chunk = data[start:start + 255]
        out += bytes([len(chunk)]) + chunk
    out += b"\x00"
    trailer = b"\x3b"
    missing = size - len(out) - len(trailer)
    if missing >= 3:  # comment extension: 21 FE, sub-blocks, 00
        out += b"\x21\xfe"
        missing -= 3
        while missing > 1:
            take = min(255, missing - 1)
            if missing - (take + 1) == 1:
                take -= 1  # a lone byte cannot form a sub-block
            out += bytes([take]) + b"g" * take
            missing -= take + 1
        out += b"\x00"
    return bytes(out + trailer)


def make_bmp(seed, size=0):
    width = 16
    row = (width * 3 + 3) & ~3
    height = max(4, (size - 54) // row) if size else 8
    pixels = bytearray()
    for y in range(height):
        line = bytearray()
        for x in range(width):
            line += bytes([(seed + x * 16) & 0xFF, (seed >> 8) + y * 8 & 0xFF, (x ^ y) * 16 & 0xFF])
        pixels += line + b"\x00" * (row - len(line))
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def make_picture(fmt, seed, size):
    if fmt == "jpg":
        return make_jpeg(seed, size)
    if fmt == "gif":
        return make_gif(seed, size)
    return make_bmp(seed, size)


# ---------------------------------------------------------------------------------------------
# Documents: a small PDF with one line of text, or a compound-file signature followed by text
# for the Office kinds. Both padded to an exact size where the size allows.

def make_pdf(title, size):
    text = title.encode("latin-1", "replace").replace(b"(", b"[").replace(b")", b"]")
    stream = b"BT /F1 18 Tf 72 720 Td (" + text + b") Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]

    def build(padding):
        out = bytearray(b"%PDF-1.4\n")
        if padding:
            out += b"%" + b"p" * (padding - 2) + b"\n"
        offsets = []
        for number, body in enumerate(objects, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
        for offset in offsets:
            out += b"%010d 00000 n \n" % offset
        out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
            len(objects) + 1, xref)
        return bytes(out)

    plain = build(0)
    pad = size - len(plain)
    if pad < 2:
        return plain
    # The start-of-xref number may gain a digit as the padding grows; settle in a few rounds.
    padded = build(pad)
    if len(padded) != size:
        for guess in range(max(2, pad - 3), pad + 1):
            if len(build(guess)) == size:
                return build(guess)
    return padded


def make_office(title, size):
    out = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + title.encode("utf-8") + b"\n"
    filler = b"Quarry test document. "
    while len(out) < size:
        out += filler
    return out[:max(size, 16)]


def make_document(kind, title, size):
    return make_pdf(title, size) if kind == "pdf" else make_office(title, size)


def exact_file(name, size):
    """The bytes of /size/N/NAME: a deterministic filler of exactly `size` bytes."""
    pattern = ("%s:" % name).encode("utf-8", "replace") + bytes(range(256))
    return (pattern * (size // len(pattern) + 1))[:size]
