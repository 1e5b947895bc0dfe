#!/usr/bin/env python3
"""with-gml.py BAND EPSG X Y PIXEL [--past-the-end]: puts a GML grid (as ESA writes it, in an
association box before the codestream) into a JPEG 2000 band file: EPSG code, centre of the first
pixel, pixel size. PIXEL is written as given, so that a test can say 1e308. --past-the-end: the
box's length runs past the end of the file, as in a damaged file."""
import struct
import sys

path, epsg, x, y, pixel = sys.argv[1:6]
gml = (
    "<?xml version='1.0'?><gml:FeatureCollection xmlns:gml=\"http://www.opengis.net/gml\">"
    "<gml:featureMember><gml:RectifiedGridCoverage><gml:rectifiedGridDomain><gml:RectifiedGrid dimension=\"2\">"
    f"<gml:origin><gml:Point gml:id=\"P1\" srsName=\"urn:ogc:def:crs:EPSG::{epsg}\"><gml:pos>{x} {y}</gml:pos>"
    f"</gml:Point></gml:origin><gml:offsetVector>{pixel} 0</gml:offsetVector><gml:offsetVector>0 -{pixel}</gml:offsetVector>"
    "</gml:RectifiedGrid></gml:rectifiedGridDomain></gml:RectifiedGridCoverage></gml:featureMember></gml:FeatureCollection>"
).encode()


def box(kind, content):
    return struct.pack(">I", len(content) + 8) + kind + content


asoc = box(b"asoc", box(b"lbl ", b"gml.data") + box(b"asoc", box(b"lbl ", b"gml.root-instance") + box(b"xml ", gml)))
if "--past-the-end" in sys.argv[6:]:
    asoc = struct.pack(">I", 0x7FFFFFFF) + asoc[4:]
data = open(path, "rb").read()
at = 0
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at:at + 8])
    if kind == b"jp2c":
        break
    if length == 1:
        length = struct.unpack(">Q", data[at + 8:at + 16])[0]
    at += length
else:
    sys.exit(f"{path}: no codestream box")
open(path, "wb").write(data[:at] + asoc + data[at:])
