#!/usr/bin/env python3
"""gen_resource_tables.py - C++ tables of the console port's resources.

Usage: gen_resource_tables.py RC_FILE RESOURCE_H OUTPUT_CPP

Reads the resource script (UTF-8) and the identifier header, and writes the
dialog templates (caption, system menu, each control's kind, ID, text,
visibility and position), the string table and the icon IDs as C++ data for
resource_tables.h. The Windows build links the same script with windres, so
both ports show the same texts.

Understands the subset of the resource language that resource scripts of
dialog applications use: DIALOG/DIALOGEX with STYLE, EXSTYLE, CAPTION, FONT;
the control statements LTEXT, RTEXT, CTEXT, PUSHBUTTON, DEFPUSHBUTTON,
GROUPBOX, EDITTEXT, ICON and CONTROL; STRINGTABLE; ICON and BITMAP resources.
Anything it does not understand inside a dialog or string table is an error,
so a change to the script never goes silently missing from the console port.
"""

import re
import sys

# The identifiers <winres.h> gives every script.
WINRES_IDS = {"IDOK": 1, "IDCANCEL": 2, "IDABORT": 3, "IDRETRY": 4, "IDIGNORE": 5,
              "IDYES": 6, "IDNO": 7, "IDCLOSE": 8, "IDHELP": 9, "IDC_STATIC": -1}

TEXT_STATEMENTS = {"LTEXT": "Static", "RTEXT": "Static", "CTEXT": "Static",
                   "PUSHBUTTON": "Button", "DEFPUSHBUTTON": "Button", "GROUPBOX": "Static"}
NO_TEXT_STATEMENTS = {"EDITTEXT": "Edit"}


class RcError(Exception):
    pass


def read_ids(header_text):
    """Values of the #defines of an identifier header (decimal or hex)."""
    ids = dict(WINRES_IDS)
    for m in re.finditer(r"^\s*#\s*define\s+(\w+)\s+(0[xX][0-9a-fA-F]+|\d+)\b", header_text, re.M):
        ids[m.group(1)] = int(m.group(2), 0)
    return ids


