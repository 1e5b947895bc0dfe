// One job of a batch, and what the user asked of every job.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AreaOfInterest.h"
#include "MaskClasses.h"
#include "ProductLayout.h"
#include "SaveFormat.h"

enum class TJobKind {
  BandFile,  // any band of a set: the set beside it
  Product,   // a product folder, its metadata file, a granule, IMG_DATA or a resolution folder
  Zip,       // a product's zip
};

struct TBatchJob {
  std::wstring Input;  // as named or as the search met it
  TJobKind Kind = TJobKind::BandFile;
};

// The options a job runs with, as the console tool was given them. The argument lists are what
// a job is started with (canonical spellings, in the tool's own order), so that a job run on
// its own is the job run in a batch.
struct TJobSettings {
  TSaveFormat Format = TSaveFormat::Tiff;
  TProductRequest Product;  // for product and zip jobs
  bool WorldFile = false;   // .pgw and .png.aux.xml beside each PNG written
  bool Quicklook = false;   // an 8-bit true-colour PNG beside the composite
  bool Preview = false;     // that PNG alone, with no composite
  bool Cog = false;         // the TIFF as a cloud-optimised GeoTIFF
  unsigned Reduce = 0;      // the quicklook (or preview) at 1/2^Reduce resolution; without
                            // either, the composite at that resolution level
  unsigned CompositeReduce() const { return Quicklook || Preview ? 0 : Reduce; }
  std::wstring OutFolder;   // every output goes here (ending in its delimiter); empty: beside the sources
  // Mask with the product's own cloud classification (--mask-clouds, --mask-classes): the
  // outputs' names get "_masked".
  std::optional<TMaskClasses> Mask;
  bool CloudFree = false;  // one cloud-free picture of all the inputs' dates
  // Crop every output to this area (--bbox, --projwin, --aoi), read once; null: whole tiles.
  std::shared_ptr<const TAreaOfInterest> Area;
  // How a job is handed the area ("--bbox" "W,S,E,N"; "--aoi" and a file of its polygons).
  std::vector<std::string> AreaArguments;

  std::vector<std::string> OutputArguments;   // shape every job's outputs: recorded in them
  std::vector<std::string> ProductArguments;  // shape product and zip jobs' outputs: recorded too
  std::vector<std::string> DisplayArguments;  // how a job reports, not what it writes
};

// What a job's outputs record as the software that made them: the program and the arguments
// that shaped them (for --aoi its polygons' fingerprint, not the file's name). A later run
// takes an output with another record for another job's.
std::string JobSoftware(TJobKind kind, const TJobSettings& settings);
