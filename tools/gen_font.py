#!/usr/bin/env python3
"""Generates src/draw/font.cpp, the 8x8 code page 437 font.

The glyphs come from the PC VGA 8-pixel console fonts in PSF format (version
1 or 2, with a Unicode table) that Debian's console-setup-linux package
installs (`apt-get install console-setup-linux`). Its copyright file states:
"All console fonts are public domain by nature."

    python3 tools/gen_font.py [--fonts DIR] [--out FILE]

Each code page 437 code is mapped to its Unicode character and takes the
glyph that the first source font's Unicode table gives for it. A font that
only approximates a character with the glyph of another one (Uni2 draws the
double box lines with the single ones) is passed over for the next one. A
few glyphs are written out below where the sources lack them or label them
wrongly. Python 3 standard library only.
"""

import argparse
import gzip
import os
import struct
import sys

PACKAGE = "console-setup-linux"
LICENCE = "All console fonts are public domain by nature."  # the package's copyright file
DEFAULT_FONT_DIR = "/usr/share/consolefonts"
# In order of preference: Uni2 covers the most of code page 437; FullGreek
# has what Uni2 only approximates (mixed box lines, the solid triangles).
SOURCE_FONTS = ("Uni2-VGA8.psf.gz", "FullGreek-VGA8.psf.gz")

GLYPHS = 256
ROWS = 8  # 8x8 cell: one byte per row, bit 7 leftmost
COLUMNS = 8

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

# The three codes that stay blank: NUL, space and the no-break space.
BLANK_CODES = (0x00, 0x20, 0xFF)

# Other Unicode characters that stand for the same symbol.
ALTERNATES = {
    0x10: ("▶",),  # ► BLACK RIGHT-POINTING POINTER
    0x11: ("◀",),  # ◄ BLACK LEFT-POINTING POINTER
}

# Glyphs written out here, with the reason:
CORRECTIONS = {
    # The sources' Unicode tables attach the Greek letters and maths signs
    # 0xE0-0xF0 to the wrong glyphs (their "Γ" is ├, their "π" is ≡, their
    # "Σ" is ╙). The right glyphs are in the fonts, under other labels; these
    # are those glyphs.
    0xE0: "00 00 76 DC C8 DC 76 00",  # α
    0xE2: "FE C6 C0 C0 C0 C0 C0 00",  # Γ
    0xE3: "00 00 FE 6C 6C 6C 6C 00",  # π
    0xE4: "FE C6 60 30 60 C6 FE 00",  # Σ
    0xE5: "00 00 7E D8 D8 D8 70 00",  # σ
    0xE7: "00 76 DC 18 18 18 18 00",  # τ
    0xE8: "7E 18 3C 66 66 3C 18 7E",  # Φ
    0xE9: "38 6C C6 FE C6 6C 38 00",  # Θ
    0xEA: "38 6C C6 C6 6C 6C EE 00",  # Ω
    0xEB: "0E 18 0C 3E 66 66 3C 00",  # δ
    0xEC: "00 00 7E DB DB 7E 00 00",  # ∞
    0xED: "06 0C 7E DB DB 7E 60 C0",  # φ
    0xEE: "1E 30 60 7E 60 30 1E 00",  # ε
    0xEF: "00 7C C6 C6 C6 C6 C6 00",  # ∩
    0xF0: "00 FE 00 FE 00 FE 00 00",  # ≡
    # Not in any source font.
    0x9E: "F8 CC CC FA C6 CF C6 C7",  # ₧ peseta: "Pt" with a crossed t
    0xA9: "00 00 00 FE C0 C0 00 00",  # ⌐ the font's ¬ mirrored
    # FullGreek draws the box lines that mix single and double strokes with
    # one-pixel lines that do not meet its own │ ─ ║ ═. These join them:
    # single strokes in columns 3-4 / row 4, double in columns 2-3 and 5-6 /
    # rows 2 and 4, as in the font's pure single and double glyphs.
    0xB5: "18 18 F8 18 F8 18 18 18",  # ╡
    0xB6: "36 36 36 36 F6 36 36 36",  # ╢
    0xB7: "00 00 00 00 FE 36 36 36",  # ╖
    0xB8: "00 00 F8 18 F8 18 18 18",  # ╕
    0xBD: "36 36 36 36 FE 00 00 00",  # ╜
    0xBE: "18 18 F8 18 F8 00 00 00",  # ╛
    0xC6: "18 18 1F 18 1F 18 18 18",  # ╞
    0xC7: "36 36 36 36 37 36 36 36",  # ╟
    0xCF: "18 18 FF 00 FF 00 00 00",  # ╧
    0xD0: "36 36 36 36 FF 00 00 00",  # ╨
    0xD1: "00 00 FF 00 FF 18 18 18",  # ╤
    0xD2: "00 00 00 00 FF 36 36 36",  # ╥
    0xD3: "36 36 36 36 3F 00 00 00",  # ╙
    0xD4: "18 18 1F 18 1F 00 00 00",  # ╘
    0xD5: "00 00 1F 18 1F 18 18 18",  # ╒
    0xD6: "00 00 00 00 3F 36 36 36",  # ╓
    0xD7: "36 36 36 36 FF 36 36 36",  # ╫
    0xD8: "18 18 FF 18 FF 18 18 18",  # ╪
}

