#!/usr/bin/env python3
"""Checks the program's compiled Windows resources against what the program is written for.

Compiles resources/app.rc with windres and proves, by reading the compiled .res byte by byte,
that the program gets the resources it is written against: the dialog with its eleven controls
in tab order, every message of messages.def as exactly the right UTF-16, the firmware image in
German, the logo, the icon, the manifest and the version. A resource that compiles but is subtly
wrong (an extra WS_TABSTOP, a literal backslash instead of CR LF, an umlaut read in the wrong
code page) would only show on a Windows screen; this catches it here.

Usage: python3 resources/check_resources.py              compile with windres, then check
       python3 resources/check_resources.py FILE.res     check a .res made elsewhere
       WINDRES=/path/to/windres python3 resources/check_resources.py
Exit status 0 when everything matches; otherwise 1, with one line per mismatch.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))

GERMAN = 0x0407
NEUTRAL = 0x0000
RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 6, 10, 14, 16, 24

WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x40000000, 0x10000000, 0x08000000
WS_BORDER, WS_VSCROLL, WS_GROUP, WS_TABSTOP = 0x00800000, 0x00200000, 0x00020000, 0x00010000
WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000
DS_SETFONT, DS_MODALFRAME, DS_FIXEDSYS, DS_CENTER = 0x40, 0x80, 0x08, 0x800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX = 0, 1, 7
SS_LEFT = 0
ES_MULTILINE, ES_AUTOVSCROLL, ES_READONLY = 0x4, 0x40, 0x800
WS_EX_RIGHT = 0x1000
CV = WS_CHILD | WS_VISIBLE
STATIC_STYLE = SS_LEFT | WS_GROUP | CV
CLASS_ATOMS = {0x80: "button", 0x81: "edit", 0x82: "static"}

# The icon group the main window shows: eight 32-bit images with alpha, of these sides only.
ICON_IMAGES = 8
ICON_SIDES = (16, 32, 48)

failures = []


def fail(message):
    failures.append(message)


def align4(n):
    return (n + 3) & ~3


def read_sz_or_ord(data, pos):
    """A name in a .res header or dialog template: 0xFFFF + ordinal, or a NUL-ended UTF-16 string."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    return read_sz(data, pos)


def read_sz(data, pos):
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def read_source(name):
    with open(os.path.join(HERE, name), "rb") as f:
        return f.read()


def compile_resources(work):
    """app.rc compiled by windres into WORK/app.res; exits when windres fails or warns."""
    res = os.path.join(work, "app.res")
    windres = os.environ.get("WINDRES", "x86_64-w64-mingw32-windres")
    run = subprocess.run([windres, "--codepage=65001", "--include-dir=" + HERE, "-i", os.path.join(HERE, "app.rc"),
                          "-O", "res", "-o", res], stderr=subprocess.PIPE)
    # A warning is a failure too: windres warns when it guesses, and a guess is what we rule out.
    if run.returncode != 0 or run.stderr:
        sys.stderr.write(run.stderr.decode(errors="replace"))
        print("FAIL: windres could not compile app.rc" if run.returncode != 0 else "FAIL: windres printed warnings",
              file=sys.stderr)
        sys.exit(1)
    return res


def read_res(path):
    """The resources of a .res file: (type, name) -> (language, data)."""
    with open(path, "rb") as f:
        res = f.read()
    resources = {}
    pos = 0
    while pos + 8 <= len(res):
        data_size, header_size = struct.unpack_from("<II", res, pos)
        rtype, p = read_sz_or_ord(res, pos + 8)
        name, p = read_sz_or_ord(res, p)
        p = align4(p)
        _data_version, _flags, language = struct.unpack_from("<IHH", res, p)
        data = res[pos + header_size:pos + header_size + data_size]
        if not (rtype == 0 and name == 0 and data_size == 0):  # the empty entry that marks a .res file
            if (rtype, name) in resources:
                fail("resource type %r name %r appears twice" % (rtype, name))
            resources[(rtype, name)] = (language, data)
        pos = align4(pos + header_size + data_size)
    return resources


