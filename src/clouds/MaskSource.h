// Where a band file's cloud mask comes from: the scene classification layer (SCL) of its
// product, the finer file first, or else the cloud mask MSK_CLASSI_B00.jp2 that products since
// processing baseline 04.00 carry in the granule's QI_DATA. Both are found from the band file
// alone, in its own folder and in the granule folder above it, so a band file dropped on its
// own finds the same mask as its product.
#pragma once
#include <filesystem>
#include <string>

enum class TMaskKind {
  None,
  SceneClassification,  // ..._SCL_20m.jp2 or ..._SCL_60m.jp2: one class a pixel
  CloudClassification,  // MSK_CLASSI_B00.jp2: opaque clouds, cirrus, snow, one bit each
};

struct TMaskSource {
  TMaskKind Kind = TMaskKind::None;
  std::filesystem::path File;
  std::string Why;  // Kind None: what was looked for, and where
};

TMaskSource FindMaskSource(const std::filesystem::path& bandFile);

// The tile and sensing time an L2A band name starts with ("T29UNU_20221005T115411_" of
// "T29UNU_20221005T115411_B04_60m.jp2"); empty when the name has none.
std::string TileDatePrefix(const std::string& fileName);
