#!/usr/bin/python3
"""Draws Tolvane's ten editor images into resources/ at 100, 150 and 200 %,
and a contact sheet of every film-strip frame and a preview of the panel at
each size, closed and with the size menu open, into the folder given as the
first argument.

    tools/make-artwork.py build/artwork        (what `make artwork` runs)

Every moving part is drawn over a copy of the panel beneath its rectangle, so
a frame drawn over the panel leaves no seam. Needs python3-cairo and the DejaVu
fonts (fonts-dejavu-core); the ordinary build uses the committed PNGs.

The larger sizes are drawn from the same vectors, text and seeded grain at the
higher resolution, never enlarged from pixels. The layout below is in 100 %
pixels; a size num/den maps every edge (a rectangle's left, top, right and
bottom, and the panel's width and height) on its own, rounding half up:

    scaled(v) = (v * num + den / 2) / den      in integers: 150 % is (3v + 1) / 2

so rectangles that meet or overlap at 100 % still meet or overlap exactly, and
a film-strip frame is as tall as its scaled rectangle (a knob 87 px high at
100 % is 130 px at 150 %: 65..152 becomes 98..228). The editor must scale
its rectangles by the same rule. The moving parts are drawn in the panel's own
coordinates, so a knob stays centred on its printed scale wherever its
rectangle's edges were rounded.

The size menu (scale_menu.png) is not part of the panel: the editor draws it
where it opens. It is 128 x 282 at 100 %, three frames of 128 x 94 stacked
from the top; frame k marks row k as the editor's size. Rows, as left, top,
right, bottom inside a frame at 100 % (header and border outside them):

    100 %   (2, 24, 126, 46)
    150 %   (2, 46, 126, 68)
    200 %   (2, 68, 126, 90)

Every edge is even, so at 150 % each is exactly 1.5 times (rows 33 px high
from 36, frames 192 x 141) and at 200 % twice (rows 44 from 48, 256 x 188):
the rule above gives the same without drift.

The 100 % files are written by cairo as they always were, so their bytes stay
the same; the larger ones by a small writer here (png_bytes) that tries a few
filters, plain and interlaced, and keeps the smallest at zlib's best. Every
run draws the same bytes: the grain and the screws' slots come from fixed seeds.
"""
import math
import os
import random
import struct
import sys
import zlib

import cairo

W, H = 750, 200
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESOURCES = os.path.join(ROOT, "resources")

# The editor's layout: left, top, right, bottom (right and bottom one past).
KNOBS = [
    # rectangle, label, left legend, right legend, file
    ((14, 65, 109, 152), "RATIO", "1", "1000", "ratio_knob.png"),
    ((109, 65, 204, 152), "ATTACK", "FAST", "SLOW", "attack_knob.png"),
    ((201, 65, 296, 152), "RELEASE", "FAST", "SLOW", "release_knob.png"),
    ((475, 65, 570, 152), "SENSITIVITY", "LOW", "HIGH", "sensitivity_knob.png"),
    ((568, 65, 663, 152), "MAKEUP", "+0DB", "+30DB", "makeup_knob.png"),
]
SWITCH = (668, 54, 750, 143)
# The side-chain forms' Key switch, on the panel's plain metal below the
# dynamics group; the panel itself is the same for every form.
KEY_SWITCH = (190, 166, 300, 198)
METER = (316, 39, 434, 160)
ABOUT_AREA = (501, 171, 694, 200)

# A frame is as tall as its control's rectangle.
KNOB_FRAMES = 33
METER_FRAMES = 33
SWITCH_FRAMES = 2


