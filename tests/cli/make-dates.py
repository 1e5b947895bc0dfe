"""Generated L2A products of one tile on several dates, for the cloud tests and the benchmark.

make-dates.py OUT TILE SIZE DATE...   e.g. make-dates.py /tmp/d T29UNU 183 20220905 20221005
Each date becomes OUT/S2A_MSIL2A_<date>T115411_..._<tile>_....SAFE with the 60 m bands B02, B03,
B04 (SIZE x SIZE, lossless, 15-bit values, about one sample in fifty 0) and the 20 m scene
classification (3 x SIZE square) on the tile's UTM grid, as GDAL writes JPEG 2000 with a GMLJP2
box. The classes are drawn so that every number of clear dates occurs.
SIZE above 2000 writes the 10 m bands instead (a full tile is 10980), tiled as ESA tiles them.
"""
import os
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
out, tile, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
dates = sys.argv[4:]
full = size > 2000
metres = 10 if full else 60
block = 1024 if full else 128
zone = int(tile[1:3])
srs = osr.SpatialReference()
srs.ImportFromEPSG(32600 + zone)
left, top = 499980.0, 5900040.0
rng = np.random.default_rng(int(tile[1:3]) * 7 + len(dates))


def write(path, array, pixel, tile_size):
    rows, cols = array.shape
    mem = gdal.GetDriverByName("MEM").Create("", cols, rows, 1,
                                             gdal.GDT_UInt16 if array.dtype == np.uint16 else gdal.GDT_Byte)
    mem.SetGeoTransform((left, pixel, 0, top, 0, -pixel))
    mem.SetProjection(srs.ExportToWkt())
    mem.GetRasterBand(1).WriteArray(array)
    options = ["REVERSIBLE=YES", "QUALITY=100", "GMLJP2=YES", "GeoJP2=NO", "RESOLUTIONS=5",
               f"BLOCKXSIZE={tile_size}", f"BLOCKYSIZE={tile_size}"]
    if array.dtype == np.uint16:
        options.append("NBITS=15")
    gdal.GetDriverByName("JP2OpenJPEG").CreateCopy(path, mem, options=options)


for date in dates:
    stamp = f"{date}T115411"
    safe = os.path.join(out, f"S2A_MSIL2A_{stamp}_N0400_R023_{tile}_{date}T164454.SAFE")
    granule = os.path.join(safe, "GRANULE", f"L2A_{tile}_A038058_{stamp}")
    bands = os.path.join(granule, "IMG_DATA", f"R{metres}m")
    classes = os.path.join(granule, "IMG_DATA", "R20m")
    os.makedirs(bands, exist_ok=True)
    os.makedirs(classes, exist_ok=True)
    with open(os.path.join(safe, "MTD_MSIL2A.xml"), "w") as f:
        f.write('<?xml version="1.0"?>\n<n1:Level-2A_User_Product/>\n')
    for band in ("B02", "B03", "B04"):
        values = rng.integers(1, 1 << 15, size=(size, size), dtype=np.uint16)
        values[rng.random((size, size)) < 0.02] = 0
        write(os.path.join(bands, f"{tile}_{stamp}_{band}_{metres}m.jp2"), values, metres, block)
    scl_size = size * metres // 20
    # About half the pixels clear (vegetation, water), the rest cloud, shadow, cirrus or snow.
    scl = rng.choice(np.array([4, 6, 8, 9, 3, 10, 11], dtype=np.uint8), size=(scl_size, scl_size),
                     p=[0.3, 0.2, 0.15, 0.1, 0.1, 0.1, 0.05])
    write(os.path.join(classes, f"{tile}_{stamp}_SCL_20m.jp2"), scl, 20, min(640, scl_size))
