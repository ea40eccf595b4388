#!/usr/bin/python3
"""Draws the launcher's skin: background, the three buttons in their three looks, the bar fill
tiles and the window icon, at the sizes and depths the executable's resources need.

The output is committed under res/, so a build needs no image tools; run this again only to change
the art. It needs Debian's python3-pil and fonts-nanum (run it with /usr/bin/python3, whose
packages those are). Everything random is seeded, so a run reproduces the committed files.

    /usr/bin/python3 tools/artwork/make_artwork.py [--preview DIR]
"""

import argparse
import math
import os
import random
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RES = os.path.join(ROOT, "res")
FONT_DIR = "/usr/share/fonts/truetype/nanum"
SERIF_BOLD = os.path.join(FONT_DIR, "NanumMyeongjoBold.ttf")
GOTHIC_BOLD = os.path.join(FONT_DIR, "NanumGothicBold.ttf")

WIDTH, HEIGHT = 740, 330

# Where the window puts things (client pixels); the art leaves these places for them.
NEWS = (19, 78, 378, 311)
BAR = (415, 138, 415 + 296, 138 + 19)
BUTTONS = {  # name: (x, y, width, height, label)
    "home": (407, 230, 94, 45, "HOME"),
    "start": (511, 218, 113, 58, "GAME START"),
    "exit": (631, 230, 94, 45, "EXIT"),
}
COUNTER_ROW_Y = 65   # "%d / %d" at x 473, "%d Byte" at x 629
STATUS_AREA = (401, 88, 739, 130)
COPYRIGHT_Y = (300, 313)

GOLD_LIGHT = (255, 226, 150)
GOLD = (201, 156, 72)
GOLD_DARK = (104, 70, 26)
CYAN_GLOW = (0, 210, 255)
YELLOW_GLOW = (255, 214, 40)


def font(path, size):
    if not os.path.exists(path):
        sys.exit(f"make_artwork: font {path} is missing (Debian package fonts-nanum)")
    return ImageFont.truetype(path, size)


# ---------------------------------------------------------------------------------------------
# Small image helpers