class Scale:
    """A size the editor is drawn at: num/den of the layout above."""

    def __init__(self, num, den, suffix):
        self.num, self.den, self.suffix = num, den, suffix
        self.factor = num / den
        self.identity = num == den

    def __call__(self, v):
        return (v * self.num + self.den // 2) // self.den

    def rect(self, r):
        return tuple(self(v) for v in r)


SCALES = (Scale(1, 1, ""), Scale(3, 2, "_150"), Scale(2, 1, "_200"))

# The size menu: its own image, opened over the panel, one row for each size
# above. Every edge is even, so 150 % scales it exactly and the rows stay equal
# at every size. A frame is the whole menu; frame k marks row k as the size
# the editor has. Rows: left, top, right, bottom inside a frame.
MENU_W, MENU_H = 128, 94
MENU_ROW_TOP, MENU_ROW_H = 24, 22
MENU_ROWS = [(2, MENU_ROW_TOP + MENU_ROW_H * k, MENU_W - 2, MENU_ROW_TOP + MENU_ROW_H * (k + 1))
             for k in range(len(SCALES))]

# Palette: graphite panel, warm ivory print, amber accents.
INK = (0.91, 0.88, 0.80)
INK_DIM = (0.62, 0.60, 0.55)
AMBER = (0.98, 0.64, 0.18)
PANEL_TOP = (0.205, 0.213, 0.225)
PANEL_BOTTOM = (0.135, 0.140, 0.150)

SANS = "DejaVu Sans"
SANS_CONDENSED = "DejaVu Sans Condensed"
SERIF = "DejaVu Serif"

# Knob geometry inside its 95 x 87 rectangle.
KNOB_CX, KNOB_CY = 47.5, 40.5
KNOB_SKIRT_R = 25.0
KNOB_CAP_R = 17.5
KNOB_TICK_IN, KNOB_TICK_OUT = 30.0, 34.0

# Meter geometry inside its 118 x 121 rectangle.
METER_PX, METER_PY = 59.0, 108.0  # needle pivot
METER_R = 66.0                    # scale arc
METER_SWEEP = math.radians(48.0)  # each side of straight up


def rgb(ctx, c, a=1.0):
    ctx.set_source_rgba(c[0], c[1], c[2], a)


def font(ctx, face, size, bold=True, italic=False):
    ctx.select_font_face(face, cairo.FONT_SLANT_ITALIC if italic else cairo.FONT_SLANT_NORMAL,
                         cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)
    options = cairo.FontOptions()
    options.set_antialias(cairo.ANTIALIAS_GRAY)
    options.set_hint_style(cairo.HINT_STYLE_SLIGHT)
    options.set_hint_metrics(cairo.HINT_METRICS_OFF)
    ctx.set_font_options(options)


def text_width(ctx, text, spacing):
    return ctx.text_extents(text).x_advance + spacing * (len(text) - 1)


def spaced_text(ctx, text, cx, baseline, spacing=0.0, colour=INK, align="center"):
    """Letter-spaced text, centred on cx (or starting at cx for align='left').
    Each glyph sits where the unspaced string puts it, plus the spacing, so the
    font's own advances (and kerning) are kept."""
    width = text_width(ctx, text, spacing)
    x = cx - width / 2 if align == "center" else cx if align == "left" else cx - width
    rgb(ctx, colour)
    glyphs = ctx.get_scaled_font().text_to_glyphs(0, 0, text, False)
    # As outlines: glyphs shown as such snap to whole pixels, which makes the
    # gaps between letters uneven at these sizes.
    ctx.new_path()
    ctx.glyph_path([cairo.Glyph(g.index, x + g.x + spacing * i, baseline) for i, g in enumerate(glyphs)])
    ctx.fill()
    return width


def engraved_text(ctx, text, cx, baseline, spacing=0.0, colour=INK, align="center"):
    # A dark shadow one pixel below gives the print a little depth on the metal.
    spaced_text(ctx, text, cx, baseline + 1, spacing, (0.05, 0.05, 0.06), align)
    return spaced_text(ctx, text, cx, baseline, spacing, colour, align)


def rounded_rect(ctx, x0, y0, x1, y1, r):
    ctx.new_sub_path()
    ctx.arc(x1 - r, y0 + r, r, -math.pi / 2, 0)
    ctx.arc(x1 - r, y1 - r, r, 0, math.pi / 2)
    ctx.arc(x0 + r, y1 - r, r, math.pi / 2, math.pi)
    ctx.arc(x0 + r, y0 + r, r, math.pi, 3 * math.pi / 2)
    ctx.close_path()


def knob_direction(value):
    """Screen direction of the pointer: 225 degrees at 0, clockwise over 270."""
    angle = math.radians(225.0 - 270.0 * value)
    return math.cos(angle), -math.sin(angle)


# ---------------------------------------------------------------------------
# The panel

def draw_brushed_metal(ctx, rng):
    gradient = cairo.LinearGradient(0, 0, 0, H)
    gradient.add_color_stop_rgb(0, *PANEL_TOP)
    gradient.add_color_stop_rgb(1, *PANEL_BOTTOM)
    ctx.set_source(gradient)
    ctx.paint()
    # Fine horizontal grain.
    for _ in range(900):
        y = rng.uniform(0, H)
        x = rng.uniform(-100, W)
        length = rng.uniform(40, 260)
        shade = rng.choice((1.0, 0.0))
        ctx.set_source_rgba(shade, shade, shade, rng.uniform(0.012, 0.03))
        ctx.set_line_width(rng.uniform(0.5, 1.2))
        ctx.move_to(x, y)
        ctx.line_to(x + length, y)
        ctx.stroke()


def draw_screw(ctx, cx, cy, rng):
    ctx.arc(cx, cy, 4.2, 0, 2 * math.pi)
    g = cairo.RadialGradient(cx - 1.5, cy - 1.5, 0.5, cx, cy, 4.5)
    g.add_color_stop_rgb(0, 0.72, 0.72, 0.70)
    g.add_color_stop_rgb(1, 0.30, 0.30, 0.31)
    ctx.set_source(g)
    ctx.fill()
    ctx.arc(cx, cy, 4.2, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.set_line_width(0.8)
    ctx.stroke()
    a = rng.uniform(0, math.pi)
    dx, dy = 3.2 * math.cos(a), 3.2 * math.sin(a)
    ctx.move_to(cx - dx, cy - dy)
    ctx.line_to(cx + dx, cy + dy)
    ctx.set_source_rgba(0.08, 0.08, 0.09, 0.9)
    ctx.set_line_width(1.1)
    ctx.stroke()


def draw_recess(ctx, x0, y0, x1, y1, r=7):
    """A shallow plate sunk into the panel, grouping controls."""
    rounded_rect(ctx, x0, y0, x1, y1, r)
    g = cairo.LinearGradient(0, y0, 0, y1)
    g.add_color_stop_rgba(0, 0.0, 0.0, 0.0, 0.30)
    g.add_color_stop_rgba(1, 0.0, 0.0, 0.0, 0.16)
    ctx.set_source(g)
    ctx.fill()
    # Dark upper edge, light lower edge: pressed in.
    rounded_rect(ctx, x0 + 0.5, y0 + 0.5, x1 - 0.5, y1 - 0.5, r)
    g = cairo.LinearGradient(0, y0, 0, y1)
    g.add_color_stop_rgba(0, 0.0, 0.0, 0.0, 0.55)
    g.add_color_stop_rgba(1, 1.0, 1.0, 1.0, 0.10)
    ctx.set_source(g)
    ctx.set_line_width(1.0)
    ctx.stroke()


def draw_knob_scale(ctx, rect, left_legend, right_legend):
    x0, y0 = rect[0], rect[1]
    cx, cy = x0 + KNOB_CX, y0 + KNOB_CY
    # Eleven major ticks over the 270 degree sweep, minor ones between.
    for i in range(41):
        v = i / 40
        dx, dy = knob_direction(v)
        major = i % 4 == 0
        inner = KNOB_TICK_IN if major else KNOB_TICK_IN + 1.5
        ctx.move_to(cx + dx * inner, cy + dy * inner)
        ctx.line_to(cx + dx * KNOB_TICK_OUT, cy + dy * KNOB_TICK_OUT)
        rgb(ctx, INK if major else INK_DIM, 0.95 if major else 0.7)
        ctx.set_line_width(1.3 if major else 0.8)
        ctx.stroke()
    # The well the knob sits in.
    ctx.arc(cx, cy, KNOB_SKIRT_R + 2.5, 0, 2 * math.pi)
    g = cairo.RadialGradient(cx, cy - 3, KNOB_SKIRT_R - 4, cx, cy, KNOB_SKIRT_R + 3)
    g.add_color_stop_rgba(0, 0, 0, 0, 0.65)
    g.add_color_stop_rgba(1, 0, 0, 0, 0.0)
    ctx.set_source(g)
    ctx.fill()
    font(ctx, SANS_CONDENSED, 7.6)
    lx, _ = knob_direction(0.0)
    engraved_text(ctx, left_legend, cx + lx * KNOB_TICK_OUT - 1, y0 + 82, 0.4, INK_DIM)
    engraved_text(ctx, right_legend, cx - lx * KNOB_TICK_OUT + 1, y0 + 82, 0.4, INK_DIM)


def draw_meter_face(ctx, rect):
    """The static meter: face, scale and title. The needle moves in the frames."""
    x0, y0, x1, y1 = rect
    ctx.save()
    ctx.translate(x0, y0)
    w, h = x1 - x0, y1 - y0
    g = cairo.LinearGradient(0, 0, 0, h)
    g.add_color_stop_rgb(0, 0.96, 0.92, 0.80)
    g.add_color_stop_rgb(1, 0.86, 0.80, 0.64)
    ctx.rectangle(0, 0, w, h)
    ctx.set_source(g)
    ctx.fill()
    # Warm back-light from below the scale.
    glow = cairo.RadialGradient(METER_PX, METER_PY - 30, 5, METER_PX, METER_PY - 30, 80)
    glow.add_color_stop_rgba(0, 1.0, 0.93, 0.70, 0.55)
    glow.add_color_stop_rgba(1, 1.0, 0.93, 0.70, 0.0)
    ctx.rectangle(0, 0, w, h)
    ctx.set_source(glow)
    ctx.fill()

    def at(db, r):
        a = -METER_SWEEP + 2 * METER_SWEEP * db / 20.0
        return METER_PX + r * math.sin(a), METER_PY - r * math.cos(a)

    def angle(db):
        return -math.pi / 2 - METER_SWEEP + 2 * METER_SWEEP * db / 20.0

    ink = (0.13, 0.12, 0.11)
    red = (0.72, 0.12, 0.08)
    # The arc, red from 10 dB on.
    ctx.set_line_width(1.2)
    ctx.arc(METER_PX, METER_PY, METER_R, angle(0), angle(10))
    rgb(ctx, ink)
    ctx.stroke()
    ctx.set_line_width(3.0)
    ctx.arc(METER_PX, METER_PY, METER_R + 1.0, angle(10), angle(20))
    rgb(ctx, red)
    ctx.stroke()
    for db in range(21):
        major = db % 5 == 0
        outer = METER_R + (6.5 if major else 4.0)
        ax, ay = at(db, METER_R - 0.5)
        bx, by = at(db, outer)
        ctx.move_to(ax, ay)
        ctx.line_to(bx, by)
        rgb(ctx, red if db > 10 else ink)
        ctx.set_line_width(1.3 if major else 0.8)
        ctx.stroke()
    font(ctx, SANS_CONDENSED, 8.0)
    for db in (0, 5, 10, 15, 20):
        tx, ty = at(db, METER_R - 9.5)
        label = str(db)
        e = ctx.text_extents(label)
        rgb(ctx, red if db > 10 else ink)
        ctx.move_to(tx - e.x_advance / 2, ty + 3)
        ctx.show_text(label)
    font(ctx, SANS, 6.6)
    spaced_text(ctx, "GAIN REDUCTION", w / 2, 15, 0.7, ink)
    font(ctx, SANS, 7.0, bold=False)
    spaced_text(ctx, "dB", w / 2, METER_PY - 26, 0.3, ink)
    # Inner shadow of the bezel on the face.
    ctx.rectangle(0, 0, w, h)
    shadow = cairo.LinearGradient(0, 0, 0, 8)
    shadow.add_color_stop_rgba(0, 0, 0, 0, 0.35)
    shadow.add_color_stop_rgba(1, 0, 0, 0, 0.0)
    ctx.set_source(shadow)
    ctx.fill()
    for side in (0, 1):
        shade = cairo.LinearGradient(0 if side == 0 else w, 0, 5 if side == 0 else w - 5, 0)
        shade.add_color_stop_rgba(0, 0, 0, 0, 0.25)
        shade.add_color_stop_rgba(1, 0, 0, 0, 0.0)
        ctx.rectangle(0, 0, w, h)
        ctx.set_source(shade)
        ctx.fill()
    draw_pivot_cover(ctx)
    ctx.restore()


def draw_meter_bezel(ctx, rect):
    x0, y0, x1, y1 = rect
    rounded_rect(ctx, x0 - 6, y0 - 6, x1 + 6, y1 + 6, 7)
    g = cairo.LinearGradient(0, y0 - 6, 0, y1 + 6)
    g.add_color_stop_rgb(0, 0.55, 0.56, 0.57)
    g.add_color_stop_rgb(0.5, 0.28, 0.29, 0.30)
    g.add_color_stop_rgb(1, 0.45, 0.46, 0.47)
    ctx.set_source(g)
    ctx.fill()
    rounded_rect(ctx, x0 - 6.5, y0 - 6.5, x1 + 6.5, y1 + 6.5, 7.5)
    ctx.set_source_rgba(0, 0, 0, 0.7)
    ctx.set_line_width(1)
    ctx.stroke()
    ctx.rectangle(x0 - 1, y0 - 1, x1 - x0 + 2, y1 - y0 + 2)
    ctx.set_source_rgb(0.06, 0.06, 0.07)
    ctx.fill()


def draw_switch_plate(ctx, rect):
    x0, y0, x1, y1 = rect
    cx = (x0 + x1) / 2
    font(ctx, SANS_CONDENSED, 7.0)
    engraved_text(ctx, "ON", cx + 23, y0 + 42, 0.5, INK_DIM)
    engraved_text(ctx, "OFF", cx + 23, y0 + 79, 0.5, INK_DIM)
    # The lamp's bezel; the lens itself is in the frames.
    lx, ly = cx, y0 + 14
    ctx.arc(lx, ly, 9.0, 0, 2 * math.pi)
    g = cairo.LinearGradient(0, ly - 9, 0, ly + 9)
    g.add_color_stop_rgb(0, 0.62, 0.62, 0.62)
    g.add_color_stop_rgb(1, 0.22, 0.22, 0.23)
    ctx.set_source(g)
    ctx.fill()
    # The switch's mounting nut.
    sx, sy = cx, y0 + 58
    ctx.save()
    ctx.translate(sx, sy)
    ctx.new_path()
    for i in range(6):
        a = math.radians(30 + 60 * i)
        ctx.line_to(12.5 * math.cos(a), 12.5 * math.sin(a))
    ctx.close_path()
    g = cairo.LinearGradient(-12, -12, 12, 12)
    g.add_color_stop_rgb(0, 0.85, 0.85, 0.84)
    g.add_color_stop_rgb(1, 0.35, 0.35, 0.36)
    ctx.set_source(g)
    ctx.fill_preserve()
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.set_line_width(0.8)
    ctx.stroke()
    ctx.arc(0, 0, 7.0, 0, 2 * math.pi)
    g = cairo.RadialGradient(-2, -2, 1, 0, 0, 7)
    g.add_color_stop_rgb(0, 0.70, 0.70, 0.70)
    g.add_color_stop_rgb(1, 0.20, 0.20, 0.21)
    ctx.set_source(g)
    ctx.fill()
    ctx.restore()


def draw_maker_logo(ctx, x, baseline):
    # A ring with a tail: the Quenmark mark, then the name.
    cx, cy = x + 9, baseline - 6.5
    ctx.arc(cx, cy, 7.5, 0, 2 * math.pi)
    rgb(ctx, INK)
    ctx.set_line_width(2.2)
    ctx.stroke()
    ctx.move_to(cx + 3.5, cy + 3.5)
    ctx.line_to(cx + 8.5, cy + 8.5)
    ctx.set_line_width(2.4)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.stroke()
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    font(ctx, SANS, 12.5)
    spaced_text(ctx, "QUENMARK", x + 24, baseline, 2.2, INK, align="left")


def draw_product_logo(ctx, area):
    x0, y0, x1, y1 = area
    font(ctx, SERIF, 19.0, bold=True, italic=True)
    name = "Tolvane"
    e = ctx.text_extents(name)
    font(ctx, SANS_CONDENSED, 6.8)
    tag = "STEREO PEAK COMPRESSOR"
    tag_w = text_width(ctx, tag, 1.1)
    gap = 8
    total = e.x_advance + gap + tag_w
    start = x1 - 10 - total
    baseline = y1 - 8
    font(ctx, SERIF, 19.0, bold=True, italic=True)
    ctx.move_to(start, baseline + 1)
    ctx.set_source_rgb(0.04, 0.04, 0.05)
    ctx.show_text(name)
    ctx.move_to(start, baseline)
    rgb(ctx, AMBER)
    ctx.show_text(name)
    font(ctx, SANS_CONDENSED, 6.8)
    spaced_text(ctx, tag, start + e.x_advance + gap, baseline - 1, 1.1, INK_DIM, align="left")


def scaled_surface(scale):
    """A surface of the whole editor at `scale`, drawn on in 100 % units."""
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, scale(W), scale(H))
    ctx = cairo.Context(surface)
    if not scale.identity:
        ctx.scale(scale.factor, scale.factor)
    return surface, ctx


def make_panel(scale):
    rng = random.Random(7)
    surface, ctx = scaled_surface(scale)
    draw_brushed_metal(ctx, rng)
    # Top edge highlight and a hairline under the header.
    ctx.rectangle(0, 0, W, 1)
    ctx.set_source_rgba(1, 1, 1, 0.18)
    ctx.fill()
    ctx.rectangle(0, H - 1, W, 1)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.fill()

    draw_recess(ctx, 8, 34, 302, 160)
    draw_recess(ctx, 468, 34, 665, 160)
    draw_recess(ctx, 666, 34, 749, 160, r=6)
    for rect, label, left, right, _ in KNOBS:
        draw_knob_scale(ctx, rect, left, right)
        font(ctx, SANS, 9.0)
        engraved_text(ctx, label, (rect[0] + rect[2]) / 2, 55, 1.6)
    font(ctx, SANS, 9.0)
    engraved_text(ctx, "ACTIVE", (SWITCH[0] + SWITCH[2]) / 2, 50, 1.6)
    draw_switch_plate(ctx, SWITCH)
    draw_meter_bezel(ctx, METER)
    draw_meter_face(ctx, METER)

    # The header: what the unit is, in small print over each group.
    font(ctx, SANS_CONDENSED, 7.0, bold=False)
    engraved_text(ctx, "DYNAMICS", 155, 24, 3.0, INK_DIM)
    engraved_text(ctx, "LEVEL", 566, 24, 3.0, INK_DIM)
    engraved_text(ctx, "BLEND", 708, 24, 2.0, INK_DIM)
    ctx.set_line_width(1.0)
    for x0, x1, cx, half in ((14, 296, 155, 30), (475, 663, 566, 20), (672, 744, 708, 20)):
        rgb(ctx, INK_DIM, 0.55)
        ctx.move_to(x0, 21.5)
        ctx.line_to(cx - half, 21.5)
        ctx.move_to(cx + half, 21.5)
        ctx.line_to(x1, 21.5)
        ctx.stroke()
    for sx, sy in ((10, 10), (740, 10), (10, 190), (740, 190)):
        draw_screw(ctx, sx, sy, rng)

    draw_maker_logo(ctx, 24, 190)
    draw_product_logo(ctx, ABOUT_AREA)
    surface.flush()
    return surface


# ---------------------------------------------------------------------------
# The moving parts

def crop(panel, rect, scale):
    """A copy of the panel under `rect` at `scale`, with a context that draws
    in the rectangle's own 100 % units at the place the panel has them.

    The context keeps off the outermost ring of pixels, which therefore stays
    the panel's: where a part drawn again over its copy on the panel has an
    edge between pixels (the meter's pivot cover at 150 %), blending it twice
    would otherwise leave a seam."""
    x0, y0, x1, y1 = scale.rect(rect)
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, x1 - x0, y1 - y0)
    ctx = cairo.Context(surface)
    ctx.set_source_surface(panel, -x0, -y0)
    ctx.paint()
    ctx.rectangle(1, 1, x1 - x0 - 2, y1 - y0 - 2)
    ctx.clip()
    if not scale.identity:
        ctx.translate(rect[0] * scale.factor - x0, rect[1] * scale.factor - y0)
        ctx.scale(scale.factor, scale.factor)
    return surface, ctx


