"""Reads the launcher's resources back out of a linked executable and checks every value the window
relies on: the dialog template, the bitmaps (against the committed pictures), the icon, the strings,
the manifest and the version block, all under the Korean language.

    check_resources.py --arch win32|win64 <exe> <res directory>
"""

import argparse
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_resources as pe  # noqa: E402

KOREAN = 1042
STATIC_CLASS = 0x0082

EXPECTED_CONTROLS = [  # id, class, text, style, rectangle
    (1000, "msctls_progress32", "Progress1", 0x50000000, (3, 294, 235, 8)),
    (1012, STATIC_CLASS, 141, 0x5000090E, (54, 329, 49, 17)),
    (1013, STATIC_CLASS, 144, 0x5000090E, (105, 329, 49, 17)),
    (1014, STATIC_CLASS, 138, 0x5000090E, (156, 329, 21, 17)),
    (1001, "msctls_progress32", "Progress1", 0x50000000, (3, 278, 235, 8)),
    (1015, STATIC_CLASS, "", 0x50000007, (4, 65, 117, 100)),
]

BITMAPS = {  # id: (width, height, bits, committed file)
    137: (740, 330, 24, "background.bmp"),
    138: (94, 45, 24, "exit_normal.bmp"),
    139: (94, 45, 24, "exit_highlight.bmp"),
    140: (94, 45, 24, "exit_pressed.bmp"),
    141: (94, 45, 24, "home_normal.bmp"),
    142: (94, 45, 24, "home_highlight.bmp"),
    143: (94, 45, 24, "home_pressed.bmp"),
    144: (113, 58, 24, "start_normal.bmp"),
    145: (113, 58, 24, "start_highlight.bmp"),
    146: (113, 58, 24, "start_pressed.bmp"),
    172: (8, 17, 24, "fill_file.bmp"),
    176: (8, 17, 24, "fill_total.bmp"),
    178: (8, 17, 16, "fill_yellow.bmp"),
}

STRINGS = {101: "Freshgate 정보(&A)...", 103: "Windows 소켓 초기화에 실패하였습니다."}