def read_ids():
    """The identifiers, read the way the resource compiler reads them."""
    ids = {}
    for m in re.finditer(r"^#define\s+(\w+)\s+(-?\d+)\s*$", read_source("resource_ids.h").decode("ascii"), re.M):
        ids[m.group(1)] = int(m.group(2))
    return ids


def expected_controls(ids):
    """id, class, text, style, exstyle, x, y, cx, cy: the order is the tab order."""
    return [
        (2,                          "button", "Beenden", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | CV, 0, 157, 199, 50, 14),
        (ids["IDC_UPDATE"],          "button", "Update", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED | CV, 0, 61, 199, 50, 14),
        (ids["IDC_LABEL_FW1"],       "static", "Firmware 1:", STATIC_STYLE, 0, 22, 24, 60, 8),
        (ids["IDC_LABEL_FW2"],       "static", "Firmware 2:", STATIC_STYLE, 0, 22, 37, 60, 8),
        (ids["IDC_VALUE_FW1"],       "static", "0.00.00", STATIC_STYLE, WS_EX_RIGHT, 90, 24, 50, 8),
        (ids["IDC_VALUE_FW2"],       "static", "0.00.00", STATIC_STYLE, WS_EX_RIGHT, 90, 37, 50, 8),
        (ids["IDC_INFO_TEXT"],       "edit", "", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | CV, 0, 15, 89, 271, 101),
        (0xFFFFFFFF,                 "static", "Hinweisfenster:", STATIC_STYLE, 0, 15, 79, 49, 8),
        (ids["IDC_VERSION_GROUP"],   "button", "Installierte Firmware Versionen", BS_GROUPBOX | WS_GROUP | CV, 0, 15, 10, 135, 57),
        (ids["IDC_LABEL_FW3"],       "static", "Firmware 3:", STATIC_STYLE, 0, 22, 50, 60, 8),
        (ids["IDC_VALUE_FW3"],       "static", "0.00.00", STATIC_STYLE, WS_EX_RIGHT, 90, 50, 50, 8),
    ]


def check_dialog(dialog, controls):
    ver, sig, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", dialog, 0)
    if (ver, sig) != (1, 0xFFFF):
        fail("dialog IDD_MAIN is not an extended template (DIALOGEX)")
        return
    want_style = DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU
    if style != want_style:
        fail("dialog style 0x%08x, expected 0x%08x" % (style, want_style))
    if exstyle != 0:
        fail("dialog extended style 0x%08x, expected 0" % exstyle)
    if (x, y, cx, cy) != (0, 0, 300, 228):
        fail("dialog rectangle %r, expected (0, 0, 300, 228)" % ((x, y, cx, cy),))
    p = 26
    menu, p = read_sz_or_ord(dialog, p)
    wclass, p = read_sz_or_ord(dialog, p)
    title, p = read_sz(dialog, p)
    if menu not in (0, ""):
        fail("dialog has a menu %r" % (menu,))
    if wclass not in (0, ""):
        fail("dialog has a window class %r" % (wclass,))
    if title != "SORVANTIK Firmware Updater":
        fail("dialog caption %r" % title)
    points, weight, italic, charset = struct.unpack_from("<HHBB", dialog, p)
    face, p = read_sz(dialog, p + 6)
    if (points, weight, italic, charset, face) != (8, 400, 0, 0, "MS Shell Dlg"):
        fail("dialog font %r, expected (8, 400, 0, 0, 'MS Shell Dlg')" % ((points, weight, italic, charset, face),))
    if count != len(controls):
        fail("dialog has %d controls, expected %d" % (count, len(controls)))
    names = ("id", "class", "text", "style", "exstyle", "x", "y", "width", "height")
    for index in range(min(count, len(controls))):
        p = align4(p)
        _help, c_exstyle, c_style, c_x, c_y, c_cx, c_cy, c_id = struct.unpack_from("<IIIhhhhI", dialog, p)
        c_class, p = read_sz_or_ord(dialog, p + 24)
        c_text, p = read_sz_or_ord(dialog, p)
        extra = struct.unpack_from("<H", dialog, p)[0]
        p += 2 + extra
        if isinstance(c_class, int):
            c_class = CLASS_ATOMS.get(c_class, "atom 0x%x" % c_class)
        else:
            c_class = c_class.lower()
        got = (c_id, c_class, c_text, c_style, c_exstyle, c_x, c_y, c_cx, c_cy)
        want = controls[index]
        for field, g, w in zip(names, got, want):
            if g != w:
                if field in ("style", "exstyle"):
                    shown = ("0x%08x" % g, "0x%08x" % w)
                elif field == "id":
                    shown = tuple(str(v - (1 << 32) if v >= 0x80000000 else v) for v in (g, w))
                else:
                    shown = (repr(g), repr(w))
                fail("dialog control %d (%s): %s is %s, expected %s" % (index + 1, want[2] or "edit", field, shown[0], shown[1]))
        if extra:
            fail("dialog control %d carries %d bytes of creation data" % (index + 1, extra))


