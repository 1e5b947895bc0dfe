#include "OutputExtras.h"

#include <filesystem>
#include <optional>

#include "CompositeJob.h"
#include "CompositionPlatform.h"
#include "ConsoleHost.h"
#include "OutputMetadata.h"
#include "ProductJob.h"
#include "Quicklook.h"
#include "TempFile.h"

namespace {
bool WriteText(const std::wstring& path, const std::string& text) {
  if (WriteWholeFile(compositionPlatform::FsPath(path), text)) return true;
  WriteLine(stderr, L"bandweave-cli: cannot write " + path);
  return false;
}

// name.png -> name.pgw and name.png.aux.xml
std::wstring WorldFileName(const std::wstring& png) { return (png.size() > 4 ? png.substr(0, png.size() - 4) : png) + L".pgw"; }

bool WriteSidecars(const std::wstring& png, const TGridGeoreference& grid) {
  return WriteText(WorldFileName(png), WorldFileText(grid)) && WriteText(png + L".aux.xml", PamXmlText(grid));
}

// Side files of an earlier run would place the new picture where the old one lay.
void RemoveSidecars(const std::wstring& png) {
  std::error_code ignored;
  std::filesystem::remove(compositionPlatform::FsPath(WorldFileName(png)), ignored);
  std::filesystem::remove(compositionPlatform::FsPath(png + L".aux.xml"), ignored);
}
}  // namespace

bool WriteExtraOutputs(const std::wstring& path, const TProductRequest& request, int saveFormat,
                       const TExtraOutputs& extras) {
  if (!extras.WorldFile && !extras.Quicklook) return true;
  const std::wstring bandFile = IsProductPath(path) ? ProductBandFile(path, request) : path;
  if (bandFile.empty()) {
    WriteLine(stderr, L"bandweave-cli: no quicklook or side files for a zipped product: unpack it first");
    return false;
  }
  const TBandNames names = DeriveBandNames(bandFile);
  const std::wstring composite = OutputName(names, SaveFormatOf(saveFormat));
  std::optional<TGridGeoreference> grid;
  if (extras.WorldFile) {
    grid = CompositeGrid(names);
    if (!grid) WriteLine(stderr, L"bandweave-cli: the bands carry no common georeferencing; no world file written");
  }
  bool ok = true;
  if (extras.WorldFile && saveFormat == 0) {
    if (grid) ok = WriteSidecars(composite, *grid);
    else RemoveSidecars(composite);
  }
  if (extras.Quicklook) {
    const std::wstring name = QuicklookName(composite);
    const TQuicklookResult quicklook = WriteQuicklook(names, name, extras.Reduce);
    for (const std::wstring& note : quicklook.Notes) WriteLine(stderr, L"Quicklook: " + note);
    if (!quicklook.Written) {
      WriteLine(stderr, L"bandweave-cli: no quicklook written: " + quicklook.Error);
      return false;
    }
    WriteLine(stderr, L"Quicklook: " + name);
    const std::optional<TGridGeoreference> reduced = grid ? ReducedGrid(*grid, extras.Reduce) : std::nullopt;
    if (grid && !reduced)
      WriteLine(stderr, L"bandweave-cli: the bands' georeferencing is out of range at the quicklook's resolution; "
                        L"no world file written for it");
    if (reduced) ok = WriteSidecars(name, *reduced) && ok;
    else if (extras.WorldFile) RemoveSidecars(name);
  }
  return ok;
}