def draw_knob(ctx, value):
    cx, cy = KNOB_CX, KNOB_CY
    # Drop shadow.
    ctx.arc(cx + 1.0, cy + 2.5, KNOB_SKIRT_R + 0.5, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.45)
    ctx.fill()
    # Knurled black skirt.
    ctx.arc(cx, cy, KNOB_SKIRT_R, 0, 2 * math.pi)
    g = cairo.LinearGradient(0, cy - KNOB_SKIRT_R, 0, cy + KNOB_SKIRT_R)
    g.add_color_stop_rgb(0, 0.24, 0.24, 0.25)
    g.add_color_stop_rgb(1, 0.07, 0.07, 0.08)
    ctx.set_source(g)
    ctx.fill()
    for i in range(48):
        a = 2 * math.pi * i / 48
        ctx.move_to(cx + (KNOB_SKIRT_R - 2.6) * math.cos(a), cy + (KNOB_SKIRT_R - 2.6) * math.sin(a))
        ctx.line_to(cx + (KNOB_SKIRT_R - 0.4) * math.cos(a), cy + (KNOB_SKIRT_R - 0.4) * math.sin(a))
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.set_line_width(0.9)
    ctx.stroke()
    ctx.arc(cx, cy, KNOB_SKIRT_R - 0.5, 0, 2 * math.pi)
    ctx.set_source_rgba(1, 1, 1, 0.12)
    ctx.set_line_width(1.0)
    ctx.stroke()
    # Brushed aluminium cap, lit from the top left.
    ctx.arc(cx, cy, KNOB_CAP_R, 0, 2 * math.pi)
    g = cairo.LinearGradient(cx - KNOB_CAP_R, cy - KNOB_CAP_R, cx + KNOB_CAP_R, cy + KNOB_CAP_R)
    g.add_color_stop_rgb(0, 0.86, 0.86, 0.85)
    g.add_color_stop_rgb(0.55, 0.60, 0.60, 0.60)
    g.add_color_stop_rgb(1, 0.40, 0.40, 0.41)
    ctx.set_source(g)
    ctx.fill()
    sheen = cairo.RadialGradient(cx - 5, cy - 6, 1, cx, cy, KNOB_CAP_R)
    sheen.add_color_stop_rgba(0, 1, 1, 1, 0.35)
    sheen.add_color_stop_rgba(1, 1, 1, 1, 0.0)
    ctx.arc(cx, cy, KNOB_CAP_R, 0, 2 * math.pi)
    ctx.set_source(sheen)
    ctx.fill()
    ctx.arc(cx, cy, KNOB_CAP_R, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.set_line_width(0.8)
    ctx.stroke()
    # The pointer: an ivory line across skirt and cap, with an amber tip.
    dx, dy = knob_direction(value)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(cx + dx * 7.0, cy + dy * 7.0)
    ctx.line_to(cx + dx * (KNOB_SKIRT_R - 2.5), cy + dy * (KNOB_SKIRT_R - 2.5))
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.set_line_width(3.6)
    ctx.stroke()
    ctx.move_to(cx + dx * 7.0, cy + dy * 7.0)
    ctx.line_to(cx + dx * (KNOB_SKIRT_R - 2.5), cy + dy * (KNOB_SKIRT_R - 2.5))
    rgb(ctx, (0.97, 0.95, 0.89))
    ctx.set_line_width(2.2)
    ctx.stroke()
    ctx.move_to(cx + dx * (KNOB_CAP_R + 1.5), cy + dy * (KNOB_CAP_R + 1.5))
    ctx.line_to(cx + dx * (KNOB_SKIRT_R - 2.5), cy + dy * (KNOB_SKIRT_R - 2.5))
    rgb(ctx, AMBER)
    ctx.set_line_width(2.2)
    ctx.stroke()
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)


