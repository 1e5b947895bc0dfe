#include "CloudFreeJob.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "AreaCrop.h"
#include "CloudFreeJoin.h"
#include "CloudMask.h"
#include "CompositeJob.h"
#include "CompositeSink.h"
#include "CompositeStream.h"
#include "CompositionPlatform.h"
#include "Jp2GeoBoxes.h"
#include "MaskSource.h"
#include "OutputMetadata.h"
#include "Quicklook.h"
#include "RowQuicklook.h"
#include "TempFile.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
// One date: its bands, where it lies, and its mask.
struct TDate {
  TBandNames Names;
  std::wstring Shown;   // the red band's file name, for messages
  std::string Tile;     // "T29UNU"
  std::string Day;      // "20221005"
  std::wstring Metres;  // "_60m" for L2A bands, empty for L1C
  fs::path Paths[3];
  TPlacedGrid Grid;
  TCloudMask Mask;
  std::unique_ptr<TCompositeStream> Stream;
};

std::wstring Widen(const std::string& text) { return FromUtf8(text); }

// Tile, day and resolution from the band names; false with the reason.
bool NameDate(const std::wstring& band, TDate& date, std::wstring& error) {
  date.Names = DeriveBandNames(band);
  if (!date.Names.Started) {
    error = L"not a band file of a colour composite: " + band;
    return false;
  }
  date.Names.Red = compositionPlatform::ExistingSpelling(date.Names.Red);
  date.Names.Green = compositionPlatform::ExistingSpelling(date.Names.Green);
  date.Names.Blue = compositionPlatform::ExistingSpelling(date.Names.Blue);
  date.Shown = FileNamePart(date.Names.Red);
  const std::string prefix = TileDatePrefix(ToUtf8(date.Shown));
  if (prefix.empty()) {
    error = L"the name of " + date.Shown + L" says no tile and date (as in T29UNU_20221005T115411_B04_60m.jp2)";
    return false;
  }
  date.Tile = prefix.substr(0, 6);
  date.Day = prefix.substr(7, 8);
  const std::wstring& token = date.Names.BandToken;  // "B04_60m.jp2" or "B04.jp2"
  date.Metres = token.size() > 8 ? token.substr(3, 4) : std::wstring();
  return true;
}

// The grid of the red band, which the other two must share.
bool PlaceDate(TDate& date, std::wstring& error) {
  const std::wstring* const bands[3] = {&date.Names.Red, &date.Names.Green, &date.Names.Blue};
  TJp2Header headers[3];
  for (int b = 0; b < 3; ++b) {
    date.Paths[b] = FsPath(*bands[b]);
    std::string why;
    if (ReadJp2Header(date.Paths[b], headers[b], why) != TJp2HeaderStatus::Read) {
      error = L"cannot read " + FileNamePart(*bands[b]) + (why.empty() ? L"" : L": " + Widen(why));
      return false;
    }
  }
  std::string why;
  if (!CanStreamBands(headers, 0, why)) {
    error = L"cannot stream the bands of " + date.Shown + L": " + Widen(why);
    return false;
  }
  const std::optional<TGridGeoreference> grid = CompositeGrid(date.Names);
  if (!grid) {
    error = L"the bands of " + date.Shown + L" carry no common georeferencing";
    return false;
  }
  date.Grid.Georeference = *grid;
  date.Grid.Width = headers[0].Width;
  date.Grid.Height = headers[0].Height;
  return true;
}

// Another tile, resolution or grid than the first date: refused, naming both.
bool SameAsFirst(const TDate& date, const TDate& first, std::wstring& error) {
  std::wstring what;
  if (date.Tile != first.Tile) what = L"another tile";
  else if (date.Metres != first.Metres) what = L"another resolution";
  else if (date.Grid.Width != first.Grid.Width || date.Grid.Height != first.Grid.Height ||
           date.Grid.Georeference != first.Grid.Georeference)
    what = L"another grid";
  if (what.empty()) return true;
  error = L"cannot make one cloud-free picture of " + date.Shown + L" and " + first.Shown + L": " + what;
  return false;
}
}  // namespace

std::wstring CloudFreeName(const TCloudFreeRequest& request, std::wstring& error) {
  if (request.Bands.empty()) {
    error = L"no dates given";
    return {};
  }
  std::vector<TDate> dates(request.Bands.size());
  for (size_t d = 0; d < dates.size(); ++d)
    if (!NameDate(request.Bands[d], dates[d], error)) return {};
  std::string firstDay = dates[0].Day, lastDay = dates[0].Day;
  for (const TDate& date : dates) {
    firstDay = std::min(firstDay, date.Day);
    lastDay = std::max(lastDay, date.Day);
  }
  const std::wstring extension = request.Format == TSaveFormat::Png ? L".png" : L".tif";
  return request.OutFolder + Widen(dates[0].Tile + "_" + firstDay + "_" + lastDay) + L"_48" + dates[0].Metres +
         L"_cloudfree" + extension;
}

