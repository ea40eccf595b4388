"""Reads the resources of a Windows executable (PE32 or PE32+) and decodes the resource formats the
launcher carries: dialog templates, bitmaps, icon groups, string tables and version blocks.

Every length and offset is checked against the bytes that are really there; a malformed file gives
a PeError that says what was expected and what was found.
"""

import struct

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 6, 14, 16, 24


class PeError(Exception):
    pass


class Reader:
    def __init__(self, data, where="file"):
        self.data, self.where = data, where

    def need(self, offset, size, what):
        if offset < 0 or size < 0 or offset + size > len(self.data):
            raise PeError(f"{self.where}: {what} needs bytes {offset}..{offset + size}, have {len(self.data)}")

    def unpack(self, fmt, offset, what):
        size = struct.calcsize(fmt)
        self.need(offset, size, what)
        return struct.unpack_from(fmt, self.data, offset)

    def u16(self, offset, what):
        return self.unpack("<H", offset, what)[0]

    def u32(self, offset, what):
        return self.unpack("<I", offset, what)[0]

    def bytes(self, offset, size, what):
        self.need(offset, size, what)
        return self.data[offset:offset + size]

    def wstring(self, offset, what):
        """A NUL-terminated UTF-16 string; returns (text, offset after the NUL)."""
        end = offset
        while True:
            self.need(end, 2, what)
            if self.data[end:end + 2] == b"\0\0":
                return self.data[offset:end].decode("utf-16-le"), end + 2
            end += 2


def _sections(r, pe):
    machine, count, _, _, _, optional_size, _ = r.unpack("<HHIIIHH", pe + 4, "COFF header")
    optional = pe + 24
    magic = r.u16(optional, "optional header magic")
    if magic == 0x10B:
        directories = optional + 96
    elif magic == 0x20B:
        directories = optional + 112
    else:
        raise PeError(f"optional header magic: expected 0x10b or 0x20b, found {magic:#x}")
    count_dirs = r.u32(directories - 4, "number of data directories")
    if count_dirs < 3:
        raise PeError(f"data directories: expected at least 3, found {count_dirs}")
    rsrc_rva, rsrc_size = r.unpack("<II", directories + 2 * 8, "resource directory entry")
    table = optional + optional_size
    sections = []
    for i in range(count):
        name, vsize, vaddr, raw_size, raw_ptr = r.unpack("<8sIIII", table + 40 * i, f"section {i}")
        sections.append((vaddr, max(vsize, raw_size), raw_ptr, raw_size))
    return machine, magic, rsrc_rva, rsrc_size, sections


def _rva_to_offset(sections, rva, size, what):
    for vaddr, vsize, raw_ptr, raw_size in sections:
        if vaddr <= rva and rva + size <= vaddr + min(vsize, raw_size):
            return raw_ptr + (rva - vaddr)
    raise PeError(f"{what}: RVA {rva:#x}+{size} lies in no section's file data")


def read_resources(path):
    """{(type, name, language): bytes}, type and name int ids or strings; plus the machine type."""
    with open(path, "rb") as f:
        data = f.read()
    r = Reader(data, path)
    if r.bytes(0, 2, "DOS signature") != b"MZ":
        raise PeError(f"{path}: no MZ signature")
    pe = r.u32(0x3C, "PE header offset")
    if r.bytes(pe, 4, "PE signature") != b"PE\0\0":
        raise PeError(f"{path}: no PE signature at {pe:#x}")
    machine, magic, rsrc_rva, rsrc_size, sections = _sections(r, pe)
    if rsrc_rva == 0 or rsrc_size == 0:
        return {}, machine
    base = _rva_to_offset(sections, rsrc_rva, rsrc_size, "resource section")
    rsrc = Reader(r.bytes(base, rsrc_size, "resource section"), f"{path} resources")

    def name_at(field):
        if field & 0x80000000:
            at = field & 0x7FFFFFFF
            length = rsrc.u16(at, "resource name length")
            return rsrc.bytes(at + 2, 2 * length, "resource name").decode("utf-16-le")
        return field

    def entries(offset, depth):
        if depth > 3:
            raise PeError("resource directory nested deeper than type / name / language")
        named, ids = rsrc.unpack("<HH", offset + 12, "resource directory counts")
        for i in range(named + ids):
            field, target = rsrc.unpack("<II", offset + 16 + 8 * i, "resource directory entry")
            yield name_at(field), bool(target & 0x80000000), target & 0x7FFFFFFF

    out = {}
    for rtype, is_dir, at in entries(0, 1):
        if not is_dir:
            raise PeError(f"resource type {rtype}: expected a directory")
        for rname, is_dir2, at2 in entries(at, 2):
            if not is_dir2:
                raise PeError(f"resource {rtype}/{rname}: expected a language directory")
            for lang, is_dir3, at3 in entries(at2, 3):
                if is_dir3:
                    raise PeError(f"resource {rtype}/{rname}/{lang}: expected data")
                data_rva, size, _, _ = rsrc.unpack("<IIII", at3, "resource data entry")
                offset = _rva_to_offset(sections, data_rva, size, f"resource {rtype}/{rname}")
                out[(rtype, rname, lang)] = r.bytes(offset, size, f"resource {rtype}/{rname} data")
    return out, machine


# ---------------------------------------------------------------------------------------------
# Resource formats

