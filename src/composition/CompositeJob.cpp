#include "CompositeJob.h"

#include <cstdio>

#include "AreaCrop.h"
#include "BandMerge.h"
#include "CompositeMask.h"
#include "CompositeWay.h"
#include "CompositionPlatform.h"
#include "ImageFiles.h"
#include "OutputMetadata.h"
#include "qelUtils.h"

namespace {
constexpr double kSecondsPerDay = 86400.0;

// The progress display comes off however the job ends, before any last failure box.
class TProgressClear {
 public:
  explicit TProgressClear(JobHost& host) : FHost(host) {}
  ~TProgressClear() {
    try {
      FHost.SetProgress(-1);
    } catch (...) {
    }
  }
  TProgressClear(const TProgressClear&) = delete;
  TProgressClear& operator=(const TProgressClear&) = delete;

 private:
  JobHost& FHost;
};

void Report(JobHost& host, const std::wstring& text) { Announce(host, text, true); }

// The derived names as the folder spells them, and where the composite goes.
void TakeSpellingOnDisk(TBandNames& names, const std::wstring& outputFolder) {
  // Names are derived in the canonical case; take the files as the folder spells them.
  names.Red = compositionPlatform::ExistingSpelling(names.Red);
  names.Green = compositionPlatform::ExistingSpelling(names.Green);
  names.Blue = compositionPlatform::ExistingSpelling(names.Blue);
  names.OutputFolder = outputFolder;
}

// Loads and merges red, green and blue, one after the other; the seconds it took.
double LoadBands(TCompositeState& job, JobHost& host, const TBandNames& names, FREE_IMAGE_FORMAT fileType) {
  const double start = NowUTC();
  const double share = job.LoadingShare;
  host.SetProgress(0.0);
  ProcessBand(job, host, names.Red, fileType, TBand::Red);
  host.SetProgress(share / 3);
  ProcessBand(job, host, names.Green, fileType, TBand::Green);
  host.SetProgress(share * 2 / 3);
  ProcessBand(job, host, names.Blue, fileType, TBand::Blue);
  host.SetProgress(share);
  return (NowUTC() - start) * kSecondsPerDay;
}

// Saving fills the rest of the job's progress, short of 1 until the output is in place; the
// window stays alive between strips (and, streaming, between rows of tiles).
TWorkCallbacks SavingCallbacks(JobHost& host, double loadingShare) {
  TWorkCallbacks callbacks;
  callbacks.KeepAlive = [] { KeepAlive(); };
  callbacks.Progress = [&host, loadingShare](uint64_t done, uint64_t total) {
    host.SetProgress(loadingShare + (1 - loadingShare) * static_cast<double>(done) / static_cast<double>(total + 1));
  };
  return callbacks;
}

// Saves the composite as format when that is the host's choice, with the beep and the text
// that follow; sets saved (and errorName on failure) only then. The seconds it took. When a
// streamed band fails part way, failedBand names it and nothing else follows here.
double SaveIfChosen(TCompositeState& job, JobHost& host, const TBandNames& names, TSaveFormat format,
                    const TWorkCallbacks& callbacks, bool& saved, std::wstring& errorName, std::wstring& failedBand) {
  const std::wstring name = OutputName(names, format, job.Reduce);
  const double start = NowUTC();
  double end = start;
  if (failedBand.empty() && SaveFormatOf(host.GetSaveFormat()) == format) {
    const TSaveFormat writer = format == TSaveFormat::Tiff && job.CloudOptimised ? TSaveFormat::Cog : format;
    const TSaveOutcome outcome = SaveJobComposite(job, writer, name, callbacks, failedBand);
    if (outcome == TSaveOutcome::BandFailed) return 0;
    saved = outcome == TSaveOutcome::Saved;
    end = NowUTC();
    if (host.GetBeepWhenDone()) host.Beep();
    if (!saved) errorName = name;
    if (format == TSaveFormat::Png) {
      host.SetStatusText(jobtext::kPngComplete);
      host.RepaintNow();
    } else {
      host.SetStatusText(jobtext::kTifComplete);
    }
  }
  return (end - start) * kSecondsPerDay;
}

// The outcome in the modal box, then "Finished" with the durations in the tool tip.
void ReportSaving(JobHost& host, bool saved, const std::wstring& errorName, double loadSeconds,
                  double pngSeconds, double tiffSeconds) {
  if (!saved) host.SetStatusText(jobtext::kSaveError + errorName);
  host.RepaintNow();
  if (host.GetBeepWhenDone()) host.Beep();
  host.ShowModalMessage(host.GetStatusText());
  host.SetStatusText(jobtext::kFinished);
  host.SetStatusHint(FormatTimingText(loadSeconds, pngSeconds, tiffSeconds));
  host.RepaintNow();
}

TJobOutcome RunJob(JobHost& host, const std::wstring& fileName, const std::wstring& outputFolder,
                   const TJobOptions& options) {
  if (!IsExistingFile(fileName)) return TJobOutcome::NoSuchFile;
  TBusyCursor busy(host);
  TProgressClear progress(host);
  const FREE_IMAGE_FORMAT fileType = GetImageFileType(fileName);
  if (fileType != FIF_JP2) return TJobOutcome::NotJpeg2000;

  TCompositeState job;  // releases the Composite on every way out
  TBandNames names = DeriveBandNames(fileName);
  if (!names.Started) {
    Announce(host, jobtext::kMissing, false);
    return TJobOutcome::NotStarted;
  }
  // With no format chosen nothing could be saved; say so before minutes of loading.
  if (SaveFormatOf(host.GetSaveFormat()) == TSaveFormat::None) {
    Report(host, jobtext::kNoFormat);
    return TJobOutcome::NoSaveFormat;
  }
  const std::wstring chosenFolder = host.GetOutputFolder();
  TakeSpellingOnDisk(names, chosenFolder.empty() ? outputFolder : chosenFolder);
  job.Reduce = options.Reduce;
  job.CloudOptimised = options.CloudOptimised;
  // The area's window from the bands' headers, before any decoding: a tile it misses is passed
  // over at once.
  TAreaPlacement area;
  std::unique_ptr<TAreaMask> areaMask;
  if (options.Area) {
    area = PlaceArea(*options.Area, names, job.Reduce);
    if (area.Kind != TAreaPlacement::Inside) {
      Report(host, area.Message);
      return area.Kind == TAreaPlacement::Outside ? TJobOutcome::OutsideArea : TJobOutcome::Failed;
    }
    job.Window = area.Window;
    names.WindowTag = WindowNameTag(area.Window);
    if (options.Area->Kind == TAreaKind::Polygons) {
      areaMask = std::make_unique<TAreaMask>(options.Area->Polygons, area.Grid, area.Window);
      job.AreaMask = areaMask.get();
    }
  }
  // The mask before any band: a product without one fails the job before minutes of decoding.
  TCompositeMask mask;
  if (const TMaskClasses* classes = host.GetMaskClasses()) {
    std::wstring why;
    if (!mask.Prepare(names, job.Reduce, job.Window ? &*job.Window : nullptr, *classes, why)) {
      Report(host, why);
      return TJobOutcome::Failed;
    }
    job.Mask = &mask;
    names.NameTag = kMaskedNameTag;
  }
  host.NoteWay(ChooseWay(job, names, fileType));

  const double loadSeconds = LoadBands(job, host, names, fileType);
  host.SetStatusText(jobtext::kSaving);
  host.RepaintNow();
  if (job.BandSet != kBandSetAll) {
    Announce(host, jobtext::kFailed + FileNamePart(fileName), false);
    return TJobOutcome::Failed;
  }
  // A whole Composite is cut to the window before anything is laid over it or saved.
  if (job.Window && job.Composite) {
    job.Composite = CropComposite(job.Composite.get(), *job.Window);
    if (!job.Composite) {
      Announce(host, jobtext::kFailed + FileNamePart(fileName), false);
      return TJobOutcome::Failed;
    }
  }
  // The attribution, and where the bands lie on the ground when all three agree about it.
  // A reduced picture covers the same ground with larger pixels; a window starts at its corner.
  std::optional<TGridGeoreference> grid = CompositeGrid(names);
  if (grid && job.Reduce > 0) grid = ReducedGrid(*grid, job.Reduce);
  if (job.Window) grid = WindowGrid(area.Grid, *job.Window);
  job.Metadata = CompositeMetadata(grid);
  job.Metadata.Software = host.GetOutputSoftware();

  const TWorkCallbacks callbacks = SavingCallbacks(host, job.LoadingShare);
  bool saved = false;
  std::wstring errorName, failedBand;
  const double pngSeconds = SaveIfChosen(job, host, names, TSaveFormat::Png, callbacks, saved, errorName, failedBand);
  const double tiffSeconds = SaveIfChosen(job, host, names, TSaveFormat::Tiff, callbacks, saved, errorName, failedBand);
  // The output is complete on disk; the Composite (or the stream's buffers and decoders) has
  // served.
  job.Composite.reset();
  job.Stream.reset();
  if (!failedBand.empty()) {
    // Streaming: a band that fails part way is reported as a band that does not load, and the
    // job fails as it does then, with nothing written.
    host.ShowModalMessage(L"Error loading " + failedBand);
    Announce(host, jobtext::kFailed + FileNamePart(fileName), false);
    return TJobOutcome::Failed;
  }
  if (saved) host.SetProgress(1.0);
  if (saved && job.Mask) host.NoteMasked(job.Mask->MaskedPixels(), job.Mask->Pixels());
  ReportSaving(host, saved, errorName, loadSeconds, pngSeconds, tiffSeconds);
  if (saved)
    host.CompositeSaved(names.Red, names.Green, names.Blue,
                        OutputName(names, SaveFormatOf(host.GetSaveFormat()), job.Reduce));
  return saved ? TJobOutcome::Saved : TJobOutcome::SaveFailed;
}
}  // namespace