TCloudFreeResult RunCloudFree(const TCloudFreeRequest& request, const TWorkCallbacks& callbacks) {
  TCloudFreeResult result;
  result.Output = CloudFreeName(request, result.Error);
  if (result.Output.empty()) return result;
  if (request.Format == TSaveFormat::None) {
    result.Error = L"no output format chosen";
    return result;
  }

  std::vector<TDate> dates(request.Bands.size());
  for (size_t d = 0; d < dates.size(); ++d) {
    TDate& date = dates[d];
    if (!NameDate(request.Bands[d], date, result.Error) || !PlaceDate(date, result.Error) ||
        !SameAsFirst(date, dates[0], result.Error))
      return result;
    for (size_t e = 0; e < d; ++e) {
      if (dates[e].Names.Red == date.Names.Red) {
        result.Error = L"the same date twice: " + date.Shown;
        return result;
      }
    }
  }
  // The area's window, the same for every date: they share one grid.
  std::optional<TPixelWindow> window;
  std::unique_ptr<TAreaMask> areaMask;
  if (request.Area) {
    const TAreaPlacement placed = PlaceArea(*request.Area, dates[0].Names, 0);
    if (placed.Kind != TAreaPlacement::Inside) {
      result.Error = placed.Message;
      result.Outside = placed.Kind == TAreaPlacement::Outside;
      return result;
    }
    window = placed.Window;
    result.Output = WithWindowSuffix(result.Output, *window);
    for (TDate& date : dates)
      date.Grid = TPlacedGrid{WindowGrid(date.Grid.Georeference, *window), window->Width, window->Height};
    if (request.Area->Kind == TAreaKind::Polygons)
      areaMask = std::make_unique<TAreaMask>(request.Area->Polygons, placed.Grid, *window);
  }
  // Every mask before any band: a missing one fails the job before minutes of decoding.
  for (TDate& date : dates) {
    const TMaskSource source = FindMaskSource(date.Paths[0]);
    if (source.Kind == TMaskKind::None) {
      result.Error = Widen(source.Why);
      return result;
    }
    std::string why;
    if (!date.Mask.Load(source, request.Classes, callbacks, why, window ? &date.Grid : nullptr) ||
        !date.Mask.Covers(date.Grid, why)) {
      result.Error = Widen(why);
      return result;
    }
  }

  // The cores shared out among the dates, which decode side by side.
  const unsigned threads = std::max(1u, Jp2DecodeThreads() / static_cast<unsigned>(dates.size()));
  for (TDate& date : dates) {
    date.Stream = std::make_unique<TCompositeStream>(date.Paths, 0, threads);
    if (window) date.Stream->SetWindow(*window);
    for (int b = 0; b < 3; ++b) {
      std::string why;
      if (!date.Stream->StartBand(b, callbacks, why)) {
        result.Error = L"cannot decode " + FileNamePart(b == 0 ? date.Names.Red : b == 1 ? date.Names.Green : date.Names.Blue) +
                       (why.empty() ? L"" : L": " + Widen(why));
        return result;
      }
    }
  }

  const TPlacedGrid& grid = dates[0].Grid;
  const fs::path target = FsPath(result.Output);
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(target);
  if (!file) {
    result.Error = L"cannot write " + result.Output;
    return result;
  }
  std::unique_ptr<TRowSink> sink = OpenCompositeSink(request.Format, *file, target, grid.Width, grid.Height,
                                                     CompositeMetadata(grid.Georeference));
  if (!sink) {
    result.Error = L"cannot write " + result.Output;
    return result;
  }
  std::vector<const TCloudMask*> masks;
  for (const TDate& date : dates) masks.push_back(&date.Mask);
  // The quicklook watches the rows on their way to the writer: the picture is never held.
  std::unique_ptr<TRowQuicklook> quicklook;
  std::unique_ptr<TTeeSink> tee;
  if (request.Quicklook) {
    int offsets[3];
    const std::wstring* const bands[3] = {&dates[0].Names.Red, &dates[0].Names.Green, &dates[0].Names.Blue};
    for (int b = 0; b < 3; ++b) {
      const TBandOffsetSource offset = FindBandOffset(*bands[b]);
      offsets[b] = offset.Offset;
      result.Notes.push_back(offset.Listed ? L"offset " + std::to_wstring(offset.Offset) + L" for " + FileNamePart(*bands[b]) +
                                                 L" from " + offset.MetadataFile
                                           : L"offset 0 for " + FileNamePart(*bands[b]));
    }
    quicklook = std::make_unique<TRowQuicklook>(grid.Width, grid.Height, request.Reduce, offsets);
    tee = std::make_unique<TTeeSink>(*sink, *quicklook);
  }
  TRowSink& written = tee ? static_cast<TRowSink&>(*tee) : *sink;
  // Outside the polygons before both the picture and its quicklook.
  TCloudFreeJoin join(areaMask ? areaMask->Wrap(written) : written, masks, grid);

  std::vector<TCompositeStream::TResult> outcomes(dates.size());
  std::vector<std::thread> workers;
  for (size_t d = 0; d < dates.size(); ++d) {
    workers.emplace_back([&, d] {
      outcomes[d] = dates[d].Stream->WriteTo(join.Date(d), TWorkCallbacks{});
      if (outcomes[d].Kind != TCompositeStream::TResult::Written) join.Abort();
    });
  }
  for (auto& worker : workers) worker.join();
  const bool joined = join.Finish();
  sink.reset();
  for (size_t d = 0; d < dates.size(); ++d) {
    if (outcomes[d].Kind == TCompositeStream::TResult::BandFailed) {
      result.Error = L"cannot decode the bands of " + dates[d].Shown +
                     (outcomes[d].Error.empty() ? L"" : L": " + Widen(outcomes[d].Error));
      return result;
    }
  }
  if (!joined || !file->CommitTo(target)) {
    result.Error = L"cannot write " + result.Output;
    return result;
  }
  if (callbacks.Progress) callbacks.Progress(grid.Height, grid.Height);
  result.Written = true;
  result.Grid = grid.Georeference;
  if (quicklook) {
    const std::wstring name = QuicklookName(result.Output);
    if (quicklook->Save(name)) result.Quicklook = name;
    else result.QuicklookError = L"cannot write " + name;
  }
  result.Pixels = uint64_t{grid.Width} * grid.Height;
  result.EmptyPixels = join.EmptyPixels();
  return result;
}