def c_string(literal, where):
    """The value of a C string literal's body, as the resource compiler's wide string."""
    out, i = [], 0
    escapes = {"r": "\r", "n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'"}
    while i < len(literal):
        ch = literal[i]
        if ch == "\\":
            nxt = literal[i + 1:i + 2]
            if nxt not in escapes:
                fail("%s: escape \\%s is not one this check knows; extend it" % (where, nxt))
            out.append(escapes.get(nxt, ""))
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def read_catalogue():
    """messages.def: number -> text."""
    catalogue_text = read_source("messages.def").decode("utf-8")
    catalogue_code = re.sub(r"/\*.*?\*/", "", catalogue_text, flags=re.S)
    catalogue_code = re.sub(r"//[^\n]*", "", catalogue_code)
    messages = {}
    for line_no, line in enumerate(catalogue_code.splitlines(), 1):
        if not line.strip():
            continue
        m = re.fullmatch(r'\s*MESSAGE\(\s*(\d+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\)\s*', line)
        if not m:
            fail("messages.def line %d is not MESSAGE(number, \"text\"): %r" % (line_no, line[:60]))
            continue
        number = int(m.group(1))
        if number in messages:
            fail("messages.def defines %d twice" % number)
        messages[number] = c_string(m.group(2), "message %d" % number)
    return messages


def check_catalogue(resources, ids, messages):
    declared = {v for k, v in ids.items() if k.startswith("IDS_")}
    for number in sorted(declared - set(messages)):
        fail("resource_ids.h declares message %d but messages.def has no text for it" % number)
    for number in sorted(set(messages) - declared):
        fail("messages.def has message %d that resource_ids.h does not name" % number)

    table = {}
    for (rtype, name), (lang, data) in resources.items():
        if rtype != RT_STRING:
            continue
        if lang != GERMAN:
            fail("string table block %d has language %d, expected %d" % (name, lang, GERMAN))
        p = 0
        for k in range(16):
            length = struct.unpack_from("<H", data, p)[0]
            if length:
                table[(name - 1) * 16 + k] = data[p + 2:p + 2 + 2 * length].decode("utf-16-le")
            p += 2 + 2 * length
    for number, text in sorted(messages.items()):
        if number not in table:
            fail("message %d is missing from the string table" % number)
        elif table[number] != text:
            got = table[number]
            at = next((i for i, (a, b) in enumerate(zip(got, text)) if a != b), min(len(got), len(text)))
            fail("message %d differs at character %d: %r, expected %r" % (number, at, got[at:at + 12], text[at:at + 12]))
    for number in sorted(set(table) - set(messages)):
        fail("string table holds %d, which messages.def does not define" % number)


