#!/usr/bin/python3
"""GDAL's side of the console tool's area-of-interest checks (tests/cli/aoi-test.sh).

aoi-reference.py bands DIR STEM WIDTH HEIGHT EPSG LEFT TOP PIXEL TILE
    B02, B03, B04 as DIR/STEM<band>.jp2: 15-bit lossless JPEG 2000 of TILE x TILE code-stream
    tiles with a GMLJP2 box, random samples (about one in fifty 0).
aoi-reference.py bbox FULL W S E N
    The pixels of FULL's grid that a longitude/latitude box meets: its four edges densified to 21
    points (TransformBounds), snapped outward and clipped: "col row width height" or "none".
aoi-reference.py projwin FULL ULX ULY LRX LRY
    The same for a box in FULL's own coordinates.
aoi-reference.py aoi FULL GEOJSON
    The same for the longitude/latitude bounding box of a GeoJSON file's polygons.
aoi-reference.py compare CROP FULL COL ROW WIDTH HEIGHT [GEOJSON]
    CROP against gdal_translate -srcwin of FULL: its size, its grid (FULL's moved to the window's
    corner, same coordinate system and no-data value) and every sample; with GEOJSON, the
    pixels gdal_rasterize leaves out of its polygons (vertices carried into FULL's zone by
    ogr2ogr) must be 0 in every band, the others FULL's. Prints what differs; exit 1 if anything.
"""
import math
import os
import sys
import tempfile

import numpy as np
from osgeo import gdal, ogr, osr

gdal.UseExceptions()
ogr.UseExceptions()
osr.UseExceptions()


def srs_of(epsg):
    s = osr.SpatialReference()
    s.ImportFromEPSG(epsg)
    s.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return s


def bands(out, stem, width, height, epsg, left, top, pixel, tile):
    width, height, tile = int(width), int(height), int(tile)
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(width * 7919 + height)
    for band in ("B02", "B03", "B04"):
        values = rng.integers(1, 32768, size=(height, width), dtype=np.uint16)
        values[rng.random((height, width)) < 0.02] = 0
        mem = gdal.GetDriverByName("MEM").Create("", width, height, 1, gdal.GDT_UInt16)
        mem.SetGeoTransform((float(left), float(pixel), 0, float(top), 0, -float(pixel)))
        mem.SetProjection(srs_of(int(epsg)).ExportToWkt())
        mem.GetRasterBand(1).WriteArray(values)
        path = os.path.join(out, stem + band + ".jp2")
        gdal.GetDriverByName("JP2OpenJPEG").CreateCopy(path, mem, options=[
            "REVERSIBLE=YES", "QUALITY=100", "GMLJP2=YES", "GeoJP2=NO", "NBITS=15", "RESOLUTIONS=4",
            "BLOCKXSIZE=%d" % tile, "BLOCKYSIZE=%d" % tile])
        if os.path.exists(path + ".aux.xml"):
            os.remove(path + ".aux.xml")


def grid(path):
    ds = gdal.Open(path)
    gt = ds.GetGeoTransform()
    return ds, gt[0], gt[3], gt[1], -gt[5], ds.RasterXSize, ds.RasterYSize


def snap(path, minx, miny, maxx, maxy):
    _, left, top, pw, ph, width, height = grid(path)
    c0 = max(math.floor((minx - left) / pw + 1e-6), 0)
    c1 = min(math.ceil((maxx - left) / pw - 1e-6), width)
    r0 = max(math.floor((top - maxy) / ph + 1e-6), 0)
    r1 = min(math.ceil((top - miny) / ph - 1e-6), height)
    print("%d %d %d %d" % (c0, r0, c1 - c0, r1 - r0) if c0 < c1 and r0 < r1 else "none")


