#!/usr/bin/env python3
"""Writes the file-type corpus (samples/filetype/): small files of every CAD format the library
recognises, their variants and the awkward cases. Every byte is made here; the files are committed
so that the tests, the tour and docs/filetype.md work on the same inputs.

usage: tools/gen/filetype_corpus.py [OUTPUT_DIR]
"""
import os
import random
import sys


def iges_record(text, section, number):
    """One 80-column IGES record: 72 columns of text, the section letter, a 7-digit sequence."""
    assert len(text) <= 72
    return "%-72s%s%07d" % (text, section, number)


def iges(eol):
    records = [
        iges_record("Part made by the Tesmar test corpus.", "S", 1),
        iges_record("1H,,1H;,4Hpart,8Hpart.igs,6HTesmar,3H8.0,32,38,6,308,15,4Hpart,1.,2,", "G", 1),
        iges_record("2HMM,1,0.01,15H20260101.000000,0.001,100.,6HTesmar,6HTesmar,11,0;", "G", 2),
        iges_record("     110       1       0       0       0       0       0       000000000", "D", 1),
        iges_record("     110       0       0       1       0                               0", "D", 2),
        iges_record("110,0.,0.,0.,10.,0.,0.;                                                1", "P", 1),
        "S0000001G0000002D0000002P0000001" + " " * 40 + "T0000001",
    ]
    return (eol.join(records) + eol).encode("ascii")


def step(schemas, truncated=False):
    names = ",".join("'%s'" % s for s in schemas)
    text = (
        "ISO-10303-21;\n"
        "HEADER;\n"
        "FILE_DESCRIPTION(('a part from the test corpus'),'2;1');\n"
        "FILE_NAME('part.stp','2026-01-01T00:00:00',('Tesmar'),(''),'','','');\n"
    )
    if truncated:
        return (text + "FILE_SCHEMA(('AUTOMOTIVE_DESIGN',").encode("ascii")
    text += "FILE_SCHEMA((%s));\nENDSEC;\nDATA;\n#1=CARTESIAN_POINT('',(0.,0.,0.));\nENDSEC;\n" % names
    text += "END-ISO-10303-21;\n"
    return text.encode("ascii")


def dxf(eol, comment=False):
    lines = ["999", "written for the Tesmar test corpus"] if comment else []
    lines += ["  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", "AC1015", "  0",
              "ENDSEC", "  0", "EOF"]
    return (eol.join(lines) + eol).encode("ascii")


def binary_tail(seed, size):
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(size))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "filetype")
    os.makedirs(out, exist_ok=True)
    files = {}
    files["iges_crlf.igs"] = iges("\r\n")
    files["iges_lf.igs"] = iges("\n")
    files["iges_no_line_ends.igs"] = iges("")
    first = iges_record("Compressed part.", "C", 1)
    files["iges_compressed.igs"] = (first + "\n" + "1H,,1H;,4Hpart;\n").encode("ascii")
    first = iges_record("Compressed part, lower-case letter.", "c", 1)
    files["iges_compressed_lower.igs"] = (first + "\n" + "1H,,1H;,4Hpart;\n").encode("ascii")
    files["iges_binary.igb"] = iges_record("Binary part.", "B", 1).encode("ascii") + binary_tail(1, 400)
    files["step_one_schema.stp"] = step(["AUTOMOTIVE_DESIGN"])
    files["step_two_schemas.stp"] = step(["CONFIG_CONTROL_DESIGN", "AUTOMOTIVE_DESIGN"])
    files["step_six_schemas.stp"] = step(["SCHEMA_%d" % i for i in range(1, 7)])
    files["step_truncated.stp"] = step([], truncated=True)
    files["ap242.xml"] = (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<Uos xmlns="urn:example:AP242/BO/Model/XML/Assembly">\n'
        '  <Header><Name>part</Name></Header>\n'
        '</Uos>\n').encode("ascii")
    files["dxf_lf.dxf"] = dxf("\n")
    files["dxf_crlf.dxf"] = dxf("\r\n")
    files["dxf_comment.dxf"] = dxf("\n", comment=True)
    files["dxf_binary.dxf"] = b"AutoCAD Binary DXF\r\n\x1a\x00" + binary_tail(2, 300)
    files["dwg_ac1015.dwg"] = b"AC1015" + b"\x00\x00\x00\x00\x00\x0f\x01" + binary_tail(3, 500)
    files["dwg_ac1032.dwg"] = b"AC1032" + b"\x00\x00\x00\x00\x00\x29\x03" + binary_tail(4, 500)
    files["acis_text.sat"] = (
        "700 0 1 0 \n"
        "@6 Tesmar 12 ACIS 7.0 NT 24 Thu Jan 01 00:00:00 2026 \n"
        "1 9.9999999999999995e-007 1e-010 \n"
        "body $-1 -1 $-1 $1 $-1 $-1 #\n"
        "End-of-ACIS-data \n").encode("ascii")
    files["acis_binary.sab"] = b"ACIS BinaryFile" + b"\x04\x15\x00\x00\x00" + binary_tail(5, 300)
    vdafs_first = "%-72s%s" % ("VDAFS    = HEADER / 20", "00000010")
    files["vdafs.vda"] = (vdafs_first + "\r\n" +
                          "%-72s%s" % ("AUTHOR   : Tesmar test corpus", "00000020") + "\r\n" +
                          "%-72s%s" % ("P1       = POINT / 0., 0., 0.", "00000030") + "\r\n" +
                          "%-72s%s" % ("END      = VDAFS", "00000040") + "\r\n").encode("ascii")
    files["model.txt"] = (
        "BEGIN_MODEL 1 TESMAR_PARTS 3 2\n"
        "#1 = point(1.0, 2.0, 3.0);\n"
        "#2 = line(1:1, NULL);\n"
        "END_MODEL 1\n").encode("ascii")
    files["empty.bin"] = b""
    files["random.bin"] = binary_tail(6, 4096)
    files["plain_text.txt"] = (
        "Notes about the parts of the bracket assembly.\n"
        "The holes are drilled after the part is bent.\n").encode("ascii")
    # Tokens are cut at 119 characters: a name that ends at character 119 is seen whole, one that
    # ends at character 120 is not.
    files["token_119.txt"] = ("x" * 114 + "VDAFS\n").encode("ascii")
    files["token_120.txt"] = ("x" * 115 + "VDAFS\n").encode("ascii")
    # A comment hides what it holds, up to the end of the file when it is never closed.
    files["comment_closed.txt"] = b"/* ISO-10303-21; */\nnotes\n"
    files["comment_unterminated.txt"] = b"notes /* ISO-10303-21;\nBEGIN_MODEL 1 X 1 1\n"
    # A quoted token the file ends inside is incomplete.
    files["quote_closed.txt"] = b"notes 'VDAFS'\n"
    files["quote_unterminated.txt"] = b"notes 'VDAFS"
    for name, data in sorted(files.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
