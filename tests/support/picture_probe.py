#!/usr/bin/python3
"""Looks at pictures for the render tests, with Pillow and Python's XML parser.

  picture_probe.py colours PNG X,Y ...      the RGB colour at each pixel, one a line
  picture_probe.py text PNG X0 Y0 X1 Y1     dark neutral pixels in the rectangle and
                                            the number of distinct neutral greys
                                            between dark and light (antialiased letters)
  picture_probe.py svg-texts SVG            the words of every <text> element, one a line
                                            (exit status 1 when the SVG does not parse)
"""
import sys
import xml.etree.ElementTree as ET


def colours(path, points):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    for p in points:
        x, y = (int(v) for v in p.split(","))
        print("%d %d %d" % im.getpixel((x, y)))


def text(path, x0, y0, x1, y1):
    from PIL import Image
    im = Image.open(path).convert("RGB").crop((x0, y0, x1, y1))
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


def svg_texts(path):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        print(e)
        sys.exit(1)
    for element in root.iter("{http://www.w3.org/2000/svg}text"):
        print("".join(element.itertext()))


if __name__ == "__main__":
    command, path, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    if command == "colours":
        colours(path, rest)
    elif command == "text":
        text(path, *(int(v) for v in rest))
    elif command == "svg-texts":
        svg_texts(path)
    else:
        sys.exit("unknown command " + command)