def draw_needle(ctx, db):
    a = -METER_SWEEP + 2 * METER_SWEEP * db / 20.0
    tip = (METER_PX + (METER_R + 3) * math.sin(a), METER_PY - (METER_R + 3) * math.cos(a))
    tail = (METER_PX - 10 * math.sin(a), METER_PY + 10 * math.cos(a))
    # Shadow on the face, then the needle.
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(tail[0] + 2, tail[1] + 2)
    ctx.line_to(tip[0] + 2, tip[1] + 2)
    ctx.set_source_rgba(0.3, 0.2, 0.0, 0.22)
    ctx.set_line_width(1.6)
    ctx.stroke()
    ctx.move_to(*tail)
    ctx.line_to(*tip)
    ctx.set_source_rgb(0.10, 0.09, 0.09)
    ctx.set_line_width(1.3)
    ctx.stroke()
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    draw_pivot_cover(ctx)


def draw_pivot_cover(ctx):
    """The needle's pivot under its black cover; on the face and over every needle."""
    ctx.arc(METER_PX, METER_PY + 4, 13, math.pi, 2 * math.pi)
    ctx.close_path()
    g = cairo.LinearGradient(0, METER_PY - 9, 0, METER_PY + 4)
    g.add_color_stop_rgb(0, 0.22, 0.22, 0.23)
    g.add_color_stop_rgb(1, 0.06, 0.06, 0.07)
    ctx.set_source(g)
    ctx.fill()
    ctx.rectangle(0, METER_PY + 4, METER[2] - METER[0], METER[3] - METER[1] - METER_PY - 4)
    ctx.set_source_rgb(0.06, 0.06, 0.07)
    ctx.fill()


