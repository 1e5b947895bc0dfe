// Where a Sentinel-2 product keeps the band a job starts from. Works on names alone, so that a
// folder on disk and the entries of a zip are read by the same rules:
//   L1C  <name>.SAFE/GRANULE/L1C_<tile>_.../IMG_DATA/<tile>_<datetime>_B04.jp2
//   L2A  <name>.SAFE/GRANULE/L2A_<tile>_.../IMG_DATA/R10m|R20m|R60m/<tile>_<datetime>_B04_10m.jp2
#pragma once
#include <string>
#include <vector>

// What the user asked for. The window always asks for the defaults.
struct TProductRequest {
  bool FalseColour = false;
  int Metres = 0;  // 10, 20 or 60; 0: the finest complete (L2A), the native one (L1C)
  // A zip that holds no product: the console tool says so; the window, as for any file that is
  // not JPEG 2000, does nothing visible.
  bool SayWhenNoProduct = false;
};

// ASCII letters compared without regard to case, as the band names are.
bool SameNameNoCase(const std::wstring& a, const std::wstring& b);

// The resolution folders of an L2A IMG_DATA folder, finest first.
const std::vector<int>& L2aResolutions();
std::wstring ResolutionFolderName(int metres);  // "R10m"

// Among the file names of one band folder, the one to start the job from, or empty. True
// colour prefers B04, then B03, then B02 (any of them derives the other two); false colour
// needs its red: B08 (L1C, and L2A at 10 m) or B8A (L2A at 20 m and 60 m). metres is 0 for an
// L1C folder. A name whose band part is spelt as ESA spells it ("_B04_10m.jp2") goes before one
// in other letter cases; several candidates: the first in name order, so the choice never
// varies. Empty, too, for names that differ only in letter case with none preferred.
std::wstring ChooseStartBand(const std::vector<std::wstring>& fileNames, int metres, bool falseColour);

// What a product's tree holds, as a folder on disk or a zip's entries present it. Paths are
// joined with Separator(); the listing answers for its own paths only.
class TProductListing {
 public:
  virtual ~TProductListing() = default;
  virtual std::vector<std::wstring> Folders(const std::wstring& folder) const = 0;
  virtual std::vector<std::wstring> Files(const std::wstring& folder) const = 0;
  virtual wchar_t Separator() const = 0;
  std::wstring Join(const std::wstring& folder, const std::wstring& name) const;
  // The child folder or file whose name matches: spelt exactly, or else in any letter case;
  // empty when none. Several files in other letter cases: empty, as no one of them is meant.
  std::wstring ChildFolder(const std::wstring& folder, const std::wstring& name) const;
  std::wstring ChildFile(const std::wstring& folder, const std::wstring& name) const;
};

enum class TProductFind {
  NotAProduct,       // nothing here is a Sentinel-2 product: the caller carries on as before
  Found,             // Band names the file to start the job from
  NoBands,           // a product, but without the bands the request needs
  NoSuchResolution,  // a product without the resolution asked for
  SeveralTiles,      // more than one granule (or product) to choose from
  MissingBand,       // Band names the band file the composite needs and the product lacks
  Ambiguous,         // Band names one of several band files that differ only in letter case
};
struct TProductBand {
  TProductFind Find = TProductFind::NotAProduct;
  std::wstring Band;  // the listing's path of the band to start from
  int Metres = 0;     // the chosen resolution folder's, 0 for L1C
  std::wstring Note = {};  // a finer resolution passed over, and the band it lacks
};

// A product root has a GRANULE folder and either a product metadata file or a ".SAFE" name.
bool IsProductRoot(const TProductListing& listing, const std::wstring& folder);
// The band to start from, for a folder that is a product root, a granule (it holds IMG_DATA),
// an IMG_DATA folder or one of its resolution folders.
TProductBand FindProductBand(const TProductListing& listing, const std::wstring& folder, const TProductRequest& request);
// The same for a product metadata file (MTD_MSIL1C.xml or MTD_MSIL2A.xml) in folder.
bool IsProductMetadataName(const std::wstring& fileName);
