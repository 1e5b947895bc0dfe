"""Dates for the cloud-free benchmark, and the way users write a cloud-free composite.

bench-clouds.py dates TILE-DIR OUT-DIR SIZE DATE...
    Each date becomes a folder of hard links named T33UUP_<date>T101021_B0x.jp2 to one copy of the
    generated tile's bands that carries a GeoJP2 box (the bands cost the same to decode on every
    date), and its own 20 m scene classification, blocks of clouds and clear ground that differ
    from date to date.
bench-clouds.py numpy PRODUCT-DIR...
    GDAL reads every date of make-dates.py's 60 m products into numpy, masked pixels as NaN, and
    np.nanmedian over the dates: how a cloud-free composite is written by hand.
"""
import os
import struct
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
LEFT, TOP = 399960.0, 5800020.0
MASKED = [0, 1, 3, 8, 9, 10]


def srs():
    s = osr.SpatialReference()
    s.ImportFromEPSG(32633)
    return s.ExportToWkt()


def boxes(data):
    at = 0
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if length == 1:
            length = struct.unpack(">Q", data[at + 8:at + 16])[0]
        elif length == 0:
            length = len(data) - at
        yield at, length, kind
        at += length


def geojp2_box(pixel):
    # GDAL writes the box for a small picture; the box holds the grid, not the size.
    mem = gdal.GetDriverByName("MEM").Create("", 16, 16, 1, gdal.GDT_UInt16)
    mem.SetGeoTransform((LEFT, pixel, 0, TOP, 0, -pixel))
    mem.SetProjection(srs())
    path = "/vsimem/geojp2.jp2"
    gdal.GetDriverByName("JP2OpenJPEG").CreateCopy(path, mem, options=["GMLJP2=NO", "GeoJP2=YES"])
    f = gdal.VSIFOpenL(path, "rb")
    gdal.VSIFSeekL(f, 0, 2)
    size = gdal.VSIFTellL(f)
    gdal.VSIFSeekL(f, 0, 0)
    data = gdal.VSIFReadL(1, size, f)
    gdal.VSIFCloseL(f)
    gdal.Unlink(path)
    for at, length, kind in boxes(data):
        if kind == b"uuid":
            return data[at:at + length]
    raise SystemExit("GDAL wrote no GeoJP2 box")


def georeferenced_copy(source, target, box):
    with open(source, "rb") as f:
        head = f.read(1 << 20)
    for at, length, kind in boxes(head):
        if kind == b"jp2c":
            break
    else:
        raise SystemExit(f"no codestream box near the start of {source}")
    with open(source, "rb") as f, open(target + ".part", "wb") as out:
        out.write(f.read(at))
        out.write(box)
        while True:
            chunk = f.read(16 << 20)
            if not chunk:
                break
            out.write(chunk)
    os.replace(target + ".part", target)


def dates(tile_dir, out, size, days):
    stem = "T33UUP_20250101T101021_"
    box = geojp2_box(10.0 * 10980 / size)
    os.makedirs(os.path.join(out, "bands"), exist_ok=True)
    for band in ("B02", "B03", "B04"):
        copy = os.path.join(out, "bands", f"{band}.jp2")
        if not os.path.exists(copy):
            georeferenced_copy(os.path.join(tile_dir, f"{stem}{band}.jp2"), copy, box)
    scl_size = size // 2
    rng = np.random.default_rng(len(days))
    for k, day in enumerate(days):
        folder = os.path.join(out, day)
        os.makedirs(folder, exist_ok=True)
        for band in ("B02", "B03", "B04"):
            # Hard links: the tool takes band files that resolve to one file as one date, as it
            # takes a job reached twice, so symbolic links would make five dates one.
            link = os.path.join(folder, f"T33UUP_{day}T101021_{band}.jp2")
            if os.path.islink(link):
                os.remove(link)
            if not os.path.lexists(link):
                os.link(os.path.join(out, "bands", f"{band}.jp2"), link)
        scl = os.path.join(folder, f"T33UUP_{day}T101021_SCL_20m.jp2")
        if os.path.exists(scl):
            continue
        # Blocks of 64 x 64 classes: a third cloudy, as a cloudy season is.
        blocks = rng.choice(np.array([4, 5, 6, 8, 9, 3, 10], dtype=np.uint8), size=(scl_size // 64 + 1,) * 2,
                            p=[0.35, 0.2, 0.1, 0.15, 0.1, 0.05, 0.05])
        classes = np.kron(blocks, np.ones((64, 64), dtype=np.uint8))[:scl_size, :scl_size]
        mem = gdal.GetDriverByName("MEM").Create("", scl_size, scl_size, 1, gdal.GDT_Byte)
        mem.SetGeoTransform((LEFT, 20.0 * 10980 / size, 0, TOP, 0, -20.0 * 10980 / size))
        mem.SetProjection(srs())
        mem.GetRasterBand(1).WriteArray(classes)
        gdal.GetDriverByName("JP2OpenJPEG").CreateCopy(scl + ".part.jp2", mem, options=[
            "REVERSIBLE=YES", "QUALITY=100", "BLOCKXSIZE=640", "BLOCKYSIZE=640", "RESOLUTIONS=5"])
        os.replace(scl + ".part.jp2", scl)
        if os.path.exists(scl + ".part.jp2.aux.xml"):
            os.remove(scl + ".part.jp2.aux.xml")


def numpy_median(products):
    import glob
    stack = []
    for product in products:
        red = glob.glob(os.path.join(product, "GRANULE", "*", "IMG_DATA", "R60m", "*_B04_60m.jp2"))[0]
        ds = gdal.Open(red)
        gt, cols, rows = ds.GetGeoTransform(), ds.RasterXSize, ds.RasterYSize
        rgb = np.stack([gdal.Open(red.replace("_B04_", f"_{b}_")).ReadAsArray().astype(np.float32)
                        for b in ("B04", "B03", "B02")])
        scl_file = glob.glob(os.path.join(product, "GRANULE", "*", "IMG_DATA", "R20m", "*_SCL_20m.jp2"))[0]
        scl = gdal.Warp("", scl_file, format="MEM", resampleAlg="near", overviewLevel="NONE",
                        outputBounds=(gt[0], gt[3] + rows * gt[5], gt[0] + cols * gt[1], gt[3]),
                        xRes=gt[1], yRes=-gt[5]).ReadAsArray()
        rgb[:, np.isin(scl, MASKED) | np.any(rgb == 0, axis=0)] = np.nan
        stack.append(rgb)
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # all-NaN pixels
        median = np.nanmedian(np.stack(stack), axis=0)
    print("pixels without a clear date:", int(np.isnan(median[0]).sum()))


if __name__ == "__main__":
    if sys.argv[1] == "dates":
        dates(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5:])
    else:
        numpy_median(sys.argv[2:])
