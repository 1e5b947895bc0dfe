#!/usr/bin/python3
"""gdal_references.py OUT REAL-DATA AREAS: GDAL's answers for the area-of-interest tests, made
natively before they run, so that the Windows build under Wine compares with the same answers.

  OUT/window-NAME.txt  for each grid: a first line "grid EPSG LEFT TOP PIXEL WIDTH HEIGHT", then
                       one line a box about six pixels wide around a corner, an edge's middle,
                       the centre or a place beyond the tile, tab-separated: its name, "W S E N"
                       in degrees, GDAL's TransformBounds of it densified to 21 points per edge
                       ("minx miny maxx maxy") and the pixels it meets, snapped outward and
                       clipped ("col row width height"), or "none".
  OUT/NAME.geojson     each area of AREAS, and OUT/NAME.bin its gdal_rasterize burn on the whole
                       polygon grid (bytes, 1 inside, 0 outside, row by row), the vertices first
                       carried into the grid's zone by ogr2ogr.
The real tiles' grids are skipped (with a note) when REAL-DATA does not hold them."""
import math
import os
import shutil
import sys

from osgeo import gdal, ogr, osr

gdal.UseExceptions()
osr.UseExceptions()
ogr.UseExceptions()

# The polygon grid: T29UNU's zone at 60 m, 1830 x 1830 pixels.
POLYGON_GRID = (32629, 499980.0, 6000000.0, 60.0, 1830, 1830)


def srs(epsg):
    s = osr.SpatialReference()
    s.ImportFromEPSG(epsg)
    s.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return s


def window(minx, miny, maxx, maxy, left, top, pixel, width, height):
    c0 = max(math.floor((minx - left) / pixel + 1e-6), 0)
    c1 = min(math.ceil((maxx - left) / pixel - 1e-6), width)
    r0 = max(math.floor((top - maxy) / pixel + 1e-6), 0)
    r1 = min(math.ceil((top - miny) / pixel - 1e-6), height)
    return "%d %d %d %d" % (c0, r0, c1 - c0, r1 - r0) if c0 < c1 and r0 < r1 else "none"


def windows(path, epsg, left, top, pixel, width, height):
    to_lonlat = osr.CoordinateTransformation(srs(epsg), srs(4326))
    to_utm = osr.CoordinateTransformation(srs(4326), srs(epsg))
    w, h = float(width), float(height)
    places = [("north-west corner", 0, 0), ("north-east corner", w, 0), ("south-west corner", 0, h),
              ("south-east corner", w, h), ("north edge", w / 2, 0), ("east edge", w, h / 3),
              ("centre", w / 2, h / 2), ("west of the tile", -w / 3, h / 2), ("south of the tile", w / 2, 1.5 * h)]
    with open(path, "w") as out:
        out.write("grid %d %.17g %.17g %.17g %d %d\n" % (epsg, left, top, pixel, width, height))
        for name, col, row in places:
            corners = [to_lonlat.TransformPoint(left + c * pixel, top - r * pixel)[:2]
                       for c, r in ((col - 3, row + 3), (col + 3, row - 3))]
            wb, eb = min(p[0] for p in corners), max(p[0] for p in corners)
            sb, nb = min(p[1] for p in corners), max(p[1] for p in corners)
            minx, miny, maxx, maxy = to_utm.TransformBounds(wb, sb, eb, nb, 21)
            out.write("%s\t%.17g %.17g %.17g %.17g\t%.6f %.6f %.6f %.6f\t%s\n" % (
                name, wb, sb, eb, nb, minx, miny, maxx, maxy,
                window(minx, miny, maxx, maxy, left, top, pixel, width, height)))


def real_grid(real, folder, band):
    path = os.path.join(real, folder, band)
    if not os.path.exists(path):
        print("note: %s absent, its grid skipped" % path)
        return None
    ds = gdal.Open(path)
    gt = ds.GetGeoTransform()
    ref = osr.SpatialReference(wkt=ds.GetProjection())
    ref.AutoIdentifyEPSG()
    return int(ref.GetAuthorityCode(None)), gt[0], gt[3], gt[1], ds.RasterXSize, ds.RasterYSize


def burn(area, out_dir):
    epsg, left, top, pixel, width, height = POLYGON_GRID
    name = os.path.splitext(os.path.basename(area))[0]
    shutil.copyfile(area, os.path.join(out_dir, name + ".geojson"))
    utm = os.path.join(out_dir, name + "-utm.geojson")
    gdal.VectorTranslate(utm, area, format="GeoJSON", dstSRS="EPSG:%d" % epsg)
    target = gdal.GetDriverByName("MEM").Create("", width, height, 1, gdal.GDT_Byte)
    target.SetGeoTransform((left, pixel, 0, top, 0, -pixel))
    target.SetProjection(srs(epsg).ExportToWkt())
    gdal.Rasterize(target, utm, burnValues=[1])
    with open(os.path.join(out_dir, name + ".bin"), "wb") as out:
        out.write(target.ReadRaster())
    os.remove(utm)


def main():
    out_dir, real, areas = sys.argv[1:4]
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    north = real_grid(real, "l2a_T29UNU_20221005_unmodified", "T29UNU_20221005T115411_B04_60m.jp2")
    if north:
        windows(os.path.join(out_dir, "window-T29UNU-60m.txt"), *north)
        # The same tile at --reduce 2: pixels of 240 m, sizes rounded up.
        epsg, left, top, pixel, width, height = north
        windows(os.path.join(out_dir, "window-T29UNU-240m.txt"), epsg, left, top, pixel * 4, (width + 3) // 4,
                (height + 3) // 4)
    south = real_grid(real, "l2a_T22HBD_20210122_R10m_downsampled_100px", "T22HBD_20210122T133229_B04_10m.jp2")
    if south:
        windows(os.path.join(out_dir, "window-T22HBD.txt"), *south)
    windows(os.path.join(out_dir, "window-odd.txt"), 32633, 399960.0, 5300040.0, 37.0, 1001, 777)
    for area in sorted(os.listdir(areas)):
        burn(os.path.join(areas, area), out_dir)


main()
