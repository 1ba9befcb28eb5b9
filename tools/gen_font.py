#!/usr/bin/env python3
"""Generates src/draw/font.cpp, the 8x8 code page 437 font, from a PC VGA
8-pixel console font in PSF format (version 1 or 2) with a Unicode table.

The default source is Uni2-VGA8 from Debian's console-setup-linux package
(`apt-get install console-setup-linux`), whose copyright file states: "All
console fonts are public domain by nature."

    python3 tools/gen_font.py [--psf FILE] [--out FILE]

Each code page 437 code is mapped to its Unicode character(s) and the glyph
that the font's Unicode table gives for it is taken. Python standard library
only.
"""

import argparse
import gzip
import os
import struct
import sys

DEFAULT_PSF = "/usr/share/consolefonts/Uni2-VGA8.psf.gz"
SOURCE_NOTE = ("Debian package console-setup-linux, font Uni2-VGA8.psf.gz; "
               "its copyright file states: \"All console fonts are public domain by nature.\"")

GLYPHS = 256
ROWS = 8  # 8x8 cell: one byte per row, bit 7 leftmost

PSF1_MAGIC = b"\x36\x04"
PSF1_MODE512 = 0x01
PSF1_MODEHASTAB = 0x02
PSF1_MODESEQ = 0x04
PSF1_SEPARATOR = 0xFFFF
PSF1_STARTSEQ = 0xFFFE

PSF2_MAGIC = b"\x72\xb5\x4a\x86"
PSF2_HAS_UNICODE_TABLE = 0x01
PSF2_SEPARATOR = 0xFF
PSF2_STARTSEQ = 0xFE

# The PC shows these graphic symbols for the control codes 0x01-0x1F and for
# 0x7F; Python's cp437 codec maps them to control characters instead.
CONTROL_GRAPHICS = "☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼"
HOUSE = "⌂"
DELETE_CODE = 0x7F

# The three codes that stay blank: NUL, space and the non-breaking space.
BLANK_CODES = (0x00, 0x20, 0xFF)

# Glyphs that the displays print and that must keep exactly these rows.
# Entries only override the font where it differs (see REQUIRED_REASON).
REQUIRED = {
    0x20: "00 00 00 00 00 00 00 00",
    0x2D: "00 00 00 7E 00 00 00 00",
    0x2E: "00 00 00 00 00 18 18 00",
    0x3A: "00 18 18 00 00 18 18 00",
    0x30: "38 6C C6 D6 C6 6C 38 00",
    0x31: "18 38 18 18 18 18 7E 00",
    0x32: "7C C6 06 1C 30 66 FE 00",
    0x33: "7C C6 06 3C 06 C6 7C 00",
    0x34: "1C 3C 6C CC FE 0C 1E 00",
    0x35: "FE C0 C0 FC 06 C6 7C 00",
    0x36: "38 60 C0 FC C6 C6 7C 00",
    0x37: "FE C6 0C 18 30 30 30 00",
    0x38: "7C C6 C6 7C C6 C6 7C 00",
    0x39: "7C C6 C6 7E 06 0C 78 00",
    0x41: "38 6C C6 FE C6 C6 C6 00",
    0x42: "FC 66 66 7C 66 66 FC 00",
    0x43: "3C 66 C0 C0 C0 66 3C 00",
    0x44: "F8 6C 66 66 66 6C F8 00",
    0x47: "3C 66 C0 C0 CE 66 3A 00",
    0x4D: "C6 EE FE FE D6 C6 C6 00",
    0x52: "FC 66 66 7C 6C 66 E6 00",
    0x53: "3C 66 30 18 0C 66 3C 00",
    0x56: "C6 C6 C6 C6 C6 6C 38 00",
    0x59: "66 66 66 3C 18 18 3C 00",
    0x61: "00 00 78 0C 7C CC 76 00",
    0x63: "00 00 7C C6 C0 C6 7C 00",
    0x65: "00 00 7C C6 FE C0 7C 00",
    0x69: "18 00 38 18 18 18 3C 00",
    0x6C: "38 18 18 18 18 18 3C 00",
    0x6E: "00 00 DC 66 66 66 66 00",
    0x78: "00 00 C6 6C 38 6C C6 00",
    0xB3: "18 18 18 18 18 18 18 18",
    0xC4: "00 00 00 00 FF 00 00 00",
    0xDB: "FF FF FF FF FF FF FF FF",
    0xF8: "38 6C 6C 38 00 00 00 00",
}
REQUIRED_REASON = "the displays' labels are laid out for these exact glyphs"