def strip_comments(text):
    """The script without // and /* */ comments; string literals are kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            j = i + 1
            while j < n:
                if text[j] == '"' and j + 1 < n and text[j + 1] == '"':
                    j += 2
                elif text[j] == '\\' and j + 1 < n:
                    j += 2
                elif text[j] == '"' or text[j] == '\n':
                    break
                else:
                    j += 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            while i < n and text[i] != '\n':
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise RcError("unterminated /* comment")
            out.append("\n" * text.count("\n", i, end))
            i = end + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", '"': '"'}


def decode_string(literal):
    """The text of a resource string literal: "" is a quote, \\ escapes as in C."""
    if len(literal) < 2 or literal[0] != '"' or literal[-1] != '"':
        raise RcError(f"not a string literal: {literal}")
    body, out, i = literal[1:-1], [], 0
    while i < len(body):
        c = body[i]
        if c == '"':
            if body[i + 1:i + 2] != '"':
                raise RcError(f"stray quote in {literal}")
            out.append('"')
            i += 2
        elif c == '\\':
            e = body[i + 1:i + 2]
            if e in ESCAPES:
                out.append(ESCAPES[e])
                i += 2
            elif e in ("x", "X"):
                m = re.match(r"[0-9a-fA-F]{1,4}", body[i + 2:])
                if not m:
                    raise RcError(f"bad \\x escape in {literal}")
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
            else:
                raise RcError(f"unknown escape \\{e} in {literal}")
        else:
            out.append(c)
            i += 1
    return "".join(out)


def split_args(text):
    """Comma-separated arguments, commas inside string literals kept."""
    args, cur, in_str, i = [], [], False, 0
    while i < len(text):
        c = text[i]
        if in_str:
            cur.append(c)
            if c == '"' and text[i + 1:i + 2] == '"':
                cur.append('"')
                i += 1
            elif c == '\\' and i + 1 < len(text):
                cur.append(text[i + 1])
                i += 1
            elif c == '"':
                in_str = False
        elif c == '"':
            in_str = True
            cur.append(c)
        elif c == ',':
            args.append("".join(cur).strip())
            cur = []
        else:
            cur.append(c)
        i += 1
    if in_str:
        raise RcError(f"unterminated string in: {text}")
    args.append("".join(cur).strip())
    return args


def logical_lines(text):
    """Lines of the script, with statements continued after a trailing , or | joined."""
    lines, pending = [], ""
    for raw in text.split("\n"):
        line = raw.strip()
        if not line and not pending:
            continue
        pending = f"{pending} {line}".strip() if pending else line
        if pending.endswith((",", "|")):
            continue
        lines.append(pending)
        pending = ""
    if pending:
        lines.append(pending)
    return lines


class Resolver:
    def __init__(self, ids):
        self.ids = ids

    def number(self, token):
        token = token.strip()
        if re.fullmatch(r"-?(0[xX][0-9a-fA-F]+|\d+)[lL]?", token):
            return int(token.rstrip("lL"), 0)
        if token in self.ids:
            return self.ids[token]
        raise RcError(f"unknown identifier {token}")


def style_words(expr):
    """The style names of a style expression, and those written after NOT."""
    words, negated, negate = set(), set(), False
    for token in re.split(r"[\s|]+", expr.strip()):
        if not token:
            continue
        if token == "NOT":
            negate = True
            continue
        (negated if negate else words).add(token)
        negate = False
    return words, negated


def make_control(kind, cid, text, styles, rect, resolver):
    words, negated = styles
    return {"kind": kind, "id": resolver.number(cid), "text": text,
            "visible": "WS_VISIBLE" not in negated,
            "no_prefix": "SS_NOPREFIX" in words,
            "rect": [resolver.number(v) for v in rect]}


def parse_control(line, resolver):
    m = re.match(r"(\w+)\s+(.*)$", line)
    if not m:
        raise RcError(f"bad control statement: {line}")
    keyword, args = m.group(1).upper(), split_args(m.group(2))
    if keyword in TEXT_STATEMENTS:
        if len(args) < 6:
            raise RcError(f"too few arguments: {line}")
        kind = "Button" if TEXT_STATEMENTS[keyword] == "Button" else "Text"
        return make_control(kind, args[1], decode_string(args[0]),
                            style_words(args[6] if len(args) > 6 else ""), args[2:6], resolver)
    if keyword in NO_TEXT_STATEMENTS:
        if len(args) < 5:
            raise RcError(f"too few arguments: {line}")
        return make_control("Edit", args[0], "", style_words(args[5] if len(args) > 5 else ""),
                            args[1:5], resolver)
    if keyword == "ICON":
        rect = (args[2:6] + ["0", "0"])[:4]
        return make_control("Image", args[1], "", style_words(args[6] if len(args) > 6 else ""),
                            rect, resolver)
    if keyword == "CONTROL":
        if len(args) < 8:
            raise RcError(f"too few arguments: {line}")
        cls = decode_string(args[2]).lower()
        styles = style_words(args[3])
        if cls == "static" and styles[0] & {"SS_ICON", "SS_BITMAP"}:
            kind = "Image"
        else:
            kind = {"static": "Text", "button": "Button", "edit": "Edit"}.get(cls, "Other")
        text = decode_string(args[0]) if args[0].startswith('"') else ""
        return make_control(kind, args[1], text, styles, args[4:8], resolver)
    raise RcError(f"control statement not supported: {keyword}")


def parse(rc_text, ids):
    resolver = Resolver(ids)
    lines = logical_lines(strip_comments(rc_text))
    dialogs, strings, icons = [], [], []
    i = 0

    def block(start):
        """Lines between BEGIN (at or after start) and its END; the index after END."""
        j = start
        while j < len(lines) and lines[j].upper() not in ("BEGIN", "{"):
            j += 1
        if j == len(lines):
            raise RcError("BEGIN missing")
        body, depth, j = [], 1, j + 1
        while j < len(lines):
            word = lines[j].upper()
            if word in ("BEGIN", "{"):
                depth += 1
            elif word in ("END", "}"):
                depth -= 1
                if depth == 0:
                    return body, j + 1
            body.append(lines[j])
            j += 1
        raise RcError("END missing")

    while i < len(lines):
        line = lines[i]
        if line.startswith("#"):
            i += 1
            continue
        words = line.split()
        if len(words) >= 2 and words[1].upper() in ("DIALOG", "DIALOGEX"):
            dialog = {"id": resolver.number(words[0]), "caption": "", "system_menu": False,
                      "controls": []}
            j = i + 1
            while j < len(lines) and lines[j].upper() not in ("BEGIN", "{"):
                attr = lines[j].split(None, 1)
                key = attr[0].upper()
                if key == "CAPTION":
                    dialog["caption"] = decode_string(attr[1].strip())
                elif key == "STYLE":
                    dialog["system_menu"] = "WS_SYSMENU" in style_words(attr[1])[0]
                elif key not in ("EXSTYLE", "FONT", "MENU", "CLASS", "LANGUAGE",
                                 "CHARACTERISTICS", "VERSION"):
                    raise RcError(f"dialog attribute not supported: {lines[j]}")
                j += 1
            body, i = block(j)
            dialog["controls"] = [parse_control(c, resolver) for c in body]
            dialogs.append(dialog)
        elif words[0].upper() == "STRINGTABLE":
            body, i = block(i + 1)
            for entry in body:
                m = re.match(r"([^\s,\"]+)\s*,?\s*(\".*\")$", entry)
                if not m:
                    raise RcError(f"bad string table entry: {entry}")
                strings.append((resolver.number(m.group(1)), decode_string(m.group(2))))
        elif len(words) >= 3 and words[1].upper() == "ICON":
            icons.append(resolver.number(words[0]))
            i += 1
        elif len(words) >= 3 and words[1].upper() == "VERSIONINFO":
            _, i = block(i + 1)
        else:
            i += 1
    return {"dialogs": dialogs, "strings": sorted(strings), "icons": sorted(icons)}


def cpp_string(text):
    """A C++ literal of the UTF-8 bytes of text."""
    out = []
    for byte in text.encode("utf-8"):
        c = chr(byte)
        if c in '"\\?':
            out.append("\\" + c)
        elif byte < 0x20 or byte == 0x7F:
            out.append(f"\\{byte:03o}")
        elif byte < 0x80:
            out.append(c)
        else:
            out.append(f"\\{byte:03o}")
    return '"' + "".join(out) + '"'


def render(tables):
    out = ["// Generated by platform/posix/gen_resource_tables.py from res/Quorvel.rc",
           "// and res/resource.h. Do not edit; change the resource script instead.",
           "",
           '#include "resource_tables.h"',
           "",
           "namespace posix_resources {",
           "",
           "namespace {"]
    for d in tables["dialogs"]:
        out.append(f"const ControlTemplate kControls{d['id']}[] = {{")
        for c in d["controls"]:
            x, y, w, h = c["rect"]
            out.append(f"    {{ControlKind::{c['kind']}, {c['id']}, {cpp_string(c['text'])}, "
                       f"{str(c['visible']).lower()}, {str(c['no_prefix']).lower()}, "
                       f"{{{x}, {y}, {w}, {h}}}}},")
        out.append("};")
    out.append("const DialogTemplate kDialogList[] = {")
    for d in tables["dialogs"]:
        out.append(f"    {{{d['id']}, {cpp_string(d['caption'])}, "
                   f"{str(d['system_menu']).lower()}, kControls{d['id']}, "
                   f"sizeof kControls{d['id']} / sizeof kControls{d['id']}[0]}},")
    out.append("};")
    out.append("const StringResource kStringList[] = {")
    for sid, text in tables["strings"]:
        out.append(f"    {{{sid}, {cpp_string(text)}}},")
    out.append("};")
    icons = ", ".join(str(i) for i in tables["icons"]) or "0"
    out.append(f"const unsigned kIconList[] = {{{icons}}};")
    out += ["}  // namespace",
            "",
            "const Table<DialogTemplate> kDialogs = {kDialogList, "
            "sizeof kDialogList / sizeof kDialogList[0]};",
            "const Table<StringResource> kStrings = {kStringList, "
            "sizeof kStringList / sizeof kStringList[0]};",
            f"const Table<unsigned> kIcons = {{kIconList, {len(tables['icons'])}}};",
            "",
            "}  // namespace posix_resources",
            ""]
    return "\n".join(out)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    rc_path, header_path, out_path = argv[1:]
    try:
        with open(header_path, encoding="utf-8") as f:
            ids = read_ids(f.read())
        with open(rc_path, encoding="utf-8-sig") as f:
            tables = parse(f.read(), ids)
    except (OSError, RcError) as e:
        sys.stderr.write(f"gen_resource_tables.py: {rc_path}: {e}\n")
        return 1
    with open(out_path, "w", encoding="utf-8") as f:
        f.write(render(tables))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