def draw_switch(ctx, on):
    w = SWITCH[2] - SWITCH[0]
    cx = w / 2
    # Lamp lens.
    lx, ly = cx, 14
    ctx.arc(lx, ly, 6.8, 0, 2 * math.pi)
    g = cairo.RadialGradient(lx - 2, ly - 2, 0.5, lx, ly, 7)
    if on:
        g.add_color_stop_rgb(0, 1.0, 0.93, 0.70)
        g.add_color_stop_rgb(0.5, 0.99, 0.62, 0.12)
        g.add_color_stop_rgb(1, 0.70, 0.30, 0.02)
    else:
        g.add_color_stop_rgb(0, 0.45, 0.30, 0.16)
        g.add_color_stop_rgb(1, 0.14, 0.08, 0.04)
    ctx.set_source(g)
    ctx.fill()
    if on:
        halo = cairo.RadialGradient(lx, ly, 6, lx, ly, 12)
        halo.add_color_stop_rgba(0, 1.0, 0.62, 0.15, 0.35)
        halo.add_color_stop_rgba(1, 1.0, 0.62, 0.15, 0.0)
        ctx.arc(lx, ly, 12, 0, 2 * math.pi)
        ctx.arc_negative(lx, ly, 9.0, 2 * math.pi, 0)
        ctx.set_source(halo)
        ctx.fill()
    ctx.arc(lx - 2.2, ly - 2.4, 1.8, 0, 2 * math.pi)
    ctx.set_source_rgba(1, 1, 1, 0.65 if on else 0.3)
    ctx.fill()
    # The bat-handle lever, up (on) or down (off), seen from the front.
    sx, sy = cx, 58
    direction = -1 if on else 1
    length = 21
    tip_y = sy + direction * length
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(sx + 1.5, sy + 2)
    ctx.line_to(sx + 1.5, tip_y + 2)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.set_line_width(7)
    ctx.stroke()
    g = cairo.LinearGradient(sx - 4, 0, sx + 4, 0)
    g.add_color_stop_rgb(0, 0.55, 0.55, 0.55)
    g.add_color_stop_rgb(0.4, 0.97, 0.97, 0.96)
    g.add_color_stop_rgb(1, 0.45, 0.45, 0.46)
    ctx.move_to(sx, sy)
    ctx.line_to(sx, tip_y)
    ctx.set_source(g)
    ctx.set_line_width(6.5)
    ctx.stroke()
    ctx.arc(sx, tip_y, 4.4, 0, 2 * math.pi)
    ctx.set_source(g)
    ctx.fill()
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    ctx.arc(sx, sy, 3.2, 0, 2 * math.pi)
    ctx.set_source_rgb(0.15, 0.15, 0.16)
    ctx.fill()


def draw_key_switch(ctx, external):
    # All of it in the frames: the panel under it is every form's.
    w, h = KEY_SWITCH[2] - KEY_SWITCH[0], KEY_SWITCH[3] - KEY_SWITCH[1]
    draw_recess(ctx, 2, 2, w - 2, h - 2, r=5)
    font(ctx, SANS, 8.0)
    engraved_text(ctx, "KEY", 19, 19, 1.4)
    font(ctx, SANS_CONDENSED, 6.5)
    engraved_text(ctx, "INT", 50, 13, 0.5, INK if not external else INK_DIM)
    engraved_text(ctx, "EXT", 92, 13, 0.5, INK if external else INK_DIM)
    # The slide's slot, and its lamp lit for the key.
    rounded_rect(ctx, 45, 18, 97, 26, 4)
    ctx.set_source_rgb(0.05, 0.05, 0.06)
    ctx.fill()
    lx, ly = 71, 11
    ctx.arc(lx, ly, 3.6, 0, 2 * math.pi)
    g = cairo.RadialGradient(lx - 1, ly - 1, 0.3, lx, ly, 3.6)
    if external:
        g.add_color_stop_rgb(0, 1.0, 0.93, 0.70)
        g.add_color_stop_rgb(1, 0.85, 0.42, 0.05)
    else:
        g.add_color_stop_rgb(0, 0.45, 0.30, 0.16)
        g.add_color_stop_rgb(1, 0.14, 0.08, 0.04)
    ctx.set_source(g)
    ctx.fill()
    # The slide's knob, at INT or EXT.
    kx = 84 if external else 47
    rounded_rect(ctx, kx, 17, kx + 11, 27, 2)
    g = cairo.LinearGradient(0, 17, 0, 27)
    g.add_color_stop_rgb(0, 0.92, 0.92, 0.91)
    g.add_color_stop_rgb(1, 0.40, 0.40, 0.41)
    ctx.set_source(g)
    ctx.fill()


