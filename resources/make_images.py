#!/usr/bin/env python3
"""Draws the built-in images of the desktop window as XPM files.

Run from this folder after changing a picture; the XPM files are committed
and compiled into the program through tavrilox.qrc.
  tray.xpm    six 16x16 tray cells: idle, busy, error, abone, two unused
  rows.xpm    four 9x15 log-row cells: failure, success, unused, running
  arrows.xpm  two 8x8 header cells: ascending, descending
  program.xpm the 32x32 program icon
"""

import math

TRANSPARENT = "None"


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[TRANSPARENT] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def disc(self, cx, cy, radius, fill, edge):
        for y in range(self.height):
            for x in range(self.width):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if d <= radius - 1:
                    self.put(x, y, fill)
                elif d <= radius:
                    self.put(x, y, edge)

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def pattern(self, x0, y0, rows, colour):
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch == "#":
                    self.put(x0 + dx, y0 + dy, colour)

    def write_xpm(self, path, name):
        colours = sorted({c for row in self.pixels for c in row})
        keys = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
        key = {c: (" " if c == TRANSPARENT else keys[i]) for i, c in enumerate(colours)}
        lines = [f'"{self.width} {self.height} {len(colours)} 1",']
        lines += [f'"{key[c]} c {c}",' for c in colours]
        lines += ['"' + "".join(key[c] for c in row) + '",' for row in self.pixels]
        lines[-1] = lines[-1].rstrip(",")
        with open(path, "w", encoding="ascii") as f:
            f.write("/* XPM */\n")
            f.write(f"static const char* {name}[] = {{\n")
            f.write("\n".join(lines))
            f.write("\n};\n")


WHITE = "#FFFFFF"

ARROW_RIGHT = [
    "....#...",
    "....##..",
    "#######.",
    "########",
    "#######.",
    "....##..",
    "....#...",
]
CROSS = [
    "##....##",
    "###..###",
    ".######.",
    "..####..",
    "..####..",
    ".######.",
    "###..###",
    "##....##",
]
CHECK = [
    "......##",
    ".....##.",
    "#...##..",
    "##.##...",
    ".###....",
    "..#.....",
]
DASH = [
    "########",
    "########",
]
LETTER_T = [
    "##############",
    "##############",
    "##############",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
    ".....####.....",
]


def tray():
    c = Canvas(96, 16)
    # 0 idle: blue disc with a tick
    c.disc(8, 8, 7.5, "#2F6FD0", "#17407F")
    c.pattern(4, 5, CHECK, WHITE)
    # 1 busy: green disc with an arrow
    c.disc(24, 8, 7.5, "#2EA043", "#15602A")
    c.pattern(20, 5, ARROW_RIGHT, WHITE)
    # 2 error: red disc with a cross
    c.disc(40, 8, 7.5, "#D73A3A", "#801818")
    c.pattern(36, 4, CROSS, WHITE)
    # 3 abone: grey disc with a bar
    c.disc(56, 8, 7.5, "#6E7681", "#30363D")
    c.pattern(52, 7, DASH, WHITE)
    # 4 and 5 stay empty
    return c


def rows():
    c = Canvas(36, 15)
    for cell, (fill, edge) in enumerate([("#E5484D", "#8E1B1F"), ("#3B82F6", "#1D4ED8"),
                                         ("#A0A0A0", "#606060"), ("#22C55E", "#15803D")]):
        x0 = cell * 9
        c.rect(x0 + 1, 2, x0 + 7, 12, edge)
        c.rect(x0 + 2, 3, x0 + 6, 11, fill)
    return c


def arrows():
    c = Canvas(16, 8)
    colour = "#404040"
    for i in range(4):  # up triangle in cell 0, down triangle in cell 1
        c.rect(3 - i, 2 + i, 4 + i, 2 + i, colour)
        c.rect(8 + 3 - i, 5 - i, 8 + 4 + i, 5 - i, colour)
    return c


def program():
    c = Canvas(32, 32)
    c.disc(16, 16, 15.5, "#2F6FD0", "#17407F")
    c.pattern(9, 9, LETTER_T, WHITE)
    return c


if __name__ == "__main__":
    tray().write_xpm("tray.xpm", "tray_xpm")
    rows().write_xpm("rows.xpm", "rows_xpm")
    arrows().write_xpm("arrows.xpm", "arrows_xpm")
    program().write_xpm("program.xpm", "program_xpm")
