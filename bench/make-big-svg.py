#!/usr/bin/env python3
"""Writes a large SVG drawing for the benchmark: ELEMENTS elements in
layers of groups of shapes, about 100 bytes per element, as drawing
programs write them (ids, inline styles, absolute path data).

usage: make-big-svg.py OUT.svg [ELEMENTS]"""
import random
import sys

out_path = sys.argv[1]
total = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
rng = random.Random(5)
layers, group_size = 10, 100

with open(out_path, "w", buffering=1 << 20) as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
              '<svg xmlns="http://www.w3.org/2000/svg" '
              'xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" '
              'width="2000" height="2000" viewBox="0 0 2000 2000">\n')
    written = 1
    per_layer = (total - 1) // layers
    n = 0
    for layer in range(layers):
        out.write(f'<g inkscape:groupmode="layer" id="layer{layer + 1}" inkscape:label="Layer {layer + 1}">\n')
        written += 1
        in_layer = 1
        while in_layer < per_layer and written < total:
            out.write(f' <g id="g{written}" style="stroke:#{rng.randrange(4096):03x}">\n')
            written += 1
            in_layer += 1
            for _ in range(min(group_size, per_layer - in_layer, total - written)):
                n += 1
                x, y = rng.randrange(2000), rng.randrange(2000)
                kind = n % 10
                fill = f"#{rng.randrange(1 << 24):06x}"
                if kind < 7:
                    close = " Z" if kind < 4 else ""
                    out.write(f'  <path id="p{n}" d="M {x},{y} L {x + 13.5},{y + 21.25} '
                              f'L {x - 8.75},{y + 30.5}{close}" style="fill:{fill};stroke-width:1.5"/>\n')
                elif kind < 9:
                    out.write(f'  <rect id="r{n}" x="{x}" y="{y}" width="{rng.randrange(1, 90)}" '
                              f'height="{rng.randrange(1, 90)}" fill="{fill}" stroke-dasharray="4 2"/>\n')
                else:
                    out.write(f'  <circle id="c{n}" cx="{x}" cy="{y}" r="{rng.randrange(1, 40)}" '
                              f'style="fill:none;stroke:{fill}"/>\n')
                written += 1
                in_layer += 1
            out.write(' </g>\n')
        out.write('</g>\n')
    out.write('</svg>\n')
print(f"{out_path}: {written} elements")
