#include "JobOutputs.h"

#include <filesystem>
#include <system_error>

#include "AreaCrop.h"
#include "CompositionPlatform.h"
#include "ProductJob.h"
#include "ProductZip.h"
#include "Quicklook.h"
#include "TextCodec.h"

namespace {
// The folder part of a path, delimiter kept; empty for a bare name.
std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.size() - FileNamePart(path).size()); }

// The band set as the job will find it on disk.
TBandNames BandsOnDisk(const std::wstring& band) {
  TBandNames names = DeriveBandNames(band);
  if (!names.Started) return names;
  names.Red = compositionPlatform::ExistingSpelling(names.Red);
  names.Green = compositionPlatform::ExistingSpelling(names.Green);
  names.Blue = compositionPlatform::ExistingSpelling(names.Blue);
  return names;
}
}  // namespace

std::string JobSoftware(TJobKind kind, const TJobSettings& settings) {
  std::string text = "Bandweave";
  for (const std::string& argument : settings.OutputArguments) text += " " + argument;
  if (kind != TJobKind::BandFile)
    for (const std::string& argument : settings.ProductArguments) text += " " + argument;
  if (settings.Area && settings.Area->Kind == TAreaKind::Polygons && !settings.AreaArguments.empty())
    text += " " + settings.AreaArguments.front() + " " + AreaFingerprint(*settings.Area);
  else
    for (const std::string& argument : settings.AreaArguments) text += " " + argument;
  return text;
}

std::wstring WorldFileName(const std::wstring& png) {
  return (png.size() > 4 ? png.substr(0, png.size() - 4) : png) + L".pgw";
}

std::wstring AuxXmlName(const std::wstring& png) { return png + L".aux.xml"; }

std::wstring CompositeName(const TBandNames& names, const TJobSettings& settings) {
  TBandNames placed = names;
  if (!settings.OutFolder.empty()) placed.OutputFolder = settings.OutFolder;
  if (settings.Mask) placed.NameTag = kMaskedNameTag;
  return OutputName(placed, settings.Format, settings.CompositeReduce());
}

std::vector<std::wstring> SideFileNames(const std::wstring& composite, const TJobSettings& settings) {
  std::vector<std::wstring> names;
  if (settings.Preview) {  // composite is the preview itself
    if (settings.WorldFile) names = {WorldFileName(composite), AuxXmlName(composite)};
    return names;
  }
  if (settings.WorldFile && settings.Format == TSaveFormat::Png) {
    names.push_back(WorldFileName(composite));
    names.push_back(AuxXmlName(composite));
  }
  if (settings.Quicklook) {
    const std::wstring quicklook = QuicklookName(composite);
    names.push_back(quicklook);
    if (settings.WorldFile) {
      names.push_back(WorldFileName(quicklook));
      names.push_back(AuxXmlName(quicklook));
    }
  }
  return names;
}

TJobFiles JobFiles(const TBatchJob& job, const TJobSettings& settings) {
  TJobFiles files;
  files.Sources = {job.Input};
  switch (job.Kind) {
    case TJobKind::BandFile: files.Bands = BandsOnDisk(job.Input); break;
    case TJobKind::Product: {
      const std::wstring band = ProductBandFile(job.Input, settings.Product);
      if (!band.empty()) files.Bands = BandsOnDisk(band);
      break;
    }
    case TJobKind::Zip: {
      // The composite goes beside the zip, named after the bands inside it.
      const std::wstring band = ZipStartBand(job.Input, settings.Product);
      if (band.empty()) break;
      files.Bands = DeriveBandNames(band);
      files.Bands.OutputFolder = FolderOf(job.Input);
      break;
    }
  }
  if (!files.Bands.Started) return files;
  if (job.Kind != TJobKind::Zip) files.Sources = {files.Bands.Red, files.Bands.Green, files.Bands.Blue};
  if (settings.Area) {
    if (job.Kind == TJobKind::Zip) return files;
    const TAreaPlacement placed = PlaceArea(*settings.Area, files.Bands, settings.CompositeReduce());
    if (placed.Kind == TAreaPlacement::Outside) files.Outside = placed.Message;
    // The job says why it cannot crop; it has no name to be known by until it can.
    if (placed.Kind != TAreaPlacement::Inside) return files;
    files.Bands.WindowTag = WindowNameTag(placed.Window);
  }
  files.Composite = CompositeName(files.Bands, settings);
  if (settings.Preview) files.Composite = QuicklookName(files.Composite);
  files.SideFiles = SideFileNames(files.Composite, settings);
  return files;
}

std::wstring FolderWithDelimiter(const std::wstring& folder) {
  if (folder.empty() || FileNamePart(folder).empty()) return folder;
#if defined(_WIN32)
  return folder + L"\\";
#else
  return folder + L"/";
#endif
}

bool MakeOutputFolder(const std::wstring& folder, std::wstring& why) {
  std::error_code error;
  const std::filesystem::path path = FsPath(folder);
  std::filesystem::create_directories(path, error);
  if (!error && std::filesystem::is_directory(path, error)) return true;
  why = L"cannot make the output folder " + folder + (error ? L": " + FromUtf8(error.message()) : L"");
  return false;
}
