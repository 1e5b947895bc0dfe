// What the outputs carry besides their samples: the attribution the data's licence asks for
// and, when the three bands agree about where they lie, their georeferencing.
#pragma once
#include <optional>

#include "CompositeJob.h"
#include "Georeference.h"
#include "ImageMetadata.h"

inline const char* const kAttribution = "Contains modified Copernicus Sentinel data";

// The grid of the red band when the green and blue bands have the same size and the same grid;
// nothing when any of them carries none or they disagree. It is the grid of the picture the red
// band loads as: for a subsampled band, pixels the sampling step larger, or nothing when that
// picture cannot be placed exactly.
std::optional<TGridGeoreference> CompositeGrid(const TBandNames& names);

// The attribution, and with a grid the GeoTIFF tags and GDAL's nodata value 0.
TImageMetadata CompositeMetadata(const std::optional<TGridGeoreference>& grid);
