#include "OutputExtras.h"

#include <filesystem>
#include <optional>

#include "AreaCrop.h"
#include "CompositeJob.h"
#include "CompositeMask.h"
#include "CompositionPlatform.h"
#include "ConsoleHost.h"
#include "JobOutputs.h"
#include "OutputMetadata.h"
#include "Quicklook.h"
#include "TempFile.h"
#include "TextCodec.h"

namespace {
// Under a temporary name first, as the pictures are: a side file that is there is complete.
bool WriteTextFile(const std::wstring& path, const std::string& text) {
  if (WriteWholeFile(FsPath(path), text)) return true;
  ToolError(L"cannot write " + path);
  return false;
}

bool WriteSidecars(const std::wstring& png, const TGridGeoreference& grid) {
  return WriteTextFile(WorldFileName(png), WorldFileText(grid)) && WriteTextFile(AuxXmlName(png), PamXmlText(grid));
}

// Side files of an earlier run would place the new picture where the old one lay.
void RemoveSidecars(const std::wstring& png) {
  std::error_code ignored;
  std::filesystem::remove(FsPath(WorldFileName(png)), ignored);
  std::filesystem::remove(FsPath(AuxXmlName(png)), ignored);
}
}  // namespace

bool WriteGridSideFiles(const std::wstring& png, const TGridGeoreference& grid) { return WriteSidecars(png, grid); }

bool WriteExtraOutputs(const TBandNames& names, const std::wstring& composite, const TJobSettings& settings,
                       const std::string& software) {
  const bool quicklookAsked = settings.Quicklook || settings.Preview;
  if (!settings.WorldFile && !quicklookAsked) return true;
  std::optional<TGridGeoreference> grid;
  if (settings.WorldFile) {
    grid = CompositeGrid(names);
    if (!grid) WriteLine(stderr, L"bandweave-cli: the bands carry no common georeferencing; no world file written");
  }
  bool ok = true;
  if (settings.WorldFile && settings.Format == TSaveFormat::Png && !settings.Preview) {
    // A reduced composite covers the same ground with larger pixels; a crop starts at its
    // window's corner.
    std::optional<TGridGeoreference> placed = grid ? ReducedGrid(*grid, settings.CompositeReduce()) : std::nullopt;
    if (placed && settings.Area) {
      const TAreaPlacement area = PlaceArea(*settings.Area, names, settings.CompositeReduce());
      placed = area.Kind == TAreaPlacement::Inside ? std::optional(WindowGrid(*placed, area.Window)) : std::nullopt;
    }
    if (placed) ok = WriteSidecars(composite, *placed);
    else RemoveSidecars(composite);
  }
  if (quicklookAsked) {
    // With --preview the composite's name is the preview's own.
    const std::wstring name = settings.Preview ? composite : QuicklookName(composite);
    const TQuicklookResult quicklook = WriteQuicklook(names, name, settings.Reduce, software,
                                                      settings.Mask ? &*settings.Mask : nullptr, settings.Area.get());
    for (const std::wstring& note : quicklook.Notes) WriteLine(stderr, L"Quicklook: " + note);
    if (!quicklook.Written) {
      ToolError(L"no quicklook written: " + quicklook.Error);
      return false;
    }
    WriteLine(stderr, L"Quicklook: " + name);
    // A preview is the only picture written: the share masked is its own (the batch report
    // reads it from this line).
    if (settings.Preview && settings.Mask)
      WriteLine(stderr, MaskedShareText(quicklook.MaskedPixels, uint64_t{quicklook.Width} * quicklook.Height));
    std::optional<TGridGeoreference> reduced = grid ? ReducedGrid(*grid, settings.Reduce) : std::nullopt;
    if (reduced && quicklook.Window) reduced = WindowGrid(*reduced, *quicklook.Window);
    if (grid && !reduced)
      WriteLine(stderr, L"bandweave-cli: the bands' georeferencing is out of range at the quicklook's resolution; "
                        L"no world file written for it");
    if (reduced) ok = WriteSidecars(name, *reduced) && ok;
    else if (settings.WorldFile) RemoveSidecars(name);
  }
  return ok;
}
