"""Drives the skinned test window under Wine and checks what reaches the screen against the rules of
the skinned controls: the background picture, the three buttons' pictures as the mouse hovers and
presses, the click sent on the press, the fill edges of both bars at 0, 50 and 100 % (and after
the bar shrinks), and the blinking start button. The worker-side calls all go through the slots.

Screenshots of the window are saved as PNG files in the output directory for a person to look at.
Runs on a display prepared by run_window_check.sh.
"""

import argparse
import os
import random
import struct
import subprocess
import sys
import time
import zlib

FILL_ONE_PERCENT = struct.unpack("<f", struct.pack("<I", 0x3C23D70A))[0]
CLIENT_W, CLIENT_H = 740, 330
BUTTONS = {  # control id: (normal, highlight, pressed) pictures
    1012: ("home_normal", "home_highlight", "home_pressed"),
    1013: ("start_normal", "start_highlight", "start_pressed"),
    1014: ("exit_normal", "exit_highlight", "exit_pressed"),
}
TILES = {1000: "fill_total", 1001: "fill_file"}


# ---------------------------------------------------------------------------------------------
# Pictures: committed bitmaps in, screenshots in, PNG out

class Picture:
    """Rows of (r, g, b); a screenshot of part of the screen keeps its place in x0, y0."""

    def __init__(self, width, height, pixels, x0=0, y0=0):
        self.width, self.height, self.pixels, self.x0, self.y0 = width, height, pixels, x0, y0

    def at(self, x, y):
        return self.pixels[y - self.y0][x - self.x0]

    def crop(self, x, y, w, h):
        return Picture(w, h, [row[x:x + w] for row in self.pixels[y:y + h]])


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if compression != 0 or bits not in (16, 24):
        raise ValueError(f"{path}: {bits}-bit compression {compression} is not read here")
    stride = (width * bits // 8 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        row_at = offset + (abs(height) - 1 - y if height > 0 else y) * stride
        row = []
        for x in range(width):
            if bits == 24:
                b, g, r = data[row_at + 3 * x:row_at + 3 * x + 3]
            else:
                v = struct.unpack_from("<H", data, row_at + 2 * x)[0]
                r, g, b = ((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3
            row.append((r, g, b))
        rows.append(row)
    return Picture(width, abs(height), rows)


def screenshot(area=None):
    """The whole screen, or only area = (x, y, width, height) of it, which is much quicker."""
    crop = ["-crop", "{2}x{3}+{0}+{1}".format(*area)] if area else []
    ppm = subprocess.run(["import", "-window", "root", *crop, "-depth", "8", "ppm:-"], check=True,
                         capture_output=True).stdout
    # P6 header: magic, width, height, maximum, each followed by one blank
    fields, at = [], 0
    while len(fields) < 4:
        while ppm[at:at + 1].isspace():
            at += 1
        start = at
        while not ppm[at:at + 1].isspace():
            at += 1
        fields.append(ppm[start:at])
    at += 1
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError(f"screenshot: expected an 8-bit P6 picture, found {fields}")
    width, height = int(fields[1]), int(fields[2])
    rows = []
    for y in range(height):
        line = ppm[at + y * width * 3:at + (y + 1) * width * 3]
        rows.append([tuple(line[i:i + 3]) for i in range(0, len(line), 3)])
    return Picture(width, height, rows, *(area[:2] if area else (0, 0)))


def write_png(path, picture):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in picture.pixels)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", picture.width, picture.height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6))
                + chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------
# The bar's rules, worked out independently of the code under test

def bar_fill_copy(pos, lower, upper, client_w, client_h):
    """Width and height of the fill copied to (2, 2) of the bar's window area (0 when none)."""
    span = abs(upper - lower) or 1
    percent = int((pos - lower) * (100.0 / span))
    fill_w = int(client_w * FILL_ONE_PERCENT * percent)
    right = client_w - 1 if fill_w > client_w else fill_w
    w, h = right - 1 - 1, client_h - 1 - 1
    return (w, h) if w > 0 and h > 0 else (0, 0)


class Run:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        self.log_path = os.path.join(self.out, "window.log")
        self.passed, self.failures = 0, []
        self.bitmaps = {}
        self.controls = {}
        self.origin = None
        self.process = None

    # --- bookkeeping
    def check(self, what, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"ok   {what}")
        else:
            self.failures.append(f"{what}: {detail}")
            print(f"FAIL {what}: {detail}")

    def bitmap(self, name):
        if name not in self.bitmaps:
            self.bitmaps[name] = read_bmp(os.path.join(self.args.bitmaps, name + ".bmp"))
        return self.bitmaps[name]

    def log_lines(self):
        try:
            with open(self.log_path, encoding="ascii", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_log(self, prefix, timeout=30.0):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for line in self.log_lines():
                if line.startswith(prefix):
                    return line
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        return None

    def command(self, text):
        path = os.path.join(self.out, "command.txt")
        with open(path + ".tmp", "w") as f:
            f.write(text + "\n")
        os.replace(path + ".tmp", path)

    def mouse(self, *actions):
        subprocess.run(["xdotool", *actions], check=True)

    def screen_point(self, x, y):
        return str(self.origin[0] + x), str(self.origin[1] + y)

    def save(self, name, shot):
        write_png(os.path.join(self.out, name + ".png"), shot.crop(self.origin[0], self.origin[1], CLIENT_W, CLIENT_H))

    # --- what the screen should show
    def region_matches(self, shot, x, y, picture):
        """Number of pixels of `picture` placed at client (x, y) that differ on the screen."""
        ox, oy = self.origin[0] + x - shot.x0, self.origin[1] + y - shot.y0
        bad = 0
        for py in range(picture.height):
            srow, prow = shot.pixels[oy + py], picture.pixels[py]
            for px in range(picture.width):
                if srow[ox + px] != prow[px]:
                    bad += 1
        return bad

    def button_shows(self, shot, cid):
        left, top = self.controls[cid]["window"][:2]
        for name in BUTTONS[cid]:
            if self.region_matches(shot, left, top, self.bitmap(name)) == 0:
                return name
        return None

    def wait_for(self, what, predicate, timeout=5.0):
        """Screenshots until predicate(shot) holds; returns the last shot and the outcome."""
        deadline = time.time() + timeout
        while True:
            shot = screenshot()
            result = predicate(shot)
            if result or time.time() > deadline:
                return shot, result

    def bar_errors(self, shot, cid, pos, lower, upper):
        """Pixels of the bar that break the rules: inside the fill copy at (2, 2) every pixel is
        the tile repeated from the buffer origin; everything else of the bar, the columns at the
        fill's edge included, still shows the window's background under it."""
        c = self.controls[cid]
        left, top, right, bottom = c["window"]
        cw, ch = c["client"]
        copy_w, copy_h = bar_fill_copy(pos, lower, upper, cw, ch)
        tile = self.bitmap(TILES[cid])
        background = self.bitmap("background")
        ox, oy = self.origin[0] + left, self.origin[1] + top
        errors = []
        for y in range(bottom - top):
            for x in range(right - left):
                found = shot.at(ox + x, oy + y)
                if 2 <= x < 2 + copy_w and 2 <= y < 2 + copy_h:
                    if found != tile.at((x - 2) % tile.width, (y - 2) % tile.height):
                        errors.append(f"fill ({x},{y})")
                elif found != background.at(left + x, top + y):
                    errors.append(f"outside the fill ({x},{y})")
        return errors

    # --- the run
    def start(self):
        os.makedirs(self.out, exist_ok=True)
        for name in os.listdir(self.out):
            if name.endswith((".png", ".log", ".txt")):
                os.remove(os.path.join(self.out, name))
        windows_out = "Z:" + os.path.abspath(self.out).replace("/", "\\")
        self.wine_output = open(os.path.join(self.out, "wine-output.log"), "w")
        self.process = subprocess.Popen([self.args.wine, self.args.exe, windows_out],
                                        stdout=self.wine_output, stderr=subprocess.STDOUT)
        ready = self.wait_log("ready", timeout=120)
        if not ready:
            raise SystemExit(f"the test window did not come up; see {self.out}/wine-output.log")
        self.origin = tuple(int(v) for v in ready.split()[1:3])
        for line in self.log_lines():
            parts = line.split()
            if parts[0] == "control":
                cid = int(parts[1])
                self.controls[cid] = {"window": tuple(int(v) for v in parts[3:7]),
                                      "client": (int(parts[8]), int(parts[9]))}

    def check_palettes(self):
        """Colour-table pictures get exactly their table; deeper ones the halftone palette; a
        missing resource gets nothing at all."""
        found = {}
        for line in self.log_lines():
            parts = line.split()
            if parts[0] == "palette":  # id result R bitmap B entries E matches M used U bits N
                found[int(parts[1])] = {k: int(v) for k, v in zip(parts[2::2], parts[3::2])}
        for rid, what in {900: "its 16 table colours", 901: "the colours its section holds",
                          178: "the halftone palette (16-bit)", 176: "the halftone palette (24-bit)"}.items():
            got = found.get(rid)
            ok = got is not None and got["result"] == 1 and got["bitmap"] == 1 and got["matches"] == 1
            if ok and got["bits"] <= 8:
                # Wine widens a shorter table to the full 2^bits when it makes the section.
                ok = got["entries"] == (got["used"] or 1 << got["bits"])
            self.check(f"bitmap {rid} gets {what}", ok, str(got))
        self.check("bitmap 900 has its 16 entries", found.get(900, {}).get("entries") == 16, str(found.get(900)))
        missing = found.get(999, {})
        self.check("a missing bitmap loads nothing",
                   (missing.get("result"), missing.get("bitmap"), missing.get("entries")) == (0, 0, 0), str(missing))

    def check_layout(self):
        for cid, (x, y, w, h) in {1000: (415, 138, 296, 19), 1012: (407, 230, 94, 45),
                                  1013: (511, 218, 113, 58), 1014: (631, 230, 94, 45)}.items():
            self.check(f"control {cid} placed at {x},{y} {w}x{h}",
                       self.controls[cid]["window"] == (x, y, x + w, y + h), str(self.controls[cid]))

    def check_first_paint(self):
        background = self.bitmap("background")
        top_rows = background.crop(0, 0, CLIENT_W, 50)  # logo strip: nothing else is drawn there
        shot, _ = self.wait_for("first paint", lambda s: self.region_matches(s, 0, 0, top_rows) == 0)
        self.save("window_start", shot)
        self.check("background picture drawn (top strip)", self.region_matches(shot, 0, 0, top_rows) == 0,
                   f"{self.region_matches(shot, 0, 0, top_rows)} pixels differ")
        for cid, names in BUTTONS.items():
            self.check(f"button {cid} shows its normal picture", self.button_shows(shot, cid) == names[0],
                       str(self.button_shows(shot, cid)))
        for cid in TILES:
            errors = self.bar_errors(shot, cid, 0, 0, 1)
            self.check(f"bar {cid} empty at 0 %", not errors, ", ".join(errors[:5]))

    def check_bars(self, percent, verb="bars"):
        self.command(f"{verb} {percent}")
        line = self.wait_log(f"{verb} {percent} done")
        self.check(f"worker's {verb} {percent} completed through the control's thread", line is not None)
        if verb == "bars":
            expected = {1000: (percent * 2, 0, 200), 1001: (percent // 10, 0, 10)}
        else:
            expected = {1000: (percent, 0, 100)}
        for cid, (pos, lower, upper) in expected.items():
            shot, errors = self.wait_for(f"bar {cid}",
                                         lambda s: not self.bar_errors(s, cid, pos, lower, upper))
            errors = self.bar_errors(shot, cid, pos, lower, upper)
            cw, ch = self.controls[cid]["client"]
            w, h = bar_fill_copy(pos, lower, upper, cw, ch)
            self.check(f"bar {cid} at {percent} % ({verb}): fill {w}x{h} at (2,2), edges clean", not errors,
                       f"{len(errors)} wrong pixels, first: {', '.join(errors[:5])}")
        self.save(f"window_{verb}_{percent}", shot)
        return line

    def check_buttons(self):
        home = self.controls[1012]["window"]
        exit_ = self.controls[1014]["window"]
        start = self.controls[1013]["window"]

        def centre(rect):
            return self.screen_point((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)

        self.mouse("mousemove", *centre(home))
        shot, name = self.wait_for("hover", lambda s: self.button_shows(s, 1012) == "home_highlight")
        self.save("window_hover_home", shot)
        self.check("hovering HOME shows its highlight picture", name, str(self.button_shows(shot, 1012)))
        self.mouse("mousemove", *self.screen_point(200, 20))
        shot, name = self.wait_for("leave", lambda s: self.button_shows(s, 1012) == "home_normal")
        self.check("leaving for the background puts the normal picture back", name,
                   str(self.button_shows(shot, 1012)))

        self.mouse("mousemove", *centre(exit_))
        self.wait_for("hover exit", lambda s: self.button_shows(s, 1014) == "exit_highlight")
        self.mouse("mousedown", "1")
        shot, name = self.wait_for("press", lambda s: self.button_shows(s, 1014) == "exit_pressed")
        self.save("window_pressed_exit", shot)
        self.check("pressing EXIT shows its pressed picture", name, str(self.button_shows(shot, 1014)))
        clicked = self.wait_log("command 1014 0", timeout=3)
        self.check("the click reaches the window on the press, before the release",
                   clicked is not None and clicked.endswith("button-down 1"), str(clicked))
        self.mouse("mouseup", "1")
        shot, name = self.wait_for("release", lambda s: self.button_shows(s, 1014) == "exit_highlight")
        self.check("releasing over EXIT shows its highlight picture", name, str(self.button_shows(shot, 1014)))
        self.check("one press makes one click", sum(1 for l in self.log_lines() if l.startswith("command 1014 0")) == 1)
        self.mouse("mousemove", *self.screen_point(200, 20))

        # The start button is disabled until the worker enables it: no input, no click.
        self.mouse("mousemove", *centre(start))
        self.mouse("click", "1")
        time.sleep(0.5)
        shot = screenshot()
        self.check("disabled GAME START ignores the mouse", self.button_shows(shot, 1013) == "start_normal",
                   str(self.button_shows(shot, 1013)))
        self.check("disabled GAME START sends no click",
                   not any(l.startswith("command 1013 0") for l in self.log_lines()))
        self.mouse("mousemove", *self.screen_point(200, 20))

    def check_blink(self):
        self.command("blink 0")
        line = self.wait_log("blink done")
        self.check("worker enabled and started the blinking through the slot",
                   line is not None and line.endswith("blinking 1"), str(line))
        # Only the button is grabbed, at uneven intervals, so the samples cannot keep step with
        # the 200 ms period.
        left, top, right, bottom = self.controls[1013]["window"]
        area = (self.origin[0] + left, self.origin[1] + top, right - left, bottom - top)
        seen, other, first = [], 0, None
        rng = random.Random(1013)
        deadline = time.time() + 4.0
        while time.time() < deadline:
            name = self.button_shows(screenshot(area), 1013)
            if name in ("start_normal", "start_highlight"):
                seen.append(name)
                if name == "start_highlight" and first is None:
                    first = screenshot()
            else:
                other += 1
            time.sleep(rng.uniform(0.0, 0.15))
        if first:
            self.save("window_blinking", first)
        changes = sum(1 for a, b in zip(seen, seen[1:]) if a != b)
        self.check("GAME START alternates its normal and highlight pictures",
                   "start_normal" in seen and "start_highlight" in seen and changes >= 3,
                   f"{changes} changes over {len(seen)} shots")
        self.check("blinking shows no other picture", other == 0, f"{other} shots")
        # A press still clicks while the button blinks.
        start = self.controls[1013]["window"]
        self.mouse("mousemove", *self.screen_point((start[0] + start[2]) // 2, (start[1] + start[3]) // 2))
        self.mouse("mousedown", "1")
        clicked = self.wait_log("command 1013 0", timeout=3)
        self.check("enabled GAME START clicks on the press while blinking", clicked is not None)
        self.mouse("mouseup", "1")
        self.mouse("mousemove", *self.screen_point(200, 20))

    def finish(self):
        self.command("quit 0")
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.check("the window closes on request", self.wait_log("closed", timeout=1) is not None)
        self.wine_output.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--bitmaps", required=True)
    parser.add_argument("--out", required=True)
    run = Run(parser.parse_args())
    try:
        run.start()
        run.check_layout()
        run.check_palettes()
        run.check_first_paint()
        for percent in (50, 100):
            run.check_bars(percent)
        run.check_bars(30)  # the fill got shorter: its old end must not stay on the screen
        run.check_bars(70, verb="direct")
        run.check_buttons()
        run.check_blink()
    finally:
        if run.process and run.process.poll() is None:
            run.finish()
    for failure in run.failures:
        print("FAIL", failure)
    print(f"skin window: {run.passed} passed, {len(run.failures)} failed; screenshots in {run.out}")
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
