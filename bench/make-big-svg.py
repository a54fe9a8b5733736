#!/usr/bin/env python3
"""Writes a large SVG drawing for the benchmark: ELEMENTS elements in ten
Inkscape layers of groups of about 100 paths, about 100 bytes per element,
as drawing programs write them (ids, inline styles, stroke colours inherited
from the groups, open, closed, dashed and unfilled paths). All shapes are
<path> elements, so that "select every path" means the same to any tool.

usage: make-big-svg.py OUT.svg [ELEMENTS]"""
import random
import sys

out_path = sys.argv[1]
total = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
layers = 10
rng = random.Random(5)

# The root, the layers, then groups of up to 100 paths.
remaining = total - 1 - layers
groups = -(-remaining // 101)
paths = remaining - groups


def share(count, parts, index):
    return count // parts + (1 if index < count % parts else 0)


n = 0
with open(out_path, "w", buffering=1 << 20) as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
              '<svg xmlns="http://www.w3.org/2000/svg" '
              'xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" '
              'width="2000" height="2000" viewBox="0 0 2000 2000">\n')
    group = 0
    for layer in range(layers):
        out.write(f'<g inkscape:groupmode="layer" id="layer{layer + 1}" inkscape:label="Layer {layer + 1}">\n')
        for _ in range(share(groups, layers, layer)):
            out.write(f' <g id="g{group + 1}" style="stroke:#{rng.randrange(4096):03x}">\n')
            for _ in range(share(paths, groups, group)):
                n += 1
                x, y = rng.randrange(2000), rng.randrange(2000)
                kind = n % 10
                close = " Z" if kind < 5 else ""
                style = f"fill:#{rng.randrange(1 << 24):06x};stroke-width:1.5"
                if kind == 7:
                    style += ";stroke-dasharray:4 2"
                elif kind == 9:
                    style = "fill:none"
                out.write(f'  <path id="p{n}" d="M {x},{y} L {x + 13.5},{y + 21.25} '
                          f'L {x - 8.75},{y + 30.5}{close}" style="{style}"/>\n')
            out.write(' </g>\n')
            group += 1
        out.write('</g>\n')
    out.write('</svg>\n')
print(f"{out_path}: {1 + layers + groups + n} elements, {n} paths")