void ProcessFile(JobHost& host, const std::wstring& fileName) { RunCompositeJob(host, fileName); }

TJobOutcome RunCompositeJob(JobHost& host, const std::wstring& fileName, const std::wstring& outputFolder,
                            const TJobOptions& options) noexcept {
  try {
    const std::wstring name = fileName;  // the job works on its own copy
    return RunJob(host, name, outputFolder, options);
  } catch (...) {
    // The library or the host failed in some way other than a missing image; by now the
    // cursor is back and the Composite released. Tell the user rather than stay silent.
    try {
      Report(host, jobtext::kFailed + FileNamePart(fileName));
    } catch (...) {
    }
    return TJobOutcome::Failed;
  }
}

std::wstring ReplaceFirstNoCase(const std::wstring& text, const std::wstring& pattern,
                                const std::wstring& replacement) {
  if (pattern.empty() || pattern.size() > text.size()) return text;
  for (size_t at = 0; at + pattern.size() <= text.size(); ++at) {
    size_t k = 0;
    while (k < pattern.size() && AsciiUpper(text[at + k]) == AsciiUpper(pattern[k])) ++k;
    if (k == pattern.size()) return text.substr(0, at) + replacement + text.substr(at + pattern.size());
  }
  return text;
}

namespace {
// L2A names end in the band code and the resolution: "..._B04_10m.jp2". B08 exists at 10 m
// only, B8A (the false-colour red at 20 m and 60 m) at those two only.
constexpr size_t kL2aTokenLength = 11;  // "B04_10m.jp2"

TBandNames DeriveL2aNames(const std::wstring& name) {
  TBandNames names;
  if (name.size() < kL2aTokenLength) return names;
  const size_t at = name.size() - kL2aTokenLength;
  const std::wstring stem = name.substr(0, at);
  const std::wstring band = AsciiUpper(name.substr(at, 3)), resolution = name.substr(at + 3, 4);
  const std::wstring suffix = name.substr(at + 7);
  if (!EndsWithNoCase(suffix, L".jp2")) return names;
  std::wstring metres;
  for (const wchar_t* r : {L"_10m", L"_20m", L"_60m"})
    if (EndsWithNoCase(resolution, r)) metres = r;
  if (metres.empty()) return names;
  const auto token = [&](const wchar_t* code) { return std::wstring(code) + metres + L".jp2"; };
  if ((band == L"B08" && metres == L"_10m") || (band == L"B8A" && metres != L"_10m")) {
    names.BandToken = token(band.c_str());
    names.Red = name;
    names.Green = stem + token(L"B04");
    names.Blue = stem + token(L"B03");
  } else if (band == L"B02" || band == L"B03" || band == L"B04") {
    names.BandToken = token(L"B04");
    names.Red = band == L"B04" ? name : stem + token(L"B04");
    names.Green = stem + token(L"B03");
    names.Blue = stem + token(L"B02");
  } else {
    return names;
  }
  names.Started = true;
  return names;
}

TBandNames DeriveL1cNames(const std::wstring& name) {
  TBandNames names;
  const std::wstring upper = AsciiUpper(name);
  if (upper.find(L"B08.JP2") != std::wstring::npos) {
    names.BandToken = L"B08.jp2";
    names.Red = name;
    names.Green = ReplaceFirstNoCase(names.Red, L"B08.jp2", L"B04.jp2");
    names.Blue = ReplaceFirstNoCase(names.Red, L"B08.jp2", L"B03.jp2");
  } else {
    names.BandToken = L"B04.jp2";
    names.Red = ReplaceFirstNoCase(ReplaceFirstNoCase(name, L"B02.jp2", L"B04.jp2"), L"B03.jp2", L"B04.jp2");
    names.Green = ReplaceFirstNoCase(names.Red, L"B04.jp2", L"B03.jp2");
    names.Blue = ReplaceFirstNoCase(names.Red, L"B04.jp2", L"B02.jp2");
  }
  names.Started = names.Green != names.Red && names.Blue != names.Red;
  return names;
}

size_t FolderLength(const std::wstring& path) { return path.size() - FileNamePart(path).size(); }
}  // namespace