# Glyphs that the displays print and that must keep exactly these rows; the
# generator overrides the sources where they differ and lists it in the
# output's header.
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
    """Returns (glyph bitmaps, {unicode string: glyph index}, height, width)."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as f:
        data = f.read()
    table = {}
    if data[:2] == PSF1_MAGIC:
        mode, height = data[2], data[3]
        count = 512 if mode & PSF1_MODE512 else 256
        header, charsize, width = 4, height, 8
        glyphs = [data[header + i * charsize:header + (i + 1) * charsize] for i in range(count)]
        if mode & (PSF1_MODEHASTAB | PSF1_MODESEQ):
            pos = header + count * charsize
            for index in range(count):
                values = []  # UCS-2 entries up to the separator
                while True:
                    (value,) = struct.unpack_from("<H", data, pos)
                    pos += 2
                    if value == PSF1_SEPARATOR:
                        break
                    values.append(value)
                add_entries(table, index, psf1_names(values))
        return glyphs, table, height, width
    if data[:4] == PSF2_MAGIC:
        _version, header, flags, count, charsize, height, width = struct.unpack_from("<7I", data, 4)
        glyphs = [data[header + i * charsize:header + (i + 1) * charsize] for i in range(count)]
        if flags & PSF2_HAS_UNICODE_TABLE:
            pos = header + count * charsize
            for index in range(count):
                end = data.index(bytes([PSF2_SEPARATOR]), pos)
                parts = data[pos:end].split(bytes([PSF2_STARTSEQ]))
                pos = end + 1
                names = list(parts[0].decode("utf-8"))
                names += [p.decode("utf-8") for p in parts[1:] if p]
                add_entries(table, index, names)
        return glyphs, table, height, width
    sys.exit(f"{path}: not a PSF font")


def psf1_names(values):
    """Single characters first, then a sequence after each start mark."""
    names, sequence, in_sequence = [], [], False
    for v in values + [PSF1_STARTSEQ]:
        if v == PSF1_STARTSEQ:
            if in_sequence and sequence:
                names.append("".join(map(chr, sequence)))
            sequence, in_sequence = [], True
        elif in_sequence:
            sequence.append(v)
        else:
            names.append(chr(v))
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


def dedicated_glyph(font, ch):
    """The font's glyph for ch, unless the font only approximates ch with
    the glyph of another code page 437 character."""
    glyphs, table = font
    index = table.get(ch)
    if index is None:
        return None
    for code in range(GLYPHS):
        other = cp437_char(code)
        if other != ch and code not in BLANK_CODES and table.get(other) == index:
            return None
    return glyphs[index]


def source_glyph(fonts, code):
    names = (cp437_char(code),) + ALTERNATES.get(code, ())
    for font in fonts:
        for name in names:
            glyph = dedicated_glyph(font, name)
            if glyph is not None:
                return glyph
    sys.exit(f"no source font has a glyph for code 0x{code:02X} ({names[0]})")


def build(paths):
    fonts = []
    for path in paths:
        glyphs, table, height, width = read_psf(path)
        if height != ROWS or width != COLUMNS:
            sys.exit(f"{path}: {width}x{height} cells, need {COLUMNS}x{ROWS}")
        fonts.append((glyphs, table))
    rows, notes = [], []
    for code in range(GLYPHS):
        if code in BLANK_CODES:
            glyph = bytes(ROWS)
        elif code in CORRECTIONS:
            glyph = parse_rows(CORRECTIONS[code])
        else:
            glyph = source_glyph(fonts, code)
        if code in REQUIRED:
            want = parse_rows(REQUIRED[code])
            if glyph != want:
                notes.append(f"0x{code:02X}: source has {glyph.hex(' ').upper()}, "
                             f"kept {want.hex(' ').upper()}")
                glyph = want
        rows.append((code, glyph))
    return rows, notes


def describe(code):
    if code == 0x00:
        return "NUL"
    if code == 0x20:
        return "space"
    if code == 0xFF:
        return "no-break space"
    ch = cp437_char(code)
    if 0x21 <= code < DELETE_CODE:
        return f"'{ch}'"
    return f"'{ch}' U+{ord(ch):04X}"


def render(rows, notes):
    out = [
        "// Generated by tools/gen_font.py from the PC VGA 8-pixel console fonts",
        f"// {', '.join(SOURCE_FONTS)} of Debian's {PACKAGE} package,",
        f"// whose copyright file states: \"{LICENCE}\"",
        "// The script sets the few glyphs that those fonts lack or attach to the",
        "// wrong characters (its CORRECTIONS). Edit the script, not this file.",
        "//",
        "// Code page 437 in the PC's 8x8 character cell: 8 row bytes per glyph, row 0",
        "// on top, bit 7 the leftmost pixel; codes 0x00, 0x20 and 0xFF are blank.",
    ]
    if notes:
        out.append(f"// Glyphs kept against the sources because {REQUIRED_REASON}:")
        out.extend(f"//   {n}" for n in notes)
    out += [
        "",
        '#include "draw/font.h"',
        "",
        "const uint8_t fontTable[kFontGlyphs][kFontRows] = {",
    ]
    for code, glyph in rows:
        cells = ", ".join(f"0x{b:02X}" for b in glyph)
        out.append(f"    {{{cells}}},  // 0x{code:02X} {describe(code)}")
    out.append("};")
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--fonts", default=DEFAULT_FONT_DIR,
                        help=f"folder holding {', '.join(SOURCE_FONTS)}")
    parser.add_argument("--out", default=os.path.join(here, "..", "src", "draw", "font.cpp"))
    args = parser.parse_args()
    rows, notes = build([os.path.join(args.fonts, name) for name in SOURCE_FONTS])
    for n in notes:
        print("kept", n, file=sys.stderr)
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(render(rows, notes))


if __name__ == "__main__":
    main()