def read_psf(path):
    """Returns (glyph bitmaps, {unicode string: glyph index})."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as f:
        data = f.read()
    if data[:2] == PSF1_MAGIC:
        mode, height = data[2], data[3]
        count = 512 if mode & PSF1_MODE512 else 256
        offset, charsize = 4, height
        glyphs = [data[offset + i * charsize:offset + (i + 1) * charsize] for i in range(count)]
        table = {}
        if mode & (PSF1_MODEHASTAB | PSF1_MODESEQ):
            pos = offset + count * charsize
            for index in range(count):
                entries = []  # UCS-2 values up to the separator
                while True:
                    (value,) = struct.unpack_from("<H", data, pos)
                    pos += 2
                    if value == PSF1_SEPARATOR:
                        break
                    entries.append(value)
                add_entries(table, index, split_sequences(entries, PSF1_STARTSEQ,
                                                          lambda vs: "".join(map(chr, vs))))
        return glyphs, table, height, 8
    if data[:4] == PSF2_MAGIC:
        (_version, header, flags, count, charsize, height, width) = struct.unpack_from("<7I", data, 4)
        glyphs = [data[header + i * charsize:header + (i + 1) * charsize] for i in range(count)]
        table = {}
        if flags & PSF2_HAS_UNICODE_TABLE:
            pos = header + count * charsize
            for index in range(count):
                end = data.index(bytes([PSF2_SEPARATOR]), pos)
                raw = data[pos:end]
                pos = end + 1
                parts = raw.split(bytes([PSF2_STARTSEQ]))
                names = [ch for ch in parts[0].decode("utf-8")]
                names += [p.decode("utf-8") for p in parts[1:] if p]
                add_entries(table, index, names)
        return glyphs, table, height, width
    sys.exit(f"{path}: not a PSF font")


def split_sequences(values, start_seq, to_text):
    """PSF1 entries: single characters, then sequences after each start mark."""
    names, current, in_seq = [], [], False
    for v in values:
        if v == start_seq:
            if in_seq and current:
                names.append(to_text(current))
            current, in_seq = [], True
        elif in_seq:
            current.append(v)
        else:
            names.append(chr(v))
    if in_seq and current:
        names.append(to_text(current))
    return names


def add_entries(table, index, names):
    for name in names:
        table.setdefault(name, index)


def cp437_char(code):
    if 0x01 <= code <= len(CONTROL_GRAPHICS):
        return CONTROL_GRAPHICS[code - 1]
    if code == DELETE_CODE:
        return HOUSE
    return bytes([code]).decode("cp437")


def parse_rows(text):
    return bytes(int(b, 16) for b in text.split())


def describe(code, ch):
    if code == 0x00:
        return "NUL"
    if code == 0x20:
        return "space"
    if code == 0xFF:
        return "no-break space"
    return f"'{ch}' U+{ord(ch):04X}" if code >= 0x80 or code < 0x20 or code == DELETE_CODE else f"'{ch}'"


def build(path):
    glyphs, table, height, width = read_psf(path)
    if height != ROWS or width != 8:
        sys.exit(f"{path}: {width}x{height} cells, need 8x{ROWS}")
    rows, notes = [], []
    for code in range(GLYPHS):
        ch = cp437_char(code)
        if code in BLANK_CODES:
            glyph = bytes(ROWS)
        elif ch in table:
            glyph = glyphs[table[ch]]
        else:
            sys.exit(f"{path}: no glyph for code 0x{code:02X} (U+{ord(ch):04X})")
        if code in REQUIRED:
            want = parse_rows(REQUIRED[code])
            if glyph != want:
                notes.append(f"0x{code:02X}: font has {glyph.hex(' ').upper()}, "
                             f"kept {want.hex(' ').upper()}")
                glyph = want
        rows.append((code, ch, glyph))
    return rows, notes


def render(rows, notes, path):
    out = []
    out.append("// Generated by tools/gen_font.py; edit the script, not this file.")
    out.append("//")
    out.append("// The 8x8 code page 437 font in the PC's character-cell style: row 0 on")
    out.append("// top, bit 7 the leftmost pixel; codes 0x00, 0x20 and 0xFF are blank.")
    out.append(f"// Source: {os.path.basename(path)} from the {SOURCE_NOTE.split(', font ')[0]}.")
    out.append("// Its copyright file states: \"All console fonts are public domain by")
    out.append("// nature.\"")
    if notes:
        out.append(f"// Glyphs replaced because {REQUIRED_REASON}:")
        out.extend(f"//   {n}" for n in notes)
    out.append("")
    out.append('#include "draw/font.h"')
    out.append("")
    out.append("const uint8_t fontTable[kFontGlyphs][kFontRows] = {")
    for code, ch, glyph in rows:
        cells = ", ".join(f"0x{b:02X}" for b in glyph)
        out.append(f"    {{{cells}}},  // 0x{code:02X} {describe(code, ch)}")
    out.append("};")
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--psf", default=DEFAULT_PSF)
    parser.add_argument("--out", default=os.path.join(here, "..", "src", "draw", "font.cpp"))
    args = parser.parse_args()
    rows, notes = build(args.psf)
    for n in notes:
        print("override", n, file=sys.stderr)
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(render(rows, notes, args.psf))


if __name__ == "__main__":
    main()