// Only the file-name part is read and changed: a folder whose name holds a band suffix stays
// as it is, so the siblings and the output never land in another folder.
TBandNames DeriveBandNames(const std::wstring& fileName) {
  const std::wstring folder = fileName.substr(0, FolderLength(fileName));
  const std::wstring name = fileName.substr(folder.size());
  TBandNames names = DeriveL2aNames(name);
  if (!names.Started) names = DeriveL1cNames(name);
  names.Red = folder + names.Red;
  names.Green = folder + names.Green;
  names.Blue = folder + names.Blue;
  return names;
}

std::wstring OutputName(const TBandNames& names, TSaveFormat saveFormat, unsigned reduce) {
  const std::wstring extension = (reduce > 0 ? L"_r" + std::to_wstring(reduce) : std::wstring()) + names.WindowTag +
                                 (saveFormat == TSaveFormat::Png ? L".png" : L".tif");
  const size_t split = FolderLength(names.Red);
  const std::wstring folder = names.OutputFolder.empty() ? names.Red.substr(0, split) : names.OutputFolder;
  const std::wstring name = names.Red.substr(split);
  if (names.BandToken.size() == kL2aTokenLength && EndsWithNoCase(name, names.BandToken))
    return folder + name.substr(0, name.size() - kL2aTokenLength) + L"48" + names.BandToken.substr(3, 4) +
           names.NameTag + extension;
  return folder + ReplaceFirstNoCase(name, names.BandToken, L"48" + names.NameTag + extension);
}

std::wstring FormatTimingText(double jp2Seconds, double pngSeconds, double tiffSeconds,
                              const std::wstring& decimalSeparator) {
  const auto segment = [&](const wchar_t* label, const wchar_t* blanks, double seconds) {
    char number[64];
    std::snprintf(number, sizeof number, "%.1f", seconds);
    std::wstring text = std::wstring(L"\"") + label + L"\"" + blanks;
    for (const char* c = number; *c; ++c) {
      if (*c == '.') text += decimalSeparator;
      else text += static_cast<wchar_t>(*c);
    }
    return text;
  };
  return segment(L"JP2:", L"   ", jp2Seconds) + L"   " + segment(L"PNG:", L"   ", pngSeconds) + L"   " +
         segment(L"TIFF:", L"  ", tiffSeconds);
}

std::wstring FormatTimingText(double jp2Seconds, double pngSeconds, double tiffSeconds) {
  return FormatTimingText(jp2Seconds, pngSeconds, tiffSeconds, compositionPlatform::DecimalSeparator());
}