def check_logo(logo):
    size, width, height, planes, bpp, compression = struct.unpack_from("<IiiHHI", logo, 0)
    if (size, width, height, planes, bpp, compression) != (40, 365, 122, 1, 24, 0):
        fail("logo is %dx%d, %d bpp, compression %d, header %d; expected 365x122, 24 bpp, uncompressed"
             % (width, height, bpp, compression, size))
    elif logo != read_source("logo.bmp")[14:]:
        fail("logo bitmap differs from logo.bmp")
    else:
        # The program draws RGB(0,255,0) as transparent: the corner must be that colour, and no
        # other pixel may be greenish, or a halo would show around the artwork.
        stride = align4(width * 3)
        if logo[40:43] != b"\x00\xff\x00":
            fail("logo background (lower left pixel) is not RGB(0,255,0)")
        fringe = 0
        for row in range(height):
            line = logo[40 + row * stride:40 + row * stride + width * 3]
            for col in range(width):
                b, g, r = line[3 * col:3 * col + 3]
                if (r, g, b) != (0, 255, 0) and g > r + 30 and g > b + 30:
                    fringe += 1
        if fringe:
            fail("logo has %d greenish pixels next to the key colour" % fringe)


def check_icon(group, get):
    _reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if kind != 1:
        fail("icon group IDI_APP has type %d, expected 1" % kind)
    entries = []
    for k in range(count):
        w, h, colours, _r, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * k)
        entries.append((w or 256, h or 256, bits))
        image = get(RT_ICON, icon_id, GERMAN, "icon image %d" % icon_id)
        if image is None:
            continue
        if len(image) != size:
            fail("icon image %d has %d bytes, the group says %d" % (icon_id, len(image), size))
        if (w, h) not in [(side, side) for side in ICON_SIDES] or (planes, bits) != (1, 32):
            fail("icon image %d is %dx%d, %d planes, %d bpp; expected 16, 32 or 48 pixels square, 1 plane, 32 bpp"
                 % (icon_id, w, h, planes, bits))
        if image[:4] == b"\x89PNG":
            fail("icon image %d is a PNG; icons keep PNG for 256-pixel images, and this check reads bitmaps" % icon_id)
            continue
        header, iw, ih, _pl, ibits = struct.unpack_from("<IiiHH", image, 0)
        if (iw, ih, ibits) != (w or 256, 2 * (h or 256), bits):
            fail("icon image %d is %dx%d/2 %d bpp, the group says %dx%d %d bpp" % (icon_id, iw, ih, ibits, w, h, bits))
        elif ibits == 32:
            # Windows blends a 32-bit image by its alpha only when some of it is set; an image
            # whose alpha is all 0 is drawn through its mask, with hard edges.
            alpha = image[header + 3:header + 4 * iw * (ih // 2):4]
            if not any(alpha) or all(a == 255 for a in alpha):
                fail("icon image %d carries no alpha (every pixel %s)" % (icon_id, "transparent" if not any(alpha) else "opaque"))
    if count != ICON_IMAGES:
        fail("icon group IDI_APP has %d images, expected %d" % (count, ICON_IMAGES))
    for side in ICON_SIDES:
        if (side, side, 32) not in entries:
            fail("icon group IDI_APP has no 32-bit %dx%d image" % (side, side))
    print("icon group: " + ", ".join("%dx%d %d-bit" % e for e in entries))


def check_manifest(manifest):
    if manifest != read_source("app.manifest"):
        fail("manifest resource differs from app.manifest")
    try:
        root = ET.fromstring(manifest)
        v3 = "{urn:schemas-microsoft-com:asm.v3}"
        level = root.find(".//%srequestedExecutionLevel" % v3)
        if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
            fail('manifest does not request level="asInvoker" uiAccess="false"')
        v1 = "{urn:schemas-microsoft-com:asm.v1}"
        names = [e.get("name") + " " + e.get("version") for e in root.iter(v1 + "assemblyIdentity")]
        if "Microsoft.Windows.Common-Controls 6.0.0.0" not in names:
            fail("manifest does not depend on Common Controls 6.0.0.0")
    except ET.ParseError as e:
        fail("manifest is not well-formed XML: %s" % e)


def version_tree(data, p=0):
    """One node of a VS_VERSIONINFO tree: (key, value, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, p)
    key, q = read_sz(data, p + 6)
    q = align4(q)
    if kind == 1:
        value = data[q:q + 2 * value_length].decode("utf-16-le").rstrip("\0")
        q += 2 * value_length
    else:
        value = data[q:q + value_length]
        q += value_length
    q = align4(q)
    children = []
    while q < p + length:
        child, q = version_tree(data, q)
        children.append(child)
    return (key, value, children), align4(p + length)


def check_version(version):
    (key, fixed, blocks), _ = version_tree(version)
    signature, _sv, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed, 0)
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        fail("version resource is not a VS_VERSION_INFO")
    if (file_ms, file_ls, product_ms, product_ls) != (0x0001000B, 0, 0x0001000B, 0):
        fail("version numbers are not 1.11.0.0")
    strings, translation = {}, None
    for bkey, _bvalue, bchildren in blocks:
        if bkey == "StringFileInfo":
            for table_key, _t, values in bchildren:
                if table_key.upper() != "040704B0":
                    fail("string block %r, expected 040704B0" % table_key)
                strings.update({k: v for k, v, _c in values})
        elif bkey == "VarFileInfo":
            for vkey, vvalue, _c in bchildren:
                if vkey == "Translation":
                    translation = struct.unpack_from("<HH", vvalue, 0)
    want = {
        "CompanyName": "SORVANTIK", "FileDescription": "SORVANTIK VELTABOX Firmware Updater",
        "FileVersion": "1.11", "ProductName": "VELTABOX Firmware Updater", "ProductVersion": "1.11",
        "OriginalFilename": "veltabox-updater.exe", "InternalName": "veltabox-updater",
    }
    for k, v in want.items():
        if strings.get(k) != v:
            fail("version string %s is %r, expected %r" % (k, strings.get(k), v))
    if "SORVANTIK" not in strings.get("LegalCopyright", ""):
        fail("version string LegalCopyright does not name SORVANTIK")
    if translation != (0x0407, 1200):
        fail("version translation %r, expected (0x407, 1200)" % (translation,))


def check(res_path):
    resources = read_res(res_path)

    def get(rtype, name, language, what):
        if (rtype, name) not in resources:
            fail("%s (type %r, id %r) is missing" % (what, rtype, name))
            return None
        lang, data = resources[(rtype, name)]
        if lang != language:
            fail("%s has language %d, expected %d" % (what, lang, language))
        return data

    ids = read_ids()
    controls = expected_controls(ids)
    dialog = get(RT_DIALOG, ids["IDD_MAIN"], GERMAN, "dialog IDD_MAIN")
    if dialog is not None:
        check_dialog(dialog, controls)
    messages = read_catalogue()
    check_catalogue(resources, ids, messages)
    firmware = get(RT_RCDATA, ids["IDR_FIRMWARE"], GERMAN, "firmware image IDR_FIRMWARE")
    if firmware is not None and firmware != read_source("firmware.bin"):
        fail("RCDATA IDR_FIRMWARE differs from firmware.bin (%d bytes)" % len(firmware))
    logo = get(RT_BITMAP, ids["IDB_LOGO"], GERMAN, "logo IDB_LOGO")
    if logo is not None:
        check_logo(logo)
    group = get(RT_GROUP_ICON, ids["IDI_APP"], GERMAN, "icon group IDI_APP")
    if group is not None:
        check_icon(group, get)
    manifest = get(RT_MANIFEST, 1, NEUTRAL, "manifest")
    if manifest is not None:
        check_manifest(manifest)
    version = get(RT_VERSION, 1, GERMAN, "version information")
    if version is not None:
        check_version(version)

    if failures:
        for message in failures:
            print("FAIL: " + message, file=sys.stderr)
        return 1
    print("resources OK: dialog %d with %d controls, %d messages, firmware %d bytes, logo, icon, manifest, version"
          % (ids["IDD_MAIN"], len(controls), len(messages), len(firmware)))
    return 0


def main(argv):
    if len(argv) >= 2:
        return check(argv[1])
    with tempfile.TemporaryDirectory() as work:
        return check(compile_resources(work))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
