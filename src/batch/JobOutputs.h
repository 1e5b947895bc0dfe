// The files a job writes and reads, known before it runs: what resume compares, what the clash
// check looks for, and the names the console tool writes its side files under. Every name a job
// writes comes from here.
#pragma once
#include <string>
#include <vector>

#include "BatchJob.h"
#include "CompositeJob.h"

struct TJobFiles {
  std::wstring Composite;               // empty when it cannot be known before the job runs; with
                                        // --preview the preview, the one picture written
  std::vector<std::wstring> SideFiles;  // the quicklook and world files asked for
  std::vector<std::wstring> Sources;    // what the outputs are made from: three bands, or the zip
  TBandNames Bands;                     // the band set (for a zip, the names inside it)
  // With an area of interest that misses the band set's tile: what the job would say ("The
  // area of interest does not overlap tile T29UNU"); the job has nothing to write.
  std::wstring Outside;
};

// With an area of interest, the bands' headers are read for the window that goes into the
// names; a zip's bands are not, so its names are known only once it runs.
TJobFiles JobFiles(const TBatchJob& job, const TJobSettings& settings);

// The composite of a band set in the format and folder asked for.
std::wstring CompositeName(const TBandNames& names, const TJobSettings& settings);
// The side files asked for beside a composite: a PNG composite's world file and .aux.xml, the
// quicklook, and the quicklook's world file and .aux.xml.
std::vector<std::wstring> SideFileNames(const std::wstring& composite, const TJobSettings& settings);

// name.png -> name.pgw
std::wstring WorldFileName(const std::wstring& png);
std::wstring AuxXmlName(const std::wstring& png);

// The folder with its delimiter, as the output folder is held.
std::wstring FolderWithDelimiter(const std::wstring& folder);
// Makes the output folder (and those above it) when missing; false with the reason.
bool MakeOutputFolder(const std::wstring& folder, std::wstring& why);
