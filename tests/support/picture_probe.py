#!/usr/bin/python3
"""Looks at pictures for the render tests, with Pillow and Python's XML parser.

  picture_probe.py colours PNG X,Y ...      the RGB colour at each pixel, one a line
  picture_probe.py text PNG [X0 Y0 X1 Y1]   dark neutral pixels in the rectangle (else
                                            the whole picture) and the number of distinct
                                            neutral greys between dark and light
                                            (antialiased letters)
  picture_probe.py hidden PNG BASE R,G,B    what PNG draws over BASE, a picture of the
                                            same width and at most its height: the pixels
                                            of BASE's area that differ, how many of them
                                            are of the colour R,G,B (within 3) in BASE,
                                            and the rows PNG adds below
  picture_probe.py svg-texts SVG            the words of every <text> element, one a line
                                            (exit status 1 when the SVG does not parse)
  picture_probe.py svg-points SVG           the points of every <path> (moves and lines,
                                            absolute or relative) in the picture's own
                                            coordinates: their number, whether every number
                                            is finite, and their least and greatest x and y
"""
import math
import re
import sys
import xml.etree.ElementTree as ET


def colours(path, points):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    for p in points:
        x, y = (int(v) for v in p.split(","))
        print("%d %d %d" % im.getpixel((x, y)))


def text(path, *rect):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    if rect:
        im = im.crop(rect)
    dark, greys = 0, set()
    for r, g, b in im.getdata():
        if max(r, g, b) - min(r, g, b) > 12:
            continue
        level = (r + g + b) // 3
        if level < 80:
            dark += 1
        elif level < 200:
            greys.add(level)
    print(dark, len(greys))


def hidden(path, base_path, colour):
    from PIL import Image
    base = Image.open(base_path).convert("RGB")
    im = Image.open(path).convert("RGB")
    if im.width != base.width or im.height < base.height:
        sys.exit("%s is %dx%d, %s %dx%d" % (path, *im.size, base_path, *base.size))
    target = [int(v) for v in colour.split(",")]
    changed = covered = 0
    for p, q in zip(im.crop((0, 0, *base.size)).getdata(), base.getdata()):
        if p != q:
            changed += 1
            covered += all(abs(a - b) <= 3 for a, b in zip(q, target))
    print(changed, covered, im.height - base.height)


def svg_texts(path):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        print(e)
        sys.exit(1)
    for element in root.iter("{http://www.w3.org/2000/svg}text"):
        print("".join(element.itertext()))


def svg_points(path):
    root = ET.parse(path).getroot()
    number = r"[-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][-+]?[0-9]+)?"
    points, finite = [], True
    for element in root.iter("{http://www.w3.org/2000/svg}path"):
        d = element.get("d", "")
        finite = finite and re.search("(?i)nan|inf", d) is None
        tokens = re.findall("[MmLlZz]|" + number, d)
        x = y = start_x = start_y = 0.0
        command, i = "M", 0
        while i < len(tokens):
            if tokens[i] in "MmLlZz":
                command = tokens[i]
                if command in "Zz":
                    x, y = start_x, start_y
                i += 1
                continue
            u, v = float(tokens[i]), float(tokens[i + 1])
            i += 2
            x, y = (x + u, y + v) if command in "ml" else (u, v)
            if command in "Mm":
                start_x, start_y = x, y
                command = "l" if command == "m" else "L"  # pairs after a move are lines
            points.append((x, y))
    finite = finite and all(math.isfinite(c) for p in points for c in p)
    xs, ys = [p[0] for p in points] or [0], [p[1] for p in points] or [0]
    print(len(points), finite, min(xs), max(xs), min(ys), max(ys))


if __name__ == "__main__":
    command, path, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    if command == "colours":
        colours(path, rest)
    elif command == "text":
        text(path, *(int(v) for v in rest))
    elif command == "hidden":
        hidden(path, *rest)
    elif command == "svg-texts":
        svg_texts(path)
    elif command == "svg-points":
        svg_points(path)
    else:
        sys.exit("unknown command " + command)
