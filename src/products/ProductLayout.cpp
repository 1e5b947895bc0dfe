#include "ProductLayout.h"

#include <algorithm>

#include "FileNames.h"

bool SameNameNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && EndsWithNoCase(a, b);
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
  if (suffix.size() > text.size()) return false;
  const size_t at = text.size() - suffix.size();
  for (size_t k = 0; k < suffix.size(); ++k)
    if (AsciiUpper(text[at + k]) != AsciiUpper(suffix[k])) return false;
  return true;
}

const std::vector<int>& L2aResolutions() {
  static const std::vector<int> metres{10, 20, 60};
  return metres;
}

std::wstring ResolutionFolderName(int metres) { return L"R" + std::to_wstring(metres) + L"m"; }

std::wstring ChooseStartBand(const std::vector<std::wstring>& fileNames, int metres, bool falseColour) {
  const std::wstring ending = metres ? L"_" + std::to_wstring(metres) + L"m.jp2" : L".jp2";
  std::vector<std::wstring> codes;
  if (falseColour) codes = {metres == 0 || metres == 10 ? L"B08" : L"B8A"};
  else codes = {L"B04", L"B03", L"B02"};
  std::vector<std::wstring> sorted = fileNames;
  std::sort(sorted.begin(), sorted.end());
  for (const std::wstring& code : codes)
    for (const std::wstring& name : sorted)
      if (EndsWithNoCase(name, code + ending)) return name;
  return {};
}

std::wstring TProductListing::Join(const std::wstring& folder, const std::wstring& name) const {
  if (folder.empty()) return name;
  if (folder.back() == Separator() || folder.back() == L'/') return folder + name;
  return folder + Separator() + name;
}

namespace {
std::wstring Match(const std::vector<std::wstring>& names, const std::wstring& wanted) {
  std::wstring best;
  for (const std::wstring& name : names)
    if (SameNameNoCase(name, wanted) && (best.empty() || name < best)) best = name;
  return best;
}

std::wstring LastName(const std::wstring& path, wchar_t separator) {
  std::wstring trimmed = path;
  while (!trimmed.empty() && (trimmed.back() == separator || trimmed.back() == L'/')) trimmed.pop_back();
  const size_t at = trimmed.find_last_of(std::wstring(1, separator) + L"/");
  return at == std::wstring::npos ? trimmed : trimmed.substr(at + 1);
}

TProductBand Found(const TProductListing& listing, const std::wstring& folder, const std::wstring& name, int metres) {
  return {TProductFind::Found, listing.Join(folder, name), metres};
}

TProductBand FromBandFolder(const TProductListing& listing, const std::wstring& folder, int metres,
                            const TProductRequest& request) {
  const std::wstring start = ChooseStartBand(listing.Files(folder), metres, request.FalseColour);
  if (start.empty()) return {TProductFind::NoBands, {}, 0};
  return Found(listing, folder, start, metres);
}

TProductBand FromImgData(const TProductListing& listing, const std::wstring& imgData, const TProductRequest& request) {
  bool l2a = false;
  for (int metres : L2aResolutions()) l2a = l2a || !listing.ChildFolder(imgData, ResolutionFolderName(metres)).empty();
  if (!l2a) {
    // L1C bands come at their native resolution only; the four used here are all 10 m.
    if (request.Metres != 0 && request.Metres != 10) return {TProductFind::NoSuchResolution, {}, 0};
    return FromBandFolder(listing, imgData, 0, request);
  }
  const std::vector<int> wanted = request.Metres ? std::vector<int>{request.Metres} : L2aResolutions();
  for (int metres : wanted) {
    const std::wstring folder = listing.ChildFolder(imgData, ResolutionFolderName(metres));
    if (folder.empty()) continue;
    TProductBand band = FromBandFolder(listing, folder, metres, request);
    if (band.Find == TProductFind::Found) return band;
  }
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
  const std::wstring match = Match(Folders(folder), name);
  return match.empty() ? match : Join(folder, match);
}

std::wstring TProductListing::ChildFile(const std::wstring& folder, const std::wstring& name) const {
  const std::wstring match = Match(Files(folder), name);
  return match.empty() ? match : Join(folder, match);
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
    if (band.Find != TProductFind::Found) return {};
    if (request.Metres != 0 && request.Metres != metres) return {TProductFind::NoSuchResolution, {}, 0};
    return band;
  }
  return {};
}