def film_strip(panel, rect, frames, draw, scale):
    x0, y0, x1, y1 = scale.rect(rect)
    frame_h = y1 - y0
    strip = cairo.ImageSurface(cairo.FORMAT_RGB24, x1 - x0, frames * frame_h)
    sctx = cairo.Context(strip)
    for k in range(frames):
        frame, ctx = crop(panel, rect, scale)
        draw(ctx, k)
        frame.flush()
        sctx.set_source_surface(frame, 0, k * frame_h)
        sctx.paint()
    strip.flush()
    return strip


# ---------------------------------------------------------------------------
# The about screen

def make_about(scale):
    rng = random.Random(11)
    surface, ctx = scaled_surface(scale)
    g = cairo.LinearGradient(0, 0, W, H)
    g.add_color_stop_rgb(0, 0.10, 0.105, 0.115)
    g.add_color_stop_rgb(1, 0.05, 0.05, 0.06)
    ctx.set_source(g)
    ctx.paint()
    # Faint concentric arcs: a meter's sweep, as a watermark.
    for i in range(14):
        ctx.arc(620, 260, 80 + i * 16, math.radians(200), math.radians(340))
        ctx.set_source_rgba(0.98, 0.64, 0.18, 0.035 + 0.004 * (i % 3))
        ctx.set_line_width(1.2)
        ctx.stroke()
    for _ in range(300):
        ctx.set_source_rgba(1, 1, 1, rng.uniform(0.01, 0.03))
        y = rng.uniform(0, H)
        ctx.rectangle(rng.uniform(0, W), y, rng.uniform(20, 120), 0.6)
        ctx.fill()
    ctx.rectangle(0.5, 0.5, W - 1, H - 1)
    ctx.set_source_rgba(0.98, 0.64, 0.18, 0.45)
    ctx.set_line_width(1)
    ctx.stroke()

    font(ctx, SERIF, 46.0, bold=True, italic=True)
    ctx.move_to(48, 84)
    rgb(ctx, AMBER)
    ctx.show_text("Tolvane")
    font(ctx, SANS_CONDENSED, 10.5)
    spaced_text(ctx, "STEREO PEAK COMPRESSOR", 52, 108, 2.6, INK, align="left")
    font(ctx, SANS, 10.0, bold=False)
    spaced_text(ctx, "Version 1.0.0.1", 52, 134, 0.3, INK_DIM, align="left")
    spaced_text(ctx, "\u00a9 Quenmark, Inc.  All rights reserved.", 52, 151, 0.3, INK_DIM, align="left")
    ctx.move_to(52, 121)
    ctx.line_to(330, 121)
    rgb(ctx, AMBER, 0.6)
    ctx.set_line_width(1)
    ctx.stroke()
    draw_maker_logo(ctx, 52, 184)
    font(ctx, SANS, 9.0, bold=False)
    spaced_text(ctx, "Click anywhere to close", W - 24, 184, 0.4, INK_DIM, align="right")
    surface.flush()
    return surface


# ---------------------------------------------------------------------------
# The size menu

def device_band(ctx, x0, y0, x1, y1, colour, alpha=1.0):
    """Fills whole device pixels, whatever the context's scale: crisp edges."""
    ctx.save()
    ctx.identity_matrix()
    ctx.rectangle(x0, y0, x1 - x0, y1 - y0)
    rgb(ctx, colour, alpha)
    ctx.fill()
    ctx.restore()


def draw_menu_lamp(ctx, cx, cy, on):
    """A small indicator lamp, the ACTIVE lamp in miniature: lit amber for the
    current size, dark for the others."""
    ctx.arc(cx, cy, 4.4, 0, 2 * math.pi)
    g = cairo.LinearGradient(0, cy - 4.4, 0, cy + 4.4)
    g.add_color_stop_rgb(0, 0.06, 0.06, 0.07)
    g.add_color_stop_rgb(1, 0.40, 0.40, 0.41)
    ctx.set_source(g)
    ctx.fill()
    ctx.arc(cx, cy, 3.3, 0, 2 * math.pi)
    g = cairo.RadialGradient(cx - 1, cy - 1, 0.3, cx, cy, 3.4)
    if on:
        g.add_color_stop_rgb(0, 1.0, 0.93, 0.70)
        g.add_color_stop_rgb(0.5, 0.99, 0.62, 0.12)
        g.add_color_stop_rgb(1, 0.70, 0.30, 0.02)
    else:
        g.add_color_stop_rgb(0, 0.30, 0.21, 0.13)
        g.add_color_stop_rgb(1, 0.10, 0.07, 0.05)
    ctx.set_source(g)
    ctx.fill()
    if on:
        halo = cairo.RadialGradient(cx, cy, 3.5, cx, cy, 8)
        halo.add_color_stop_rgba(0, 1.0, 0.62, 0.15, 0.30)
        halo.add_color_stop_rgba(1, 1.0, 0.62, 0.15, 0.0)
        ctx.arc(cx, cy, 8, 0, 2 * math.pi)
        ctx.arc_negative(cx, cy, 4.4, 2 * math.pi, 0)
        ctx.set_source(halo)
        ctx.fill()
    ctx.arc(cx - 1.1, cy - 1.2, 0.9, 0, 2 * math.pi)
    ctx.set_source_rgba(1, 1, 1, 0.7 if on else 0.25)
    ctx.fill()


