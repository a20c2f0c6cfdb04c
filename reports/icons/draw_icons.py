#!/usr/bin/env python3
"""Draws the five 18 x 18 tool-strip icons of the print preview as 16-colour PNG files beside this script."""
import os
import struct
import zlib

# The classic 16-colour palette. Magenta (13) is drawn nowhere and stands for transparent.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
    (0, 255, 255), (255, 255, 255),
]
# Characters of the drawings: '.' transparent, the rest map onto palette indexes.
COLOURS = {'.': 0, 'k': 0, 'n': 4, 'b': 12, 'g': 8, 's': 7, 'w': 15, 'y': 11, 'o': 2}
TRANSPARENT = 13

ARROW_LEFT = [
    "..................",
    "..................",
    "..................",
    "..........n.......",
    ".........nn.......",
    "........nbn.......",
    ".......nbbn.......",
    "......nbbbn.......",
    ".....nbbbbn.......",
    ".....nbbbbn.......",
    "......nbbbn.......",
    ".......nbbn.......",
    "........nbn.......",
    ".........nn.......",
    "..........n.......",
    "..................",
    "..................",
    "..................",
]

FIRST = [
    "..................",
    "..................",
    "..................",
    "....nn.......n....",
    "....nn......nn....",
    "....nn.....nbn....",
    "....nn....nbbn....",
    "....nn...nbbbn....",
    "....nn..nbbbbn....",
    "....nn..nbbbbn....",
    "....nn...nbbbn....",
    "....nn....nbbn....",
    "....nn.....nbn....",
    "....nn......nn....",
    "....nn.......n....",
    "..................",
    "..................",
    "..................",
]

PRINTER = [
    "..................",
    "....kkkkkkkkk.....",
    "....kwwwwwwwk.....",
    "....kwkkkkkwk.....",
    "....kwwwwwwwk.....",
    "..kkkkkkkkkkkkk...",
    ".ksssssssssssssk..",
    ".kssssssssssosgk..",
    ".kssssssssssssgk..",
    ".kgggggggggggggk..",
    ".kkkkkkkkkkkkkkk..",
    "...kwwwwwwwwwk....",
    "...kwkkkkkkkwk....",
    "...kwwwwwwwwwk....",
    "...kwkkkkkwwwk....",
    "...kwwwwwwwwwk....",
    "...kkkkkkkkkkk....",
    "..................",
]


def mirrored(rows):
    return [row[::-1] for row in rows]


def indexes(rows):
    return [[TRANSPARENT if ch == '.' else COLOURS[ch] for ch in row] for row in rows]


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)


def write_png(path, rows):
    raw = b''
    for row in indexes(rows):
        raw += b'\0' + bytes((row[i] << 4) | row[i + 1] for i in range(0, 18, 2))
    alpha = bytes(0 if i == TRANSPARENT else 255 for i in range(16))
    plte = b''.join(bytes(c) for c in PALETTE)
    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', 18, 18, 4, 3, 0, 0, 0))
    png += chunk(b'PLTE', plte)
    png += chunk(b'tRNS', alpha)
    png += chunk(b'IDAT', zlib.compress(raw, 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    icons = {
        'first.png': FIRST,
        'prev.png': ARROW_LEFT,
        'next.png': mirrored(ARROW_LEFT),
        'last.png': mirrored(FIRST),
        'print.png': PRINTER,
    }
    for name, rows in icons.items():
        assert len(rows) == 18 and all(len(r) == 18 for r in rows), name
        write_png(os.path.join(here, name), rows)


if __name__ == '__main__':
    main()
