#include "ProductLayout.h"

#include <algorithm>

#include "FileNames.h"

bool SameNameNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && EndsWithNoCase(a, b);
}

const std::vector<int>& L2aResolutions() {
  static const std::vector<int> metres{10, 20, 60};
  return metres;
}

std::wstring ResolutionFolderName(int metres) { return L"R" + std::to_wstring(metres) + L"m"; }

namespace {
// The band codes of a composite, red first, and the ending of their names at a resolution.
std::vector<std::wstring> CompositeCodes(int metres, bool falseColour) {
  if (falseColour) return {metres == 0 || metres == 10 ? L"B08" : L"B8A", L"B04", L"B03"};
  return {L"B04", L"B03", L"B02"};
}
std::wstring BandEnding(int metres) { return metres ? L"_" + std::to_wstring(metres) + L"m.jp2" : L".jp2"; }

// Among names that differ only in letter case, the one spelt as wanted is meant; failing that,
// a single one in any case. Several in other cases than wanted's: no telling which is meant.
struct TNameMatch {
  std::wstring Name;
  bool Ambiguous = false;
};
TNameMatch MatchName(const std::vector<std::wstring>& names, const std::wstring& wanted) {
  TNameMatch match;
  for (const std::wstring& name : names) {
    if (name == wanted) return {name, false};
    if (!SameNameNoCase(name, wanted)) continue;
    match.Ambiguous = !match.Name.empty();
    if (match.Name.empty() || name < match.Name) match.Name = name;
  }
  return match;
}

// The start band among a folder's files: for each code in turn, a name ending in it as the
// layout spells it before one in another letter case, the first in name order. Twins in letter
// case among those are ambiguous.
TNameMatch ChooseStart(const std::vector<std::wstring>& fileNames, int metres, bool falseColour) {
  const std::wstring ending = BandEnding(metres);
  std::vector<std::wstring> sorted = fileNames;
  std::sort(sorted.begin(), sorted.end());
  const std::vector<std::wstring> codes = CompositeCodes(metres, falseColour);
  for (size_t k = 0; k < (falseColour ? 1u : codes.size()); ++k) {
    const std::wstring suffix = codes[k] + ending;
    std::vector<std::wstring> exact, anyCase;
    for (const std::wstring& name : sorted) {
      if (!EndsWithNoCase(name, suffix)) continue;
      const bool spelt = name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
      (spelt ? exact : anyCase).push_back(name);
    }
    const std::vector<std::wstring>& candidates = exact.empty() ? anyCase : exact;
    if (candidates.empty()) continue;
    TNameMatch match{candidates.front(), false};
    for (size_t c = 1; c < candidates.size(); ++c) match.Ambiguous = match.Ambiguous || SameNameNoCase(candidates[c], match.Name);
    return match;
  }
  return {};
}
}  // namespace

std::wstring ChooseStartBand(const std::vector<std::wstring>& fileNames, int metres, bool falseColour) {
  const TNameMatch match = ChooseStart(fileNames, metres, falseColour);
  return match.Ambiguous ? std::wstring() : match.Name;
}

std::wstring TProductListing::Join(const std::wstring& folder, const std::wstring& name) const {
  if (folder.empty()) return name;
  if (folder.back() == Separator() || folder.back() == L'/') return folder + name;
  return folder + Separator() + name;
}