def bbox(path, w, s, e, n):
    ds = gdal.Open(path)
    target = osr.SpatialReference(wkt=ds.GetProjection())
    target.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    ct = osr.CoordinateTransformation(srs_of(4326), target)
    snap(path, *ct.TransformBounds(float(w), float(s), float(e), float(n), 21))


def aoi(path, geojson):
    source = ogr.Open(geojson)
    west, east, south, north = source.GetLayer().GetExtent()
    bbox(path, west, south, east, north)


def projwin(path, ulx, uly, lrx, lry):
    snap(path, float(ulx), float(lry), float(lrx), float(uly))


def compare(crop, full, col, row, width, height, geojson=None):
    col, row, width, height = int(col), int(row), int(width), int(height)
    problems = []
    ds, left, top, pw, ph, w, h = grid(crop)
    fds, fleft, ftop, fpw, fph, _, _ = grid(full)
    if (w, h) != (width, height):
        problems.append("size %d x %d, expected %d x %d" % (w, h, width, height))
    # gdal_translate -srcwin of the full composite: the reference for samples and grid alike.
    ref = gdal.Translate("", fds, format="MEM", srcWin=[col, row, width, height])
    rgt, cgt = ref.GetGeoTransform(), ds.GetGeoTransform()
    if any(abs(a - b) > 1e-6 for a, b in zip(rgt, cgt)):
        problems.append("geotransform %s, gdal_translate -srcwin says %s" % (cgt, rgt))
    if bool(ds.GetProjection()) != bool(fds.GetProjection()) or (ds.GetProjection() and not osr.SpatialReference(
            wkt=ds.GetProjection()).IsSame(osr.SpatialReference(wkt=fds.GetProjection()))):
        problems.append("coordinate system differs from the full composite's")
    if ds.RasterCount != fds.RasterCount:
        problems.append("%d bands, the full composite has %d" % (ds.RasterCount, fds.RasterCount))
    for b in range(1, min(ds.RasterCount, fds.RasterCount) + 1):
        if ds.GetRasterBand(b).GetNoDataValue() != fds.GetRasterBand(b).GetNoDataValue():
            problems.append("band %d: no-data value %s, the full composite's %s" % (
                b, ds.GetRasterBand(b).GetNoDataValue(), fds.GetRasterBand(b).GetNoDataValue()))
    if problems and (w, h) != (width, height):
        print("\n".join(problems))
        return 1
    got = ds.ReadAsArray().astype(np.int64)
    want = ref.ReadAsArray().astype(np.int64)
    inside = None
    if geojson:
        inside = burn(geojson, ref)
        want = want * inside
        print("inside the polygons: %d of %d pixels" % (inside.sum(), inside.size))
    differ = int(np.count_nonzero(got != want))
    if differ:
        problems.append("%d of %d samples differ from gdal_translate -srcwin%s" % (
            differ, want.size, " masked by gdal_rasterize" if geojson else ""))
    print("\n".join(problems) if problems else "same grid and samples as gdal_translate -srcwin")
    return 1 if problems else 0


def burn(geojson, ref):
    wkt = ref.GetProjection()
    with tempfile.TemporaryDirectory() as tmp:
        utm = os.path.join(tmp, "utm.geojson")
        gdal.VectorTranslate(utm, geojson, format="GeoJSON", dstSRS=wkt)
        mask = gdal.GetDriverByName("MEM").Create("", ref.RasterXSize, ref.RasterYSize, 1, gdal.GDT_Byte)
        mask.SetGeoTransform(ref.GetGeoTransform())
        mask.SetProjection(wkt)
        gdal.Rasterize(mask, utm, burnValues=[1])
        return mask.ReadAsArray().astype(np.int64)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "bands":
        bands(*args)
    elif command == "bbox":
        bbox(*args)
    elif command == "aoi":
        aoi(*args)
    elif command == "projwin":
        projwin(*args)
    elif command == "compare":
        return compare(*args)
    else:
        sys.exit("unknown command " + command)
    return 0


sys.exit(main())
