#!/usr/bin/env python3
"""Constructs the OSTREL wordmark and prints the outline tables of render/logo.cpp.

    python3 res/make_logo.py            the C++ tables (paste over those in render/logo.cpp, then clang-format)
    python3 res/make_logo.py svg [S]    an SVG preview at scale S (2 unless given)

The letters are geometric capitals of one weight in the design space the side panel places:
baseline y = 0, cap height 95.41 (the tables' y grows downward, so letters reach y = -95.41),
x from 1.07 to 542.16. Rounds are elliptic arcs, each quadrant one cubic Bezier. Standard
library only.
"""
import math
import sys

CAP = 95.41
STEM = 15.0  # vertical strokes
BAR = 13.4  # horizontal strokes: thinner, so they look as heavy as the stems
LEFT = 1.07
RIGHT = 542.16

WIDTH = {"O": CAP, "S": 67.0, "T": 73.0, "R": 67.0, "E": 57.0, "L": 54.0}
# Gaps between neighbours, in parts of one unit that fills the box: rounds and open sides
# need less room than two stems.
GAPS = [0.82, 0.8, 0.76, 0.95, 1.0]  # O-S, S-T, T-R, R-E, E-L


class Outline:
    """One closed figure: corners, and Beziers as two control points before their end corner."""

    def __init__(self, name):
        self.name = name
        self.nodes = []  # (x, y, is_control), y up

    def corner(self, x, y):
        self.nodes.append((x, y, False))

    def curve(self, c1, c2, end):
        self.nodes += [(c1[0], c1[1], True), (c2[0], c2[1], True), (end[0], end[1], False)]


def on_ellipse(cx, cy, a, b, t):
    return (cx + a * math.cos(t), cy + b * math.sin(t))


def arc(outline, cx, cy, a, b, t0, t1, start=False):
    """Elliptic arc from parametric angle t0 to t1 (y up), split at the quadrant boundaries so
    no control point lies outside the letter."""
    quarter = math.pi / 2
    cuts = [t0]
    if t1 > t0:
        k = math.floor(t0 / quarter + 1e-9) + 1
        while k * quarter < t1 - 1e-9:
            cuts.append(k * quarter)
            k += 1
    else:
        k = math.ceil(t0 / quarter - 1e-9) - 1
        while k * quarter > t1 + 1e-9:
            cuts.append(k * quarter)
            k -= 1
    cuts.append(t1)
    if start:
        outline.corner(*on_ellipse(cx, cy, a, b, t0))
    for s, e in zip(cuts, cuts[1:]):
        k = 4.0 / 3.0 * math.tan((e - s) / 4)
        p0, p3 = on_ellipse(cx, cy, a, b, s), on_ellipse(cx, cy, a, b, e)
        d0 = (-a * math.sin(s), b * math.cos(s))
        d3 = (-a * math.sin(e), b * math.cos(e))
        outline.curve((p0[0] + k * d0[0], p0[1] + k * d0[1]), (p3[0] - k * d3[0], p3[1] - k * d3[1]), p3)


def polygon(name, corners):
    outline = Outline(name)
    for corner in corners:
        outline.corner(*corner)
    return outline


def letter_o(x):
    r = CAP / 2
    full = (math.pi / 2, math.pi / 2 + 2 * math.pi)
    outer = Outline("letterO")
    arc(outer, x + r, r, r, r, *full, start=True)
    counter = Outline("counterO")
    arc(counter, x + r, r, r - STEM, r - BAR, *full, start=True)
    return [outer, counter]


def letter_s(x):
    """Two stacked bowls, the upper one smaller, meeting in a horizontal spine."""
    w = WIDTH["S"]
    radii = (CAP - BAR) / 2
    upper_b = radii * 0.475
    lower_b = radii - upper_b
    lower_a = w / 2 - STEM / 2
    upper_a = lower_a - 2.0
    cx = x + w / 2
    lower_y = BAR / 2 + lower_b
    upper_y = lower_y + lower_b + upper_b
    top_end = math.radians(28)  # the terminals, cut along the radius
    bottom_end = top_end + math.pi - 2 * math.pi
    s = Outline("letterS")
    arc(s, cx, upper_y, upper_a + STEM / 2, upper_b + BAR / 2, top_end, 1.5 * math.pi, start=True)
    arc(s, cx, lower_y, lower_a - STEM / 2, lower_b - BAR / 2, 0.5 * math.pi, bottom_end)
    s.corner(*on_ellipse(cx, lower_y, lower_a + STEM / 2, lower_b + BAR / 2, bottom_end))
    arc(s, cx, lower_y, lower_a + STEM / 2, lower_b + BAR / 2, bottom_end, 0.5 * math.pi)
    arc(s, cx, upper_y, upper_a - STEM / 2, upper_b - BAR / 2, 1.5 * math.pi, top_end)
    return [s]


