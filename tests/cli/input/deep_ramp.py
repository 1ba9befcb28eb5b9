"""A ramp of every level of a deep pixel format, and what Kivrel's picture of
it must hold, worked out here from FFmpeg's own decoding of the file.

    deep_ramp.py DIR FORMAT:CONTAINER:RANGE:LIMITED ...

for each case, in DIR/FORMAT-CONTAINER-RANGE (made here), writes deep.CONTAINER (mkv: FFV1, nut: raw, png), FORMAT's samples each
plane a permutation of every level, RANGE (tv, pc or none) its range tag.
LIMITED (0 or 1) says whether the samples are limited-range Y'CbCr or grey.
Then, from the samples `ffmpeg -f rawvideo` decodes back:
  RGB and grey: want.rgb, the rgb24 picture players show, each sample
  rounded to 8 bits (limited-range grey then stretched to full range);
  Y'CbCr: twin.mkv, 8-bit Y'CbCr of the same layout holding those
  rounded samples, to be shown through the 8-bit path.
"""
import math
import os
import re
import subprocess
import sys

WIDTH = 256


def layout(fmt):
    """(kind, bits, big-endian, planes, log2 chroma w, h): planes lists each
    plane's components, packed ones sharing a plane; components name Y U V
    or R G B, with A for alpha."""
    m = re.fullmatch(r'(yuv(4\d\d)p|gray|ya|gbra?p|rgba|rgb|bgra|bgr)(\d+)(le|be)', fmt)
    if not m:
        sys.exit('unknown format ' + fmt)
    name, sub, bits, end = m.group(1), m.group(2), int(m.group(3)), m.group(4)
    be = end == 'be'
    if name.startswith('yuv'):
        chroma = {'444': (0, 0), '422': (1, 0), '420': (1, 1), '440': (0, 1)}[sub]
        return 'yuv', bits, be, [['Y'], ['U'], ['V']], chroma
    if name == 'gray':
        return 'grey', bits, be, [['Y']], (0, 0)
    if name == 'ya':
        return 'grey', bits, be, [['Y', 'A']], (0, 0)
    if name.startswith('gbr'):
        return 'rgb', bits, be, [['G'], ['B'], ['R']] + ([['A']] if name == 'gbrap' else []), (0, 0)
    # Packed RGB: the digits count the bits of a whole pixel.
    comps = list(name.upper())
    return 'rgb', bits // len(comps), be, [comps], (0, 0)


def plane_size(comp, height, chroma):
    if comp in 'UV':
        return -(-WIDTH >> chroma[0]), -(-height >> chroma[1])
    return WIDTH, height


def run(args, **kw):
    r = subprocess.run(args, capture_output=True, **kw)
    if r.returncode != 0:
        sys.exit(' '.join(args) + ': ' + r.stderr.decode(errors='replace')[-400:])
    return r.stdout


def samples(fmt, height, raw):
    """Each component's samples, row by row, from raw bytes of `fmt`."""
    kind, bits, be, planes, chroma = layout(fmt)
    order = 'big' if be else 'little'
    out, at = {}, 0
    for plane in planes:
        w, h = plane_size(plane[0], height, chroma)
        n = w * h * len(plane)
        words = [int.from_bytes(raw[at + 2 * i:at + 2 * i + 2], order) for i in range(n)]
        at += 2 * n
        for k, comp in enumerate(plane):
            out[comp] = words[k::len(plane)]
    if at != len(raw):
        sys.exit('%s: %d bytes decoded, %d expected' % (fmt, len(raw), at))
    return out


def make(folder, fmt, container, tag, limited):
    os.makedirs(folder, exist_ok=True)
    kind, bits, be, planes, chroma = layout(fmt)
    top = (1 << bits) - 1
    # Every plane, chroma too, holds at least one sample of each level.
    height = -(-(top + 1) * (1 << (chroma[0] + chroma[1])) // WIDTH)
    height = -(-height >> chroma[1]) << chroma[1]
    order = 'big' if be else 'little'
    raw = bytearray()
    for plane in planes:
        w, h = plane_size(plane[0], height, chroma)
        for i in range(w * h):
            for comp in plane:
                # An odd step permutes the levels; each component its own.
                step = {'Y': 1, 'R': 1, 'G': 5, 'U': 5, 'B': 11, 'V': 11, 'A': 3}[comp]
                v = (i * step + 7 * 'YRGUBVA'.index(comp)) & top
                raw += v.to_bytes(2, order)
    open(folder + '/ramp.raw', 'wb').write(raw)
    size = '%dx%d' % (WIDTH, height)
    codec = {'mkv': ['-c:v', 'ffv1'], 'nut': ['-c:v', 'rawvideo'], 'png': []}[container]
    rng = [] if tag == 'none' else ['-color_range', tag]
    source = folder + '/deep.' + container
    run(['ffmpeg', '-v', 'error', '-f', 'rawvideo', '-pix_fmt', fmt, '-s', size, '-i', folder + '/ramp.raw',
         '-frames:v', '1'] + rng + codec + ['-y', source])

    # What FFmpeg decodes from the file, in the format its decoder gives.
    decoded = run(['ffprobe', '-v', 'error', '-show_entries', 'stream=pix_fmt', '-of', 'csv=p=0',
                   source]).decode().strip()
    if layout(decoded)[:1] != (kind,) or layout(decoded)[1] != bits:
        sys.exit('%s came back as %s' % (fmt, decoded))
    got = samples(decoded, height,
                  run(['ffmpeg', '-v', 'error', '-i', source, '-f', 'rawvideo', '-pix_fmt', decoded, '-']))

    def to8(x):
        if limited:  # a tie to the even level, as round() has it
            return min(255, round(x / 2 ** (bits - 8)))
        return math.floor(x * 255 / top + 0.5)

    if kind == 'yuv':
        twin = bytearray()
        for comp in 'YUV':
            twin += bytes(to8(x) for x in got[comp])
        open(folder + '/twin.raw', 'wb').write(twin)
        eight = {(0, 0): 'yuv444p', (1, 0): 'yuv422p', (1, 1): 'yuv420p', (0, 1): 'yuv440p'}[chroma]
        run(['ffmpeg', '-v', 'error', '-f', 'rawvideo', '-pix_fmt', eight, '-s', size, '-i',
             folder + '/twin.raw'] + rng + ['-c:v', 'ffv1', '-y', folder + '/twin.mkv'])
        return
    def shown(x):
        if not limited:
            return to8(x)
        # Limited-range grey as a player shows it: 16 black, 235 white.
        return min(255, max(0, math.floor((to8(x) - 16) * 255 / 219 + 0.5)))

    want = bytearray()
    for i in range(WIDTH * height):
        want += bytes(shown(got[c][i]) for c in ('YYY' if kind == 'grey' else 'RGB'))
    open(folder + '/want.rgb', 'wb').write(want)


for case in sys.argv[2:]:
    fmt, container, tag, limited = case.split(':')
    make('%s/%s-%s-%s' % (sys.argv[1], fmt, container, tag), fmt, container, tag, limited == '1')
