#!/usr/bin/env python3
"""Turns a language's .strings file into the module's string table: a Windows
resource script (STRINGTABLE) and a C++ table for the POSIX build."""
import argparse
import re
import sys

LINE = re.compile(r'^(\d+)\s+"(.*)"\s*$')


def parse(path):
    texts = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            m = LINE.match(line)
            if not m:
                sys.exit(f"{path}:{number}: expected: ID \"TEXT\"")
            texts.append((int(m.group(1)), unescape(m.group(2), path, number)))
    ids = [i for i, _ in texts]
    if len(ids) != len(set(ids)):
        sys.exit(f"{path}: an id appears twice")
    return sorted(texts)


def unescape(text, path, number):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            mapping = {"n": "\n", '"': '"', "\\": "\\", "t": "\t"}
            if n not in mapping:
                sys.exit(f"{path}:{number}: unknown escape \\{n}")
            out.append(mapping[n])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def units(text):
    data = text.encode("utf-16-le")
    return [int.from_bytes(data[k:k + 2], "little") for k in range(0, len(data), 2)]


def rc_literal(text):
    parts = []
    for u in units(text):
        if u == 0x22:
            parts.append('""')
        elif u == 0x5C:
            parts.append("\\\\")
        elif u == 0x0A:
            parts.append("\\n")
        elif 0x20 <= u < 0x7F:
            parts.append(chr(u))
        else:
            parts.append("\\x%04x" % u)
    return 'L"' + "".join(parts) + '"'


def cc_literal(text):
    parts = []
    for u in units(text):
        if u == 0x22:
            parts.append('\\"')
        elif u == 0x5C:
            parts.append("\\\\")
        elif u == 0x0A:
            parts.append("\\n")
        elif 0x20 <= u < 0x7F and chr(u) != "?":
            parts.append(chr(u))
        else:
            parts.append('\\x%04x""' % u)
    return 'u"' + "".join(parts) + '"'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("--rc")
    ap.add_argument("--cc")
    ap.add_argument("--symbol", default="kStringTable")
    ap.add_argument("--export", action="store_true",
                    help="give the C++ table C linkage and default visibility (language libraries)")
    args = ap.parse_args()
    texts = parse(args.input)
    if args.rc:
        with open(args.rc, "w", encoding="ascii", newline="\n") as f:
            f.write("// Generated from %s; do not edit.\nSTRINGTABLE\nBEGIN\n" % args.input.split("/")[-1])
            for i, t in texts:
                f.write("  %d %s\n" % (i, rc_literal(t)))
            f.write("END\n")
    if args.cc:
        with open(args.cc, "w", encoding="ascii", newline="\n") as f:
            f.write("// Generated from %s; do not edit.\n" % args.input.split("/")[-1])
            f.write('#include "platform/resources.h"\n\n')
            f.write("static const platform::StringTableEntry kEntries[] = {\n")
            for i, t in texts:
                f.write("    {%d, %s},\n" % (i, cc_literal(t)))
            f.write("};\n\n")
            table = ("extern const platform::StringTable %s = {kEntries, sizeof(kEntries) / sizeof(kEntries[0])};\n"
                     % args.symbol)
            if args.export:
                f.write('extern "C" {\n__attribute__((visibility("default"))) ' + table + "}\n")
            else:
                f.write(table)


if __name__ == "__main__":
    main()
