#!/usr/bin/python3
# GDAL's answer for a longitude/latitude box on a UTM grid: the box's bounds in the zone
# (TransformBounds, densified to 21 points per edge) and the pixels they meet, snapped outward
# and clipped to the grid. Arguments: epsg left top pixel width height W S E N.
# Prints "minx miny maxx maxy" and then "col row width height" or "none".
import math
import sys
from osgeo import osr

osr.UseExceptions()
epsg, left, top, pixel, width, height, w, s, e, n = sys.argv[1:]
src = osr.SpatialReference()
src.ImportFromEPSG(4326)
src.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
dst = osr.SpatialReference()
dst.ImportFromEPSG(int(epsg))
dst.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
ct = osr.CoordinateTransformation(src, dst)
minx, miny, maxx, maxy = ct.TransformBounds(float(w), float(s), float(e), float(n), 21)
print("%.6f %.6f %.6f %.6f" % (minx, miny, maxx, maxy))
left, top, pixel, width, height = float(left), float(top), float(pixel), int(width), int(height)
c0 = max(math.floor((minx - left) / pixel + 1e-6), 0)
c1 = min(math.ceil((maxx - left) / pixel - 1e-6), width)
r0 = max(math.floor((top - maxy) / pixel + 1e-6), 0)
r1 = min(math.ceil((top - miny) / pixel - 1e-6), height)
print("%d %d %d %d" % (c0, r0, c1 - c0, r1 - r0) if c0 < c1 and r0 < r1 else "none")
