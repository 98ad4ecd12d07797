#!/usr/bin/env python3
"""Draws the application icon (a handheld radio with a download arrow) at 16, 32 and 48 pixels
and writes KD7XUpdateTool.ico beside this script. Run it again after changing the drawing."""
import os
import struct


def draw(size):
    s = size / 48.0
    px = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]

    def rect(x0, y0, x1, y1, color):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = color

    body, edge = (40, 70, 140, 255), (20, 35, 80, 255)
    rect(22, 2, 26, 12, edge)            # antenna
    rect(12, 10, 36, 46, edge)           # body outline
    rect(14, 12, 34, 44, body)           # body
    rect(16, 15, 32, 25, (250, 170, 40, 255))  # display
    arrow = (255, 255, 255, 255)
    rect(22, 27, 26, 36, arrow)          # arrow shaft
    for i in range(5):
        rect(18 + i, 35 + i, 30 - i, 36 + i, arrow)  # arrow head
    return px


def bmp_entry(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, size * size * 4, 0, 0, 0, 0)
    rows = b''.join(bytes(c for p in (px[y][x] for x in range(size)) for c in (p[2], p[1], p[0], p[3]))
                    for y in reversed(range(size)))
    mask_row = ((size + 31) // 32) * 4
    return header + rows + b'\0' * (mask_row * size)


def main():
    sizes = [16, 32, 48]
    images = [bmp_entry(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'KD7XUpdateTool.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