def _sz_or_ord(r, offset, what):
    """Returns (int ordinal or str, next offset)."""
    first = r.u16(offset, what)
    if first == 0xFFFF:
        return r.u16(offset + 2, what), offset + 4
    return r.wstring(offset, what)


def _align4(offset):
    return (offset + 3) & ~3


def parse_dialog_ex(data):
    r = Reader(data, "dialog")
    ver, sig, help_id, ex_style, style, count, x, y, cx, cy = r.unpack("<HHIIIHhhhh", 0, "DLGTEMPLATEEX")
    if ver != 1 or sig != 0xFFFF:
        raise PeError(f"dialog: expected an extended template (1, 0xffff), found ({ver}, {sig:#x})")
    at = 26
    menu, at = _sz_or_ord(r, at, "dialog menu")
    window_class, at = _sz_or_ord(r, at, "dialog class")
    title, at = r.wstring(at, "dialog title")
    font = None
    if style & 0x40 or style & 0x48:  # DS_SETFONT / DS_SHELLFONT
        points, weight, italic, charset = r.unpack("<HHBB", at, "dialog font")
        face, at = r.wstring(at + 6, "dialog font face")
        font = {"points": points, "weight": weight, "italic": italic, "charset": charset, "face": face}
    dialog = {"help_id": help_id, "ex_style": ex_style, "style": style, "rect": (x, y, cx, cy),
              "menu": menu, "class": window_class, "title": title, "font": font, "controls": []}
    for i in range(count):
        at = _align4(at)
        c_help, c_ex, c_style, cx_, cy_, cw, ch, cid = r.unpack("<IIIhhhhI", at, f"control {i}")
        at += 24
        c_class, at = _sz_or_ord(r, at, f"control {i} class")
        c_text, at = _sz_or_ord(r, at, f"control {i} text")
        extra = r.u16(at, f"control {i} extra count")
        at += 2 + extra
        dialog["controls"].append({"help_id": c_help, "ex_style": c_ex, "style": c_style,
                                   "rect": (cx_, cy_, cw, ch), "id": cid, "class": c_class,
                                   "text": c_text, "extra": extra})
    return dialog


def parse_bitmap_info(data):
    """The header of an RT_BITMAP resource (a BITMAPINFOHEADER followed by colours and pixels)."""
    r = Reader(data, "bitmap")
    (size, width, height, planes, bits, compression, image_size, _, _, clr_used,
     clr_important) = r.unpack("<IiiHHIIiiII", 0, "BITMAPINFOHEADER")
    return {"header_size": size, "width": width, "height": height, "planes": planes, "bits": bits,
            "compression": compression, "image_size": image_size, "clr_used": clr_used,
            "clr_important": clr_important}


def parse_icon_group(data):
    r = Reader(data, "icon group")
    reserved, kind, count = r.unpack("<HHH", 0, "GRPICONDIR")
    entries = []
    for i in range(count):
        w, h, colours, res, planes, bits, size, icon_id = r.unpack("<BBBBHHIH", 6 + 14 * i, f"icon entry {i}")
        entries.append({"width": w or 256, "height": h or 256, "colours": colours, "planes": planes,
                        "bits": bits, "size": size, "id": icon_id})
    return {"reserved": reserved, "type": kind, "entries": entries}


def parse_string_block(data):
    """The 16 counted UTF-16 strings of one string-table block."""
    r = Reader(data, "string block")
    at, out = 0, []
    for i in range(16):
        length = r.u16(at, f"string {i} length")
        out.append(r.bytes(at + 2, 2 * length, f"string {i}").decode("utf-16-le"))
        at += 2 + 2 * length
    return out


def parse_version(data):
    """VS_VERSIONINFO: the fixed part and {table key: {name: value}} plus the translations."""
    r = Reader(data, "version block")

    def node(at):
        length, value_length, kind = r.unpack("<HHH", at, "version node header")
        if length < 6:
            raise PeError(f"version node at {at}: length {length} is too short")
        r.need(at, length, "version node")
        key, value_at = r.wstring(at + 6, "version node key")
        value_at = _align4(value_at)
        return at, length, value_length, kind, key, value_at

    def children(start, end):
        at = _align4(start)
        while at < end:
            child = node(at)
            yield child
            at = _align4(at + child[1])

    at, length, value_length, kind, key, value_at = node(0)
    if key != "VS_VERSION_INFO":
        raise PeError(f"version block key: expected VS_VERSION_INFO, found {key!r}")
    fixed = r.unpack("<13I", value_at, "VS_FIXEDFILEINFO") if value_length else None
    result = {"fixed": fixed, "strings": {}, "translations": []}
    for c_at, c_len, c_vlen, c_kind, c_key, c_value in children(value_at + value_length, at + length):
        if c_key == "StringFileInfo":
            for t_at, t_len, _, _, t_key, t_value in children(c_value, c_at + c_len):
                table = result["strings"].setdefault(t_key, {})
                for s_at, s_len, s_vlen, s_kind, s_key, s_value in children(t_value, t_at + t_len):
                    raw = r.bytes(s_value, 2 * s_vlen, f"string {s_key}") if s_kind == 1 else b""
                    table[s_key] = raw.decode("utf-16-le").rstrip("\0")
        elif c_key == "VarFileInfo":
            for v_at, v_len, v_vlen, _, v_key, v_value in children(c_value, c_at + c_len):
                if v_key == "Translation":
                    for i in range(v_vlen // 4):
                        result["translations"].append(r.unpack("<HH", v_value + 4 * i, "translation"))
    return result