namespace {
std::wstring LastName(const std::wstring& path, wchar_t separator) {
  std::wstring trimmed = path;
  while (!trimmed.empty() && (trimmed.back() == separator || trimmed.back() == L'/')) trimmed.pop_back();
  const size_t at = trimmed.find_last_of(std::wstring(1, separator) + L"/");
  return at == std::wstring::npos ? trimmed : trimmed.substr(at + 1);
}

TProductBand Found(const TProductListing& listing, const std::wstring& folder, const std::wstring& name, int metres) {
  return {TProductFind::Found, listing.Join(folder, name), metres};
}

// The start band of a band folder, and the composite's other two beside it: a product
// trimmed to some bands names the one it lacks rather than failing on it later.
TProductBand FromBandFolder(const TProductListing& listing, const std::wstring& folder, int metres,
                            const TProductRequest& request) {
  const std::vector<std::wstring> files = listing.Files(folder);
  const TNameMatch start = ChooseStart(files, metres, request.FalseColour);
  if (start.Name.empty()) return {TProductFind::NoBands, {}, 0};
  if (start.Ambiguous) return {TProductFind::Ambiguous, listing.Join(folder, start.Name), metres};
  const std::wstring ending = BandEnding(metres);
  const std::vector<std::wstring> codes = CompositeCodes(metres, request.FalseColour);
  std::wstring startCode;
  for (const std::wstring& code : codes)
    if (EndsWithNoCase(start.Name, code + ending)) startCode = code;
  const std::wstring prefix = start.Name.substr(0, start.Name.size() - startCode.size() - ending.size());
  for (const std::wstring& code : codes) {
    const std::wstring wanted = prefix + code + ending;
    const TNameMatch band = MatchName(files, wanted);
    if (band.Ambiguous) return {TProductFind::Ambiguous, listing.Join(folder, band.Name), metres};
    if (band.Name.empty()) return {TProductFind::MissingBand, listing.Join(folder, wanted), metres};
  }
  return Found(listing, folder, start.Name, metres);
}

// The finest resolution whose bands are complete; one finer that lacks a band is named in a
// note. None complete: the finest one's missing band.
TProductBand FromImgData(const TProductListing& listing, const std::wstring& imgData, const TProductRequest& request) {
  bool l2a = false;
  for (int metres : L2aResolutions()) l2a = l2a || !listing.ChildFolder(imgData, ResolutionFolderName(metres)).empty();
  if (!l2a) {
    // L1C bands come at their native resolution only; the four used here are all 10 m.
    if (request.Metres != 0 && request.Metres != 10) return {TProductFind::NoSuchResolution, {}, 0};
    return FromBandFolder(listing, imgData, 0, request);
  }
  const std::vector<int> wanted = request.Metres ? std::vector<int>{request.Metres} : L2aResolutions();
  TProductBand incomplete;
  for (int metres : wanted) {
    const std::wstring folder = listing.ChildFolder(imgData, ResolutionFolderName(metres));
    if (folder.empty()) continue;
    TProductBand band = FromBandFolder(listing, folder, metres, request);
    if (band.Find == TProductFind::Ambiguous) return band;
    if (band.Find == TProductFind::Found) {
      if (incomplete.Find == TProductFind::MissingBand)
        band.Note = ResolutionFolderName(incomplete.Metres) + L" lacks " + LastName(incomplete.Band, listing.Separator()) +
                    L": using " + ResolutionFolderName(metres);
      return band;
    }
    if (band.Find == TProductFind::MissingBand && incomplete.Find != TProductFind::MissingBand) incomplete = band;
  }
  if (incomplete.Find == TProductFind::MissingBand) return incomplete;
  return {request.Metres ? TProductFind::NoSuchResolution : TProductFind::NoBands, {}, 0};
}

TProductBand FromGranule(const TProductListing& listing, const std::wstring& granule, const TProductRequest& request) {
  return FromImgData(listing, listing.ChildFolder(granule, L"IMG_DATA"), request);
}

TProductBand FromRoot(const TProductListing& listing, const std::wstring& root, const TProductRequest& request) {
  const std::wstring granules = listing.ChildFolder(root, L"GRANULE");
  std::vector<std::wstring> tiles;
  for (const std::wstring& name : listing.Folders(granules)) {
    const std::wstring granule = listing.Join(granules, name);
    if (!listing.ChildFolder(granule, L"IMG_DATA").empty()) tiles.push_back(granule);
  }
  if (tiles.empty()) return {TProductFind::NoBands, {}, 0};
  if (tiles.size() > 1) return {TProductFind::SeveralTiles, {}, 0};
  return FromGranule(listing, tiles.front(), request);
}
}  // namespace

std::wstring TProductListing::ChildFolder(const std::wstring& folder, const std::wstring& name) const {
  const std::vector<std::wstring> folders = Folders(folder);
  const TNameMatch match = MatchName(folders, name);
  // Folders in other letter cases than the layout's: the first in name order, as ever.
  return match.Name.empty() ? match.Name : Join(folder, match.Name);
}

std::wstring TProductListing::ChildFile(const std::wstring& folder, const std::wstring& name) const {
  const TNameMatch match = MatchName(Files(folder), name);
  return match.Name.empty() || match.Ambiguous ? std::wstring() : Join(folder, match.Name);
}

bool IsProductMetadataName(const std::wstring& fileName) {
  return SameNameNoCase(fileName, L"MTD_MSIL1C.xml") || SameNameNoCase(fileName, L"MTD_MSIL2A.xml");
}

bool IsProductRoot(const TProductListing& listing, const std::wstring& folder) {
  if (listing.ChildFolder(folder, L"GRANULE").empty()) return false;
  if (EndsWithNoCase(LastName(folder, listing.Separator()), L".SAFE")) return true;
  for (const std::wstring& file : listing.Files(folder))
    if (IsProductMetadataName(file)) return true;
  return false;
}

TProductBand FindProductBand(const TProductListing& listing, const std::wstring& folder, const TProductRequest& request) {
  if (IsProductRoot(listing, folder)) return FromRoot(listing, folder, request);
  if (!listing.ChildFolder(folder, L"IMG_DATA").empty()) return FromGranule(listing, folder, request);
  const std::wstring name = LastName(folder, listing.Separator());
  if (SameNameNoCase(name, L"IMG_DATA")) return FromImgData(listing, folder, request);
  // A resolution folder counts only when it holds the bands: many folders are called R10m.
  for (int metres : L2aResolutions()) {
    if (!SameNameNoCase(name, ResolutionFolderName(metres))) continue;
    TProductBand band = FromBandFolder(listing, folder, metres, request);
    if (band.Find == TProductFind::NoBands) return {};
    if (request.Metres != 0 && request.Metres != metres) return {TProductFind::NoSuchResolution, {}, 0};
    return band;
  }
  return {};
}