VERSION_STRINGS = {
    "Comments": "",
    "CompanyName": "VORANTHEX",
    "FileDescription": "QuorvelRPG Launcher ",
    "FileVersion": "Version 2.20",
    "InternalName": "QuorvelRPG Launcher ",
    "LegalTrademarks": "",
    "OriginalFilename": "Quorvel Launcher .EXE",
    "PrivateBuild": "",
    "ProductName": "QuorvelRPG Launcher ",
    "ProductVersion": "Version 2.20",
    "SpecialBuild": "",
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class Checks:
    def __init__(self):
        self.passed, self.failures = 0, []

    def eq(self, what, found, expected):
        if found == expected:
            self.passed += 1
        else:
            self.failures.append(f"{what}: expected {expected!r}, found {found!r}")

    def true(self, what, condition, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failures.append(f"{what}{': ' + detail if detail else ''}")


def check_languages(c, resources):
    kinds = sorted({t for t, _, _ in resources})
    c.eq("resource types", kinds, sorted([pe.RT_BITMAP, pe.RT_ICON, pe.RT_DIALOG, pe.RT_STRING,
                                          pe.RT_GROUP_ICON, pe.RT_VERSION, pe.RT_MANIFEST]))
    others = [(t, n, l) for t, n, l in resources if l != KOREAN]
    c.eq("resources outside language 1042", others, [])
    names = {}
    for t, n, _ in resources:
        names.setdefault((t, n), 0)
        names[(t, n)] += 1
    c.eq("resources present in more than one language", [k for k, v in names.items() if v > 1], [])


def check_dialog(c, resources):
    data = resources.get((pe.RT_DIALOG, 102, KOREAN))
    c.true("dialog 102 present", data is not None)
    if data is None:
        return
    d = pe.parse_dialog_ex(data)
    c.eq("dialog style", hex(d["style"]), hex(0x90CA0040))
    c.eq("dialog extended style", hex(d["ex_style"]), hex(0x00040000))
    c.eq("dialog rectangle", d["rect"], (0, 0, 243, 358))
    c.eq("dialog menu", d["menu"], "")
    c.eq("dialog class", d["class"], "")
    c.eq("dialog caption", d["title"], "Quorvel RPG Launcher Ver.201005")
    c.eq("dialog help id", d["help_id"], 0)
    c.eq("dialog font", d["font"], {"points": 10, "weight": 0, "italic": 0, "charset": 1, "face": "굴림"})
    c.eq("control count", len(d["controls"]), len(EXPECTED_CONTROLS))
    for control, (cid, cls, text, style, rect) in zip(d["controls"], EXPECTED_CONTROLS):
        name = f"control {cid}"
        c.eq(f"{name} id (template order)", control["id"], cid)
        c.eq(f"{name} class", control["class"], cls)
        c.eq(f"{name} text", control["text"], text)
        c.eq(f"{name} style", hex(control["style"]), hex(style))
        c.eq(f"{name} extended style", control["ex_style"], 0)
        c.eq(f"{name} rectangle", control["rect"], rect)
        c.eq(f"{name} help id", control["help_id"], 0)
        c.true(f"{name} has no tab stop or group mark", not control["style"] & 0x00030000)


def bmp_file_payload(path):
    """What a resource compiler stores for a .bmp file: everything after the 14-byte file header."""
    with open(path, "rb") as f:
        data = f.read()
    return data[14:]


def check_bitmaps(c, resources, res_dir):
    for bid, (width, height, bits, filename) in BITMAPS.items():
        data = resources.get((pe.RT_BITMAP, bid, KOREAN))
        c.true(f"bitmap {bid} present", data is not None)
        if data is None:
            continue
        h = pe.parse_bitmap_info(data)
        c.eq(f"bitmap {bid} size", (h["width"], h["height"]), (width, height))
        c.eq(f"bitmap {bid} bits per pixel", h["bits"], bits)
        c.eq(f"bitmap {bid} compression", h["compression"], 0)
        c.eq(f"bitmap {bid} colour count", h["clr_used"], 0)
        c.eq(f"bitmap {bid} header", (h["header_size"], h["planes"]), (40, 1))
        stride = (width * bits // 8 + 3) & ~3
        c.eq(f"bitmap {bid} data length", len(data), 40 + stride * height)
        c.true(f"bitmap {bid} is the committed {filename}",
               data == bmp_file_payload(os.path.join(res_dir, "bitmaps", filename)))


def check_icon(c, resources):
    group = resources.get((pe.RT_GROUP_ICON, 128, KOREAN))
    c.true("icon group 128 present", group is not None)
    if group is None:
        return
    g = pe.parse_icon_group(group)
    c.eq("icon group type", (g["reserved"], g["type"]), (0, 1))
    c.eq("icon group entries", len(g["entries"]), 1)
    if not g["entries"]:
        return
    e = g["entries"][0]
    c.eq("icon entry", (e["width"], e["height"], e["colours"], e["planes"], e["bits"], e["id"]),
         (32, 32, 16, 1, 4, 1))
    image = resources.get((pe.RT_ICON, 1, KOREAN))
    c.true("icon image 1 present", image is not None)
    if image is None:
        return
    h = pe.parse_bitmap_info(image)
    # Colour rows of 16 bytes and mask rows of 4 bytes, after the header and 16 colours.
    c.eq("icon image header", (h["width"], h["height"], h["bits"], h["compression"]), (32, 64, 4, 0))
    c.eq("icon image length (colours, pixels and mask)", len(image), 40 + 16 * 4 + 32 * 16 + 32 * 4)
    c.eq("icon entry size", e["size"], len(image))
    mask = image[40 + 64 + 512:]
    c.true("icon mask has transparent and opaque pixels", 0 < sum(bin(b).count("1") for b in mask) < 1024)


def check_strings(c, resources):
    for sid, text in STRINGS.items():
        block = resources.get((pe.RT_STRING, sid // 16 + 1, KOREAN))
        c.true(f"string block of {sid} present", block is not None)
        if block is None:
            continue
        c.eq(f"string {sid}", pe.parse_string_block(block)[sid % 16], text)


def check_manifest(c, resources, res_dir, arch):
    data = resources.get((pe.RT_MANIFEST, 1, KOREAN))
    c.true("manifest 1 present", data is not None)
    if data is None:
        return
    expected_arch = {"win32": "x86", "win64": "amd64"}[arch]
    with open(os.path.join(res_dir, "manifest", f"{expected_arch}.manifest"), "rb") as f:
        c.true("manifest is the committed file byte for byte", data == f.read())
    lines = data.split(b"\r\n")
    c.eq("manifest ends with CR LF", lines[-1], b"")
    c.true("manifest has no bare line feed or carriage return",
           all(b"\n" not in line and b"\r" not in line for line in lines))
    c.eq("manifest declaration", lines[0], b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>')
    root = ET.fromstring(data)
    c.eq("manifest root", root.tag, ASM_V1 + "assembly")
    c.eq("manifest version", root.get("manifestVersion"), "1.0")
    identity = root.find(ASM_V1 + "assemblyIdentity")
    c.true("assemblyIdentity present", identity is not None)
    if identity is not None:
        c.eq("assemblyIdentity", dict(identity.attrib),
             {"version": "1.0.0.0", "processorArchitecture": expected_arch, "name": "QuorvelRPG",
              "type": "win32"})
    description = root.find(ASM_V1 + "description")
    c.eq("description", description.text if description is not None else None, "QuorvelRPG Program")
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                      f"{ASM_V3}requestedExecutionLevel")
    c.eq("requestedExecutionLevel", dict(level.attrib) if level is not None else None,
         {"level": "requireAdministrator", "uiAccess": "false"})
    c.eq("no dependent assembly", root.findall(f".//{ASM_V1}dependency"), [])


def check_version(c, resources):
    data = resources.get((pe.RT_VERSION, 1, KOREAN))
    c.true("version block 1 present", data is not None)
    if data is None:
        return
    v = pe.parse_version(data)
    fixed = v["fixed"]
    c.true("fixed file info present", fixed is not None)
    if fixed:
        (signature, _, file_ms, file_ls, prod_ms, prod_ls, mask, flags, os_, kind, subtype, _,
         _) = fixed
        c.eq("fixed signature", hex(signature), hex(0xFEEF04BD))
        c.eq("file version", (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF), (2, 0, 2, 0))
        c.eq("product version", (prod_ms >> 16, prod_ms & 0xFFFF, prod_ls >> 16, prod_ls & 0xFFFF), (2, 0, 2, 0))
        c.eq("flags mask, flags, os, type, subtype", (mask, flags, os_, kind, subtype), (0x3F, 0, 4, 1, 0))
    c.eq("string tables", sorted(v["strings"]), ["041204b0"])
    table = v["strings"].get("041204b0", {})
    expected_keys = sorted(list(VERSION_STRINGS) + ["LegalCopyright"])
    c.eq("version string keys", sorted(table), expected_keys)
    for key, value in VERSION_STRINGS.items():
        c.eq(f"version string {key}", table.get(key), value)
    c.true("LegalCopyright names the company", "VORANTHEX" in table.get("LegalCopyright", ""))
    c.eq("translations", v["translations"], [(0x0412, 0x04B0)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    parser.add_argument("exe")
    parser.add_argument("res_dir")
    args = parser.parse_args()
    resources, machine = pe.read_resources(args.exe)
    c = Checks()
    c.eq("machine", hex(machine), hex({"win32": 0x14C, "win64": 0x8664}[args.arch]))
    check_languages(c, resources)
    check_dialog(c, resources)
    check_bitmaps(c, resources, args.res_dir)
    check_icon(c, resources)
    check_strings(c, resources)
    check_manifest(c, resources, args.res_dir, args.arch)
    check_version(c, resources)
    for failure in c.failures:
        print("FAIL", failure)
    print(f"{args.exe}: {c.passed} passed, {len(c.failures)} failed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