def value_noise(rng, size, cells):
    """Smooth noise: a coarse random grid scaled up with bicubic filtering."""
    w, h = size
    gw, gh = max(2, w // cells + 2), max(2, h // cells + 2)
    grid = Image.frombytes("L", (gw, gh), bytes(rng.randrange(256) for _ in range(gw * gh)))
    return grid.resize((gw * cells, gh * cells), Image.BICUBIC).crop((0, 0, w, h))


def fractal_noise(rng, size, cells=(96, 48, 24, 12)):
    layers = [value_noise(rng, size, c) for c in cells]
    out = layers[0]
    for i, layer in enumerate(layers[1:], start=1):
        out = Image.blend(out, layer, 1.0 / (i + 1.5))
    return out


def gradient(size, stops, vertical=True):
    """Linear gradient through (position 0..1, colour) stops."""
    w, h = size
    n = h if vertical else w
    line = Image.new("RGB", (1, n) if vertical else (n, 1))
    px = line.load()
    for i in range(n):
        t = i / max(1, n - 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                f = 0 if t1 == t0 else (t - t0) / (t1 - t0)
                col = tuple(int(c0[k] + (c1[k] - c0[k]) * f) for k in range(3))
                break
        px[(0, i) if vertical else (i, 0)] = col
    return line.resize(size, Image.NEAREST)


def solid(size, colour):
    return Image.new("RGB", size, colour)


def paint(base, colour_or_image, mask):
    """Paints a colour or an image through a mask onto base, in place."""
    src = colour_or_image if isinstance(colour_or_image, Image.Image) else solid(base.size, colour_or_image)
    base.paste(src, (0, 0), mask)


def add_glow(base, mask, colour, radius, strength=1.0):
    blurred = mask.filter(ImageFilter.GaussianBlur(radius))
    if strength != 1.0:
        blurred = blurred.point(lambda v: min(255, int(v * strength)))
    light = ImageChops.multiply(solid(base.size, colour), Image.merge("RGB", [blurred] * 3))
    return ImageChops.add(base, light)


def text_mask(size, text, fnt, xy, anchor="la", spacing=0):
    mask = Image.new("L", size, 0)
    d = ImageDraw.Draw(mask)
    if spacing:
        x, y = xy
        total = sum(d.textlength(ch, font=fnt) for ch in text) + spacing * (len(text) - 1)
        if anchor[0] == "m":
            x -= total / 2
        for ch in text:
            d.text((x, y), ch, font=fnt, fill=255, anchor="l" + anchor[1])
            x += d.textlength(ch, font=fnt) + spacing
    else:
        d.text(xy, text, font=fnt, fill=255, anchor=anchor)
    return mask


def ellipse_mask(size, box, blur=0):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).ellipse(box, fill=255)
    return mask.filter(ImageFilter.GaussianBlur(blur)) if blur else mask


def rect_mask(size, box, radius=0, blur=0):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    return mask.filter(ImageFilter.GaussianBlur(blur)) if blur else mask


def darken(image, factor):
    return image.point(lambda v: int(v * factor))


def gold_frame(img, box, width=3, notch=None):
    """A bevelled gold frame: light outer edge, mid body, dark inner edge, dark line inside."""
    d = ImageDraw.Draw(img)
    x0, y0, x1, y1 = box
    shades = [GOLD_DARK, GOLD_LIGHT, GOLD, GOLD, GOLD_DARK][: width + 2]
    for i, col in enumerate(shades):
        d.rectangle((x0 + i, y0 + i, x1 - i, y1 - i), outline=col)
    d.rectangle((x0 + len(shades), y0 + len(shades), x1 - len(shades), y1 - len(shades)),
                outline=(8, 6, 10))
    if notch:  # gap in the top edge for a label
        nx0, nx1 = notch
        d.rectangle((nx0, y0, nx1, y0 + len(shades)), fill=(14, 12, 22))
    for cx, cy in ((x0, y0), (x1, y0), (x0, y1), (x1, y1)):
        gem(img, cx, cy)


def gem(img, cx, cy, r=5):
    """A small diamond stud on a frame corner."""
    d = ImageDraw.Draw(img)
    d.polygon([(cx, cy - r - 1), (cx + r + 1, cy), (cx, cy + r + 1), (cx - r - 1, cy)], fill=GOLD_DARK)
    d.polygon([(cx, cy - r), (cx + r, cy), (cx, cy + r), (cx - r, cy)], fill=GOLD)
    d.polygon([(cx, cy - r + 2), (cx + r - 2, cy), (cx, cy + r - 2), (cx - r + 2, cy)], fill=(40, 150, 200))
    d.point((cx - 1, cy - 1), fill=(200, 245, 255))


# ---------------------------------------------------------------------------------------------
# Background, bitmap 137

def night_sky(rng):
    size = (WIDTH, HEIGHT)
    img = gradient(size, [(0.0, (18, 14, 40)), (0.45, (24, 18, 48)), (0.75, (12, 12, 26)), (1.0, (5, 5, 10))])
    clouds = fractal_noise(rng, size)
    # Nebula: purple where the noise is high, teal in a second band.
    purple = clouds.point(lambda v: max(0, v - 120) * 2)
    img = ImageChops.add(img, ImageChops.multiply(solid(size, (120, 60, 170)), Image.merge("RGB", [purple] * 3)))
    teal = fractal_noise(rng, size, (128, 64, 32)).point(lambda v: max(0, v - 140) * 2)
    img = ImageChops.add(img, ImageChops.multiply(solid(size, (30, 110, 140)), Image.merge("RGB", [teal] * 3)))
    # Stars, denser at the top.
    d = ImageDraw.Draw(img)
    for _ in range(420):
        x, y = rng.randrange(WIDTH), int(HEIGHT * rng.random() ** 1.8)
        b = rng.randrange(90, 255)
        d.point((x, y), fill=(b, b, min(255, b + 30)))
    bright = Image.new("L", size, 0)
    bd = ImageDraw.Draw(bright)
    for _ in range(26):
        x, y = rng.randrange(WIDTH), int(HEIGHT * 0.7 * rng.random() ** 1.5)
        bd.point((x, y), fill=255)
        bd.line((x - 2, y, x + 2, y), fill=150)
        bd.line((x, y - 2, x, y + 2), fill=150)
    img = ImageChops.add(img, Image.merge("RGB", [bright] * 3))
    img = add_glow(img, bright, (150, 200, 255), 2, 1.5)
    return img


def moon(img):
    size = img.size
    cx, cy, r = 560, 30, 34
    halo = ellipse_mask(size, (cx - r * 3, cy - r * 3, cx + r * 3, cy + r * 3), blur=40)
    img = add_glow(img, halo, (70, 80, 130), 1, 0.9)
    disc = ellipse_mask(size, (cx - r, cy - r, cx + r, cy + r), blur=1)
    face = gradient(size, [(0.0, (250, 246, 225)), (0.2, (205, 205, 200)), (1.0, (150, 150, 160))])
    paint(img, face, disc)
    # Maria: a few darker patches on the face.
    shade = Image.new("L", size, 0)
    sd = ImageDraw.Draw(shade)
    for ox, oy, rr in ((-12, -8, 9), (8, 4, 11), (-4, 14, 7), (14, -14, 5)):
        sd.ellipse((cx + ox - rr, cy + oy - rr, cx + ox + rr, cy + oy + rr), fill=70)
    shade = ImageChops.multiply(shade.filter(ImageFilter.GaussianBlur(3)), disc)
    img = ImageChops.subtract(img, Image.merge("RGB", [shade] * 3))
    return add_glow(img, disc, (160, 170, 220), 10, 0.7)


def ridge(rng, base_y, amplitude, roughness):
    """Heights of a mountain ridge line, one per column."""
    points, y = [], 0.0
    for x in range(WIDTH + 1):
        y += rng.uniform(-roughness, roughness)
        y *= 0.985
        points.append(base_y + amplitude * math.sin(x / 97.0 + rng.random() * 0.02) * 0.5 + y)
    return points


def mountains(img, rng):
    size = img.size
    for base_y, amp, rough, colour, haze in (
        (170, 40, 1.6, (30, 26, 52), (60, 50, 100)),
        (205, 30, 2.0, (17, 15, 30), (40, 34, 70)),
        (250, 20, 2.4, (8, 8, 15), None),
    ):
        heights = ridge(rng, base_y, amp, rough)
        mask = Image.new("L", size, 0)
        ImageDraw.Draw(mask).polygon([(0, HEIGHT)] + [(x, h) for x, h in enumerate(heights)] + [(WIDTH, HEIGHT)], fill=255)
        if haze:  # mist glowing along the top of the farther ridges
            img = add_glow(img, mask, haze, 6, 0.35)
        paint(img, gradient(size, [(0.0, tuple(min(255, c + 18) for c in colour)), (1.0, colour)]), mask)
    return img


def castle(img, rng):
    """A dark castle on a crag between the news panel and the button row, a few windows lit."""
    size = img.size
    sil = Image.new("L", size, 0)
    d = ImageDraw.Draw(sil)
    d.polygon([(395, 215), (430, 196), (470, 188), (520, 182), (600, 186), (660, 194), (720, 205), (740, 212), (740, 240), (395, 240)], fill=255)
    towers = [(438, 150, 12), (470, 128, 16), (505, 100, 14), (540, 116, 20), (585, 138, 13), (625, 124, 15), (668, 158, 11), (700, 168, 9)]
    for x, top, w in towers:
        d.rectangle((x - w // 2, top, x + w // 2, 200), fill=255)
        d.polygon([(x - w // 2 - 3, top), (x, top - w * 1.6), (x + w // 2 + 3, top)], fill=255)
        for bx in range(x - w // 2, x + w // 2, 4):  # battlements
            d.rectangle((bx, top - 2, bx + 1, top), fill=255)
    d.rectangle((440, 170, 700, 200), fill=255)
    paint(img, (6, 6, 12), sil)
    lights = Image.new("L", size, 0)
    ld = ImageDraw.Draw(lights)
    for x, top, w in towers:
        for _ in range(2):
            wx = x + rng.randrange(-w // 3, w // 3 + 1)
            wy = top + rng.randrange(8, max(9, 190 - top - 6))
            if rng.random() < 0.75:
                ld.rectangle((wx, wy, wx + 1, wy + 2), fill=255)
    paint(img, (255, 190, 90), lights)
    return add_glow(img, lights, (255, 140, 40), 3, 1.2)


def dark_plate(img, box, alpha=200, radius=6):
    """A translucent dark panel that keeps text over it readable."""
    plate = rect_mask(img.size, box, radius=radius).point(lambda v: v * alpha // 255)
    paint(img, (10, 9, 18), plate)


def niche(img, cx, cy, rx, ry):
    """A round hollow in the stone, darker inside, rimmed with gold, for a button to sit in."""
    size = img.size
    outer = ellipse_mask(size, (cx - rx - 4, cy - ry - 4, cx + rx + 4, cy + ry + 4), blur=3)
    img = add_glow(img, outer, (30, 120, 170), 4, 0.5)
    d = ImageDraw.Draw(img)
    d.ellipse((cx - rx - 2, cy - ry - 2, cx + rx + 2, cy + ry + 2), fill=GOLD_DARK)
    d.ellipse((cx - rx - 1, cy - ry - 1, cx + rx + 1, cy + ry + 1), fill=GOLD)
    d.ellipse((cx - rx, cy - ry, cx + rx, cy + ry), fill=(20, 17, 26))
    hollow = gradient((2 * rx, 2 * ry), [(0.0, (4, 4, 8)), (0.6, (16, 14, 24)), (1.0, (34, 30, 44))])
    m = Image.new("L", (2 * rx, 2 * ry), 0)
    ImageDraw.Draw(m).ellipse((1, 1, 2 * rx - 2, 2 * ry - 2), fill=255)
    img.paste(hollow, (cx - rx, cy - ry), m)
    return img


def background():
    rng = random.Random(137)
    img = night_sky(rng)
    img = moon(img)
    img = mountains(img, rng)
    img = castle(img, rng)
    size = img.size

    # Low mist over the foot of the picture.
    mist = fractal_noise(rng, size, (64, 32, 16)).point(lambda v: max(0, v - 100))
    band = gradient(size, [(0.0, (0, 0, 0)), (0.6, (0, 0, 0)), (1.0, (255, 255, 255))]).convert("L")
    img = ImageChops.add(img, ImageChops.multiply(solid(size, (70, 70, 110)), Image.merge("RGB", [ImageChops.multiply(mist, band)] * 3)))

    # Logo over the news panel.
    logo_font = font(SERIF_BOLD, 40)
    cx = (NEWS[0] + NEWS[2]) // 2
    logo = text_mask(size, "QUORVEL", logo_font, (cx, 37), anchor="mm", spacing=4)
    img = add_glow(img, logo, (255, 120, 20), 9, 0.9)
    outline = logo.filter(ImageFilter.MaxFilter(3))
    paint(img, (30, 14, 4), outline)
    paint(img, gradient(size, [(0.0, GOLD_LIGHT), (0.08, (255, 240, 190)), (0.12, GOLD), (0.18, GOLD_DARK), (1.0, GOLD_DARK)]), logo)
    sub = text_mask(size, "ONLINE ROLE PLAYING GAME", font(GOTHIC_BOLD, 9), (cx, 63), anchor="mm", spacing=2)
    paint(img, (150, 200, 230), sub)
    d = ImageDraw.Draw(img)
    d.line((cx - 170, 63, cx - 84, 63), fill=GOLD_DARK)
    d.line((cx + 84, 63, cx + 170, 63), fill=GOLD_DARK)

    # News panel: a dark well in an ornate frame; the news view covers the inside.
    dark_plate(img, (NEWS[0] - 8, NEWS[1] - 8, NEWS[2] + 8, NEWS[3] + 8), alpha=235, radius=2)
    d.rectangle(NEWS, fill=(12, 12, 20))
    gold_frame(img, (NEWS[0] - 8, NEWS[1] - 8, NEWS[2] + 7, NEWS[3] + 7))

    # Right half: the information panel with the counters, the status line and the total bar.
    panel = (396, 50, 733, 176)
    dark_plate(img, panel, alpha=175)
    gold_frame(img, panel)
    label_font = font(GOTHIC_BOLD, 11)
    for x, text in ((418, "파일 수"), (569, "받은 용량")):
        m = text_mask(size, text, label_font, (x, COUNTER_ROW_Y + 1))
        paint(img, GOLD_LIGHT, m)
        d.text((x + d.textlength(text, font=label_font) + 4, COUNTER_ROW_Y + 6), ":", font=label_font,
               fill=GOLD, anchor="lm")
    # Separator between the counter row and the status line.
    d.line((410, 84, 719, 84), fill=GOLD_DARK)
    d.line((410, 85, 719, 85), fill=(40, 30, 20))
    # The labelled frame of the total bar: a group box with its label set into the top edge.
    frame = (405, 126, 721, 166)
    d.rectangle(frame, outline=GOLD_DARK)
    d.rectangle((frame[0] + 1, frame[1] + 1, frame[2] - 1, frame[3] - 1), outline=(60, 44, 20))
    label = "전체 진행률"
    lw = int(d.textlength(label, font=label_font))
    d.rectangle((413, frame[1] - 1, 413 + lw + 10, frame[1] + 1), fill=(10, 9, 18))
    paint(img, (170, 220, 255), text_mask(size, label, label_font, (418, frame[1]), anchor="lm"))
    # The bar's trough, one pixel outside the control.
    d.rectangle((BAR[0] - 2, BAR[1] - 2, BAR[2] + 1, BAR[3] + 1), outline=GOLD_DARK)
    d.rectangle((BAR[0] - 1, BAR[1] - 1, BAR[2], BAR[3]), fill=(6, 8, 16))

    # The stone ledge with three round niches where the buttons sit.
    ledge = (396, 196, 733, 290)
    dark_plate(img, ledge, alpha=150, radius=10)
    for name, (x, y, w, h, _) in BUTTONS.items():
        rx, ry = w // 2 + 2, h // 2 + 5
        img = niche(img, x + w // 2, y + h // 2, rx, ry)

    # Footer behind the two copyright lines.
    dark_plate(img, (404, 295, 733, 327), alpha=170, radius=4)
    d = ImageDraw.Draw(img)
    d.line((410, 294, 719, 294), fill=GOLD_DARK)

    # Window edge.
    d.rectangle((0, 0, WIDTH - 1, HEIGHT - 1), outline=GOLD_DARK)
    d.rectangle((1, 1, WIDTH - 2, HEIGHT - 2), outline=(40, 28, 12))
    return img


# ---------------------------------------------------------------------------------------------
# Buttons, bitmaps 138-146

def button(bg, name, look):
    x, y, w, h, label = BUTTONS[name]
    img = bg.crop((x, y, x + w, y + h))
    size = img.size
    accent = {"normal": CYAN_GLOW, "highlight": YELLOW_GLOW, "pressed": CYAN_GLOW}[look]
    # A pill-shaped plate of dark steel with a gold rim, sitting in its niche.
    inset = 2
    plate = (inset, inset + 3, w - 1 - inset, h - 1 - inset - 3)
    shadow = rect_mask(size, (plate[0] + 1, plate[1] + 2, plate[2] + 1, plate[3] + 2), radius=(h - 10) // 2, blur=2)
    paint(img, (0, 0, 0), shadow)
    rim = rect_mask(size, plate, radius=(plate[3] - plate[1]) // 2)
    paint(img, gradient(size, [(0.0, GOLD_LIGHT), (0.5, GOLD), (1.0, GOLD_DARK)]), rim)
    inner_box = (plate[0] + 2, plate[1] + 2, plate[2] - 2, plate[3] - 2)
    inner = rect_mask(size, inner_box, radius=(inner_box[3] - inner_box[1]) // 2)
    face_top = (40, 52, 70) if look != "highlight" else (70, 62, 40)
    face = gradient(size, [(0.0, face_top), (0.45, (16, 20, 32)), (0.55, (8, 10, 18)), (1.0, (20, 26, 40))])
    paint(img, face, inner)
    # Inner glow along the rim in the look's colour.
    ring = ImageChops.subtract(inner, rect_mask(size, (inner_box[0] + 3, inner_box[1] + 3, inner_box[2] - 3, inner_box[3] - 3), radius=(inner_box[3] - inner_box[1] - 6) // 2, blur=2))
    img = add_glow(img, ring, accent, 2, 0.6)
    # Gloss on the upper half.
    gloss = rect_mask(size, (inner_box[0] + 4, inner_box[1] + 1, inner_box[2] - 4, (inner_box[1] + inner_box[3]) // 2), radius=8, blur=1)
    img = ImageChops.add(img, Image.merge("RGB", [gloss.point(lambda v: v // 9)] * 3))
    # Lettering with its glow.
    size_pt = 16 if name == "start" else 14
    fnt = font(SERIF_BOLD, size_pt)
    shift = 1 if look == "pressed" else 0
    lines = label.split()
    letters = Image.new("L", size, 0)
    step = size_pt + 1
    for i, line in enumerate(lines):
        cy = h / 2 + shift + (i - (len(lines) - 1) / 2) * step
        letters = ImageChops.lighter(letters, text_mask(size, line, fnt, (w / 2, cy), anchor="mm", spacing=1))
    img = add_glow(img, letters, accent, 4, 1.6)
    img = add_glow(img, letters, accent, 1.5, 1.0)
    core = {"normal": (225, 250, 255), "highlight": (255, 250, 215), "pressed": (190, 230, 245)}[look]
    paint(img, core, letters)
    if look == "pressed":
        img = darken(img, 0.55)
        # Keep the niche around the plate as it is, so only the button itself looks pushed in.
        img.paste(bg.crop((x, y, x + w, y + h)), (0, 0), ImageChops.invert(rim))
        sink = rect_mask(size, (plate[0], plate[1], plate[2], plate[1] + 3), radius=6, blur=1)
        paint(img, (0, 0, 0), sink.point(lambda v: v // 2))
    return img


# ---------------------------------------------------------------------------------------------
# Fill tiles, bitmaps 172, 176 and 178. Only the top 15 rows show on the bar (its 17-pixel client
# shrunk by one pixel on each side); the seam at the right gives the bar its segments.

def fill_tile(top, mid, bottom):
    img = gradient((8, 17), [(0.0, top), (0.15, tuple((a + b) // 2 for a, b in zip(top, mid))), (0.45, mid), (0.8, bottom), (1.0, tuple(c // 2 for c in bottom))])
    d = ImageDraw.Draw(img)
    d.line((0, 0, 7, 0), fill=tuple(min(255, c + 40) for c in top))
    d.line((0, 1, 7, 1), fill=top)
    d.line((7, 0, 7, 16), fill=tuple(c * 2 // 3 for c in mid))  # segment seam
    d.point((0, 2), fill=tuple(min(255, c + 30) for c in top))
    return img


# ---------------------------------------------------------------------------------------------
# Icon 128: a gold-rimmed shield with a blue gem, 32 x 32 in 16 colours with a mask.

def icon_image():
    big = 128
    img = Image.new("RGB", (big, big), (0, 0, 0))
    mask = Image.new("L", (big, big), 0)
    shield = [(14, 12), (64, 4), (114, 12), (110, 66), (64, 124), (18, 66)]
    ImageDraw.Draw(mask).polygon(shield, fill=255)
    paint(img, gradient((big, big), [(0.0, GOLD_LIGHT), (0.5, GOLD), (1.0, GOLD_DARK)]), mask)
    inner = Image.new("L", (big, big), 0)
    ImageDraw.Draw(inner).polygon([(26, 22), (64, 15), (102, 22), (99, 63), (64, 108), (29, 63)], fill=255)
    paint(img, gradient((big, big), [(0.0, (40, 40, 110)), (1.0, (10, 10, 40))]), inner)
    q = text_mask((big, big), "Q", font(SERIF_BOLD, 78), (64, 58), anchor="mm")
    img = add_glow(img, q, CYAN_GLOW, 5, 1.4)
    paint(img, (230, 250, 255), q)
    small = img.resize((32, 32), Image.LANCZOS)
    small_mask = mask.resize((32, 32), Image.LANCZOS).point(lambda v: 255 if v >= 128 else 0)
    return small, small_mask


# ---------------------------------------------------------------------------------------------
# Writers: uncompressed Windows bitmaps with a colour count of 0, and a one-image icon file.

def bmp_bytes(img, bits):
    w, h = img.size
    px = img.convert("RGB").load()
    stride = (w * bits // 8 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            if bits == 24:
                row += bytes((b, g, r))
            elif bits == 16:  # 5-5-5, the only 16-bit layout an uncompressed bitmap has
                row += struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
            else:
                raise ValueError(bits)
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico_bytes(img, mask):
    """32 x 32, 4 bits per pixel: a 16-entry colour table, the colour rows and the AND mask."""
    w, h = img.size
    opaque = Image.new("RGB", (w, h), (0, 0, 0))
    opaque.paste(img, (0, 0), mask)
    quant = opaque.quantize(colors=15, method=Image.MEDIANCUT, dither=Image.NONE)
    palette = quant.getpalette()[: 15 * 3]
    colours = [(0, 0, 0)] + [tuple(palette[i * 3:i * 3 + 3]) for i in range(15)]
    qpx, mpx = quant.load(), mask.load()
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    xor_rows, and_rows = [], []
    for y in range(h - 1, -1, -1):
        xr, ar = bytearray(), bytearray()
        for x in range(0, w, 2):
            hi = 0 if mpx[x, y] == 0 else qpx[x, y] + 1
            lo = 0 if mpx[x + 1, y] == 0 else qpx[x + 1, y] + 1
            xr.append((hi << 4) | lo)
        bits = 0
        for x in range(w):
            bits = (bits << 1) | (1 if mpx[x, y] == 0 else 0)  # 1 = transparent
        ar += struct.pack(">I", bits)
        xor_rows.append(bytes(xr))
        and_rows.append(bytes(ar))
    xor, and_ = b"".join(xor_rows), b"".join(and_rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(and_), 0, 0, 0, 0)
    image = info + table + xor + and_
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preview", help="also write PNG previews into this directory")
    args = parser.parse_args()

    outputs = {}
    bg = background()
    outputs["bitmaps/background.bmp"] = (bg, 24)
    for name in ("exit", "home", "start"):
        for look in ("normal", "highlight", "pressed"):
            outputs[f"bitmaps/{name}_{look}.bmp"] = (button(bg, name, look), 24)
    outputs["bitmaps/fill_file.bmp"] = (fill_tile((200, 240, 255), (90, 185, 245), (30, 110, 200)), 24)
    outputs["bitmaps/fill_total.bmp"] = (fill_tile((120, 170, 250), (30, 80, 200), (10, 30, 110)), 24)
    outputs["bitmaps/fill_yellow.bmp"] = (fill_tile((255, 250, 190), (245, 200, 40), (170, 110, 0)), 16)

    os.makedirs(os.path.join(RES, "bitmaps"), exist_ok=True)
    for rel, (img, bits) in outputs.items():
        with open(os.path.join(RES, rel), "wb") as f:
            f.write(bmp_bytes(img, bits))
    icon, icon_mask = icon_image()
    with open(os.path.join(RES, "Launcher.ico"), "wb") as f:
        f.write(ico_bytes(icon, icon_mask))

    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        for rel, (img, _) in outputs.items():
            img.save(os.path.join(args.preview, os.path.basename(rel)[:-4] + ".png"))
        composed = bg.copy()
        for name, (x, y, w, h, _) in BUTTONS.items():
            composed.paste(outputs[f"bitmaps/{name}_normal.bmp"][0], (x, y))
        composed.save(os.path.join(args.preview, "composed.png"))
        icon.resize((128, 128), Image.NEAREST).save(os.path.join(args.preview, "icon.png"))
    print(f"make_artwork: wrote {len(outputs)} bitmaps and the icon under {RES}")


if __name__ == "__main__":
    main()