def letter_t(x):
    w = WIDTH["T"]
    left, right = x + w / 2 - STEM / 2, x + w / 2 + STEM / 2
    return [polygon("letterT", [(x, CAP), (x + w, CAP), (x + w, CAP - BAR), (right, CAP - BAR), (right, 0),
                                (left, 0), (left, CAP - BAR), (x, CAP - BAR)])]


def letter_r(x):
    w = WIDTH["R"]
    bowl_bottom = 0.425 * CAP
    bowl_right = x + w - 2.0
    half = (CAP - bowl_bottom) / 2
    turn = bowl_right - half * 0.88  # where the bars turn into the bowl's curve
    cy = bowl_bottom + half
    a = bowl_right - turn
    foot = x + w  # the leg runs from the bowl's curve down to here
    leg_base = STEM * 1.04 / math.sin(math.atan2(bowl_bottom, foot - turn))
    outer = Outline("letterR")
    outer.corner(x, 0)
    outer.corner(x, CAP)
    outer.corner(turn, CAP)
    arc(outer, turn, cy, a, half, 0.5 * math.pi, -0.5 * math.pi)
    for corner in [(foot, 0), (foot - leg_base, 0), (turn - leg_base, bowl_bottom), (x + STEM, bowl_bottom),
                   (x + STEM, 0)]:
        outer.corner(*corner)
    counter = Outline("counterR")
    counter.corner(x + STEM, CAP - BAR)
    counter.corner(turn, CAP - BAR)
    arc(counter, turn, cy, a - STEM, half - BAR, 0.5 * math.pi, -0.5 * math.pi)
    counter.corner(x + STEM, bowl_bottom + BAR)
    return [outer, counter]


def letter_e(x):
    w = WIDTH["E"]
    middle = 0.5 * CAP - BAR / 2 + 0.5
    short = w - 5.0  # the middle arm
    return [polygon("letterE", [(x, 0), (x, CAP), (x + w, CAP), (x + w, CAP - BAR), (x + STEM, CAP - BAR),
                                (x + STEM, middle + BAR), (x + short, middle + BAR), (x + short, middle),
                                (x + STEM, middle), (x + STEM, BAR), (x + w, BAR), (x + w, 0)])]


def letter_l(x):
    w = WIDTH["L"]
    return [polygon("letterL", [(x, 0), (x, CAP), (x + STEM, CAP), (x + STEM, BAR), (x + w, BAR), (x + w, 0)])]


LETTERS = [("O", letter_o), ("S", letter_s), ("T", letter_t), ("R", letter_r), ("E", letter_e), ("L", letter_l)]


def wordmark():
    unit = (RIGHT - LEFT - sum(WIDTH[name] for name, _ in LETTERS)) / sum(GAPS)
    x = LEFT
    outlines = []
    for i, (name, make) in enumerate(LETTERS):
        outlines += make(x)
        x += WIDTH[name] + (GAPS[i] * unit if i < len(GAPS) else 0)
    return outlines


def number(v):
    text = f"{round(v, 6):.2f}"
    return ("0.00" if text == "-0.00" else text) + "f"


def cpp(outlines):
    lines = []
    for outline in outlines:
        items = [f"c({number(x)}, {number(-y)})" if control else f"{{{number(x)}, {number(-y)}}}"
                 for x, y, control in outline.nodes]
        lines.append(f"constexpr LogoNode {outline.name}[] = {{")
        lines.append("    " + ", ".join(items) + ",")
        lines.append("};")
    return "\n".join(lines)


def svg(outlines, scale):
    pad = 10
    d = []
    for outline in outlines:
        nodes = outline.nodes
        d.append(f"M{nodes[0][0]:.3f},{-nodes[0][1]:.3f}")
        i = 1
        while i < len(nodes):
            if nodes[i][2]:
                d.append("C" + " ".join(f"{x:.3f},{-y:.3f}" for x, y, _ in nodes[i:i + 3]))
                i += 3
            else:
                d.append(f"L{nodes[i][0]:.3f},{-nodes[i][1]:.3f}")
                i += 1
        d.append("Z")
    return "\n".join([
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{(RIGHT + 2 * pad) * scale:.0f}" '
        f'height="{(CAP + 2 * pad) * scale:.0f}">',
        '<rect width="100%" height="100%" fill="#02061e"/>',
        f'<g transform="scale({scale}) translate({pad},{CAP + pad})">',
        f'<path fill="white" fill-rule="evenodd" d="{" ".join(d)}"/>',
        "</g></svg>"])


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "svg":
        print(svg(wordmark(), float(sys.argv[2]) if len(sys.argv) > 2 else 2.0))
    else:
        print(cpp(wordmark()))