def make_menu(scale, current):
    """One frame of the size menu: a raised graphite plate, a header, and the
    three sizes with `current` lit. Opaque: the menu's corners are square, and
    the border alone must lift it off the panel."""
    rng = random.Random(13)
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, scale(MENU_W), scale(MENU_H))
    ctx = cairo.Context(surface)
    if not scale.identity:
        ctx.scale(scale.factor, scale.factor)
    # A shade lighter than the panel, so it stands in front of it.
    g = cairo.LinearGradient(0, 0, 0, MENU_H)
    g.add_color_stop_rgb(0, 0.262, 0.270, 0.284)
    g.add_color_stop_rgb(1, 0.178, 0.184, 0.196)
    ctx.set_source(g)
    ctx.paint()
    for _ in range(110):
        y = rng.uniform(0, MENU_H)
        x = rng.uniform(-40, MENU_W)
        shade = rng.choice((1.0, 0.0))
        ctx.set_source_rgba(shade, shade, shade, rng.uniform(0.012, 0.03))
        ctx.set_line_width(rng.uniform(0.5, 1.2))
        ctx.move_to(x, y)
        ctx.line_to(x + rng.uniform(20, 90), y)
        ctx.stroke()
    # Light falls from above: a soft sheen under the top edge.
    g = cairo.LinearGradient(0, 2, 0, 12)
    g.add_color_stop_rgba(0, 1, 1, 1, 0.07)
    g.add_color_stop_rgba(1, 1, 1, 1, 0.0)
    ctx.rectangle(0, 0, MENU_W, 12)
    ctx.set_source(g)
    ctx.fill()

    # The header, printed like the panel's group titles.
    font(ctx, SANS_CONDENSED, 7.0, bold=False)
    title = "EDITOR SIZE"
    half = text_width(ctx, title, 2.0) / 2 + 5
    engraved_text(ctx, title, MENU_W / 2, 15, 2.0, INK_DIM)
    ctx.set_line_width(1.0)
    rgb(ctx, INK_DIM, 0.45)
    ctx.move_to(9, 12.5)
    ctx.line_to(MENU_W / 2 - half, 12.5)
    ctx.move_to(MENU_W / 2 + half, 12.5)
    ctx.line_to(MENU_W - 9, 12.5)
    ctx.stroke()
    # An engraved groove between header and rows.
    x0, x1, y = scale(6), scale(MENU_W - 6), scale(MENU_ROW_TOP)
    device_band(ctx, x0, y - scale(2), x1, y - scale(1), (0, 0, 0), 0.45)
    device_band(ctx, x0, y - scale(1), x1, y, (1, 1, 1), 0.07)

    for k, (size, (x0, y0, x1, y1)) in enumerate(zip(SCALES, MENU_ROWS)):
        on = k == current
        cy = (y0 + y1) / 2
        draw_menu_lamp(ctx, x0 + 12, cy, on)
        font(ctx, SANS, 9.5)
        engraved_text(ctx, "%d %%" % (100 * size.num // size.den), x0 + 24, cy + 3.5, 0.6, INK if on else INK_DIM,
                      align="left")
        # What the size is on screen, in small print.
        font(ctx, SANS_CONDENSED, 7.4)
        engraved_text(ctx, "%d \u00d7 %d" % (size(W), size(H)), x1 - 8, cy + 3, 0.3,
                      INK_DIM if on else (0.50, 0.49, 0.45), align="right")

    # The raised edge: a black outline, lit above and on the left, shaded below
    # and on the right. Each band is as thick on every side, in whole pixels:
    # at 150 % the outline is 2 and the bevel 1.
    w, h, t1, t2 = scale(MENU_W), scale(MENU_H), scale(1), scale(2)
    for x0, y0, x1, y1 in ((0, 0, w, t1), (0, h - t1, w, h), (0, t1, t1, h - t1), (w - t1, t1, w, h - t1)):
        device_band(ctx, x0, y0, x1, y1, (0.03, 0.03, 0.035))
    device_band(ctx, t1, t1, w - t1, t2, (1, 1, 1), 0.20)
    device_band(ctx, t1, t2, t2, h - t1, (1, 1, 1), 0.12)
    device_band(ctx, t1, h - t2, w - t1, h - t1, (0, 0, 0), 0.40)
    device_band(ctx, w - t2, t1, w - t1, h - t2, (0, 0, 0), 0.30)
    surface.flush()
    return surface


def menu_strip(scale):
    frame_h = scale(MENU_H)
    strip = cairo.ImageSurface(cairo.FORMAT_RGB24, scale(MENU_W), len(MENU_ROWS) * frame_h)
    ctx = cairo.Context(strip)
    for k in range(len(MENU_ROWS)):
        ctx.set_source_surface(make_menu(scale, k), 0, k * frame_h)
        ctx.paint()
    strip.flush()
    return strip


def contact_sheet(strips, path):
    pad = 6
    columns = 11
    cells = []
    for surface, frame_h, frames in strips:
        for k in range(frames):
            cells.append((surface, frame_h, k))
    cell_w = max(s.get_width() for s, _, _ in strips) + pad
    cell_h = max(h for _, h, _ in strips) + pad
    rows = (len(cells) + columns - 1) // columns
    sheet = cairo.ImageSurface(cairo.FORMAT_RGB24, columns * cell_w + pad, rows * cell_h + pad)
    ctx = cairo.Context(sheet)
    ctx.set_source_rgb(0.5, 0.5, 0.5)
    ctx.paint()
    for i, (surface, frame_h, k) in enumerate(cells):
        x, y = pad + (i % columns) * cell_w, pad + (i // columns) * cell_h
        ctx.save()
        ctx.rectangle(x, y, surface.get_width(), frame_h)
        ctx.clip()
        ctx.set_source_surface(surface, x, y - k * frame_h)
        ctx.paint()
        ctx.restore()
    sheet.write_to_png(path)


# ---------------------------------------------------------------------------
# Writing PNGs

# A filtered byte's distance from zero, as the usual per-row filter choice counts it.
DISTANCE = bytes(min(v, 256 - v) for v in range(256))

# Adam7's passes: first column and row, column and row steps.
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def rgb_rows(surface):
    """The surface's rows as 8-bit RGB (cairo keeps RGB24 as native-endian 0xXXRRGGBB)."""
    w, stride = surface.get_width(), surface.get_stride()
    data = bytes(surface.get_data())
    order = (2, 1, 0) if sys.byteorder == "little" else (1, 2, 3)
    rows = []
    for y in range(surface.get_height()):
        pixels = data[y * stride:y * stride + 4 * w]
        row = bytearray(3 * w)
        for channel, offset in enumerate(order):
            row[channel::3] = pixels[offset::4]
        rows.append(bytes(row))
    return rows


def adam7_passes(rows):
    """The seven reduced images of an interlaced PNG, empty ones left out."""
    w = len(rows[0]) // 3
    passes = []
    for x0, y0, dx, dy in ADAM7:
        pw = (w - x0 + dx - 1) // dx
        pass_rows = []
        for row in rows[y0::dy] if pw > 0 else ():
            reduced = bytearray(3 * pw)
            for channel in range(3):
                reduced[channel::3] = row[3 * x0 + channel::3 * dx]
            pass_rows.append(bytes(reduced))
        if pass_rows:
            passes.append(pass_rows)
    return passes


class Filters:
    """PNG's row filters over rows of n bytes, three bytes a pixel.

    A whole row is worked as one big integer of byte lanes, and Paeth's as one
    of 16-bit lanes biased by 1024 so that differences stay positive: Python
    then does each step over the row at once, not byte by byte."""

    def __init__(self, n):
        self.n = n

        def lanes(value, width):
            return int.from_bytes(value.to_bytes(width, "big") * n, "big")

        self.top, self.low, self.even = lanes(0x80, 1), lanes(0x7F, 1), lanes(0xFE, 1)
        self.one, self.bias, self.bias2 = lanes(1, 2), lanes(1024, 2), lanes(2048, 2)
        self.full, self.byte, self.carry = lanes(0xFFFF, 2), lanes(0xFF, 2), lanes(0x100, 2)

    def minus(self, x, y):
        # Each lane's top bit set first, so a borrow never crosses into the next byte.
        return ((x | self.top) - (y & self.low)) ^ ((x ^ y ^ self.top) & self.top)

    def wide(self, row):
        spread = bytearray(2 * self.n)
        spread[1::2] = row
        return int.from_bytes(spread, "big")

    def paeth(self, row, prior):
        x, b = self.wide(row), self.wide(prior)
        a, c = x >> 48, b >> 48  # the pixel on the left, and above it

        def distance(d):  # bias + v -> bias + |v|
            negative = ((d >> 10) & self.one) ^ self.one
            mask = negative * 0xFFFF
            return ((self.bias2 - d) & mask) | (d & (mask ^ self.full))

        def at_most(p, q):
            return ((q + self.bias - p) >> 10) & self.one

        pa = distance(b + self.bias - c)
        pb = distance(a + self.bias - c)
        pc = distance(a + b + self.bias - 2 * c)
        use_a = at_most(pa, pb) & at_most(pa, pc)
        use_b = (use_a ^ self.one) & at_most(pb, pc)
        use_c = self.one ^ use_a ^ use_b
        predicted = (a & use_a * 0xFFFF) | (b & use_b * 0xFFFF) | (c & use_c * 0xFFFF)
        return (((x | self.carry) - predicted) & self.byte).to_bytes(2 * self.n, "big")[1::2]

    def rows(self, rows):
        """Every row as filtered by none, sub and Paeth, and by the one of all
        five whose bytes lie nearest zero; each with its filter-type byte."""
        n = self.n
        result = []
        prior = bytes(n)
        for row in rows:
            x, b = int.from_bytes(row, "big"), int.from_bytes(prior, "big")
            a = x >> 24
            average = (a & b) + (((a ^ b) & self.even) >> 1)
            each = [row] + [self.minus(x, p).to_bytes(n, "big") for p in (a, b, average)] + [self.paeth(row, prior)]
            nearest = min(range(5), key=lambda f: sum(each[f].translate(DISTANCE)))
            result.append([bytes([f]) + each[f] for f in (0, 1, 4, nearest)])
            prior = row
        return result


def png_bytes(surface):
    """The surface as an 8-bit RGB PNG, as small as these choices make it: plain
    or interlaced, each with filters none, sub, Paeth and the per-row choice.
    Interlacing pays off in film strips whose frames are too big for deflate's
    32 KiB window to reach back to the previous one: a pass's frame is smaller.
    All are ranked by a quick compression; the two best get zlib's best."""
    rows = rgb_rows(surface)
    candidates = []
    for interlaced, parts in ((0, [rows]), (1, adam7_passes(rows))):
        filtered = [Filters(len(part[0])).rows(part) for part in parts]
        for choice in range(4):
            data = b"".join(r[choice] for part in filtered for r in part)
            candidates.append((len(zlib.compress(data, 6)), interlaced, data))
    candidates.sort(key=lambda c: c[0])
    best = None
    for _, interlaced, data in candidates[:2]:
        z = zlib.compressobj(9, zlib.DEFLATED, 15, 9)
        packed = z.compress(data) + z.flush()
        if best is None or len(packed) < len(best[1]):
            best = interlaced, packed

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", surface.get_width(), surface.get_height(), 8, 2, 0, 0, best[0])
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", best[1]) + chunk(b"IEND", b"")


def write_image(surface, name, scale):
    """resources/<name><suffix>.png; the 100 % files keep cairo's own bytes."""
    stem, ext = os.path.splitext(name)
    path = os.path.join(RESOURCES, stem + scale.suffix + ext)
    if scale.identity:
        surface.write_to_png(path)
        return
    with open(path, "wb") as f:
        f.write(png_bytes(surface))
    # Read back through libpng, as the plug-in does: the pixels drawn, exactly.
    if rgb_rows(cairo.ImageSurface.create_from_png(path)) != rgb_rows(surface):
        sys.exit("%s does not decode to the pixels drawn" % path)


# ---------------------------------------------------------------------------

def draw_scale(scale, sheet_folder):
    panel = make_panel(scale)
    write_image(panel, "background.png", scale)
    # Each moving part: rectangle, frames, how one is drawn, file.
    parts = [(rect, KNOB_FRAMES, lambda ctx, k: draw_knob(ctx, k / 32.0), name) for rect, _, _, _, name in KNOBS]
    parts.append((METER, METER_FRAMES, lambda ctx, k: draw_needle(ctx, k * 20.0 / 32.0), "gain_meter.png"))
    parts.append((SWITCH, SWITCH_FRAMES, lambda ctx, k: draw_switch(ctx, k == 1), "active_switch.png"))
    parts.append((KEY_SWITCH, SWITCH_FRAMES, lambda ctx, k: draw_key_switch(ctx, k == 1), "key_switch.png"))
    strips = []
    for rect, frames, draw, name in parts:
        strip = film_strip(panel, rect, frames, draw, scale)
        write_image(strip, name, scale)
        strips.append((strip, strip.get_height() // frames, frames))
    write_image(make_about(scale), "about.png", scale)
    menu = menu_strip(scale)
    write_image(menu, "scale_menu.png", scale)
    strips.append((menu, scale(MENU_H), len(MENU_ROWS)))
    contact_sheet(strips, os.path.join(sheet_folder, "contact-sheet%s.png" % scale.suffix))

    # The panel as the open editor first shows it: every control at a frame.
    preview = cairo.ImageSurface(cairo.FORMAT_RGB24, scale(W), scale(H))
    ctx = cairo.Context(preview)
    ctx.set_source_surface(panel, 0, 0)
    ctx.paint()
    for (rect, _, _, _), (strip, frame_h, _), k in zip(parts, strips, (6, 10, 14, 20, 8, 9, 1, 0)):
        x0, y0, x1, _ = scale.rect(rect)
        ctx.save()
        ctx.rectangle(x0, y0, x1 - x0, frame_h)
        ctx.clip()
        ctx.set_source_surface(strip, x0, y0 - k * frame_h)
        ctx.paint()
        ctx.restore()
    preview.write_to_png(os.path.join(sheet_folder, "preview%s.png" % scale.suffix))

    # And with the size menu open over it, this size marked.
    k = SCALES.index(scale)
    x, y, frame_h = scale(300), scale(60), scale(MENU_H)
    ctx.rectangle(x, y, scale(MENU_W), frame_h)
    ctx.clip()
    ctx.set_source_surface(menu, x, y - k * frame_h)
    ctx.paint()
    preview.write_to_png(os.path.join(sheet_folder, "preview-menu%s.png" % scale.suffix))


def main():
    sheet_folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "artwork")
    os.makedirs(sheet_folder, exist_ok=True)
    for scale in SCALES:
        draw_scale(scale, sheet_folder)


if __name__ == "__main__":
    main()
