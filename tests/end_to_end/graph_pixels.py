#!/usr/bin/env python3
"""Checks a dashboard screenshot for drawn graph lines.

  graph_pixels.py PNG

Counts, for each series colour the template's graphs use, the screen columns
that hold it, and fails when some colour holds about as few as its legend
boxes alone would: some graph shows no line. Reads 8-bit RGB/RGBA PNGs, as
chromium writes them, with the standard library only.
"""
import struct
import sys
import zlib

# Series colours of the template's graphs (see zabbix_template/).
COLOURS = {"1A7C11", "F63100", "2774A4", "A54F10"}
# Legend boxes stand in two columns of widgets, about ten pixels wide each;
# a line across a graph spans hundreds of columns.
MINIMUM = 200


def pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: não é um PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(
                ">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    if depth != 8 or colour not in (2, 6) or interlace:
        raise SystemExit(f"{path}: PNG de formato inesperado")
    step = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * step
    previous, rows, at = bytearray(stride), [], 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up, corner = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                guess = left if pa <= pb and pa <= pc else (
                    up if pb <= pc else corner)
                line[i] = (line[i] + guess) & 255
        rows.append(line)
        previous = line
    return width, height, step, rows


def main():
    width, height, step, rows = pixels(sys.argv[1])
    columns = {colour: set() for colour in COLOURS}
    for line in rows:
        for x in range(0, len(line), step):
            colour = line[x:x + 3].hex().upper()
            if colour in columns:
                columns[colour].add(x)
    counts = {colour: len(xs) for colour, xs in columns.items()}
    print(f"{width}x{height}: " + ", ".join(
        f"#{c} em {n} colunas" for c, n in sorted(counts.items())))
    faint = [c for c, n in counts.items() if n < MINIMUM]
    if faint:
        raise SystemExit("graficos sem linha (cores " + ", ".join(
            f"#{c}" for c in sorted(faint)) + f" em menos de {MINIMUM} colunas)")


if __name__ == "__main__":
    main()
