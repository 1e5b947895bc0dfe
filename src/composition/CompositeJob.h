// The composite job: from one Sentinel-2 band file to a 48-bit RGB picture beside it.
// Free of FreeImage.h and windows.h so that any layer can include it in any order.
#pragma once
#include <string>

#include "AreaOfInterest.h"
#include "FileNames.h"
#include "JobHost.h"
#include "SaveFormat.h"

// Runs one whole job on the calling thread and returns once the user has dismissed its last
// message. Reports everything through the host; raises nothing.
void ProcessFile(JobHost& host, const std::wstring& fileName);

// How a job ended, for callers that need more than the host saw (the console tool, tests).
enum class TJobOutcome {
  NoSuchFile,    // silent: not an existing file
  NotJpeg2000,   // silent: FreeImage does not see JPEG 2000 in it
  NotStarted,    // "Some source files missing"
  NoSaveFormat,  // neither PNG nor TIFF chosen; no band was loaded
  Failed,        // a band failed, or the job was aborted; nothing written
  SaveFailed,    // "Error saving file: ..."
  Saved,         // "Production of 48-bit ...  complete!"
  OutsideArea,   // the area of interest misses the bands' tile; nothing written
};
// What a masked composite's names carry before their extension ("..._48_masked.tif").
inline const wchar_t* const kMaskedNameTag = L"_masked";

// How a job makes its picture, beyond what the host is asked.
struct TJobOptions {
  unsigned Reduce = 0;  // decode (and write) at 1/2^Reduce of the full resolution
  bool CloudOptimised = false;  // the TIFF as a cloud-optimised GeoTIFF, under the same name
  // Crop to this area (the caller keeps it alive): only the window it covers on the composite's
  // grid is decoded and written, named with the window; with polygons, what lies outside them
  // is no data. Null: the whole tile.
  const TAreaOfInterest* Area = nullptr;
};

// outputFolder (ending in its delimiter) takes the composite elsewhere than the red band's
// folder, e.g. beside the zip its bands were unpacked from.
TJobOutcome RunCompositeJob(JobHost& host, const std::wstring& fileName, const std::wstring& outputFolder = {},
                            const TJobOptions& options = {}) noexcept;

// The band files of a composite, derived from the file-name part of any one of them: L1C
// names hold "B02.jp2" ... "B08.jp2", L2A names end in "B02_10m.jp2" ... "B8A_60m.jp2".
struct TBandNames {
  bool Started = false;    // three distinct names were derived
  std::wstring BandToken;  // "B04.jp2" / "B08.jp2"; L2A "B04_20m.jp2", "B08_10m.jp2", "B8A_60m.jp2"
  std::wstring Red, Green, Blue;
  std::wstring OutputFolder;  // empty: the red band's folder
  std::wstring NameTag;       // goes before the extension of every output name ("_masked")
  std::wstring WindowTag;     // a cropped composite's window ("_x512y640w300h200"), last of all
};
TBandNames DeriveBandNames(const std::wstring& fileName);

// The output path for PNG ("48.png") or TIFF ("48.tif"); L2A names keep their resolution
// ("48_10m.tif"), so composites of different resolutions never collide.
// A composite at a reduced resolution carries "_r" and the reduction before the extension
// ("48_r2.tif", "48_10m_r2.tif"), so that it is never taken for the full one. A cropped one
// carries its window after that ("48_10m_masked_r2_x256y320w150h100.tif").
std::wstring OutputName(const TBandNames& names, TSaveFormat saveFormat, unsigned reduce = 0);

// Replaces the first match of pattern (ASCII letters matched in either case) with replacement.
std::wstring ReplaceFirstNoCase(const std::wstring& text, const std::wstring& pattern,
                                const std::wstring& replacement);

// The tool tip after a save: "JP2:", "PNG:" and "TIFF:" with their seconds.
std::wstring FormatTimingText(double jp2Seconds, double pngSeconds, double tiffSeconds,
                              const std::wstring& decimalSeparator);
std::wstring FormatTimingText(double jp2Seconds, double pngSeconds, double tiffSeconds);

// Texts the job shows.
namespace jobtext {
inline const wchar_t* const kSaving = L"Saving...this will take some time!";
inline const wchar_t* const kPngComplete = L"Production of 48-bit PNG  complete!";
inline const wchar_t* const kTifComplete = L"Production of 48-bit TIF  complete!";
inline const wchar_t* const kSaveError = L"Error saving file: ";
inline const wchar_t* const kFinished = L"Finished";
inline const wchar_t* const kFailed = L"Failed to process file: ";
inline const wchar_t* const kMissing = L"Some source files missing";
inline const wchar_t* const kNoFormat = L"No output format chosen: select PNG or TIFF";
}  // namespace jobtext
