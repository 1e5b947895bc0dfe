// What the console tool writes besides the composite when asked: a world file and GDAL's
// .aux.xml beside a PNG, and a quicklook.
#pragma once
#include <string>

#include "BatchJob.h"
#include "CompositeJob.h"
#include "Georeference.h"

// A world file and GDAL's .aux.xml beside png, placing it on grid; false when either could not
// be written (said on stderr).
bool WriteGridSideFiles(const std::wstring& png, const TGridGeoreference& grid);

// Once the composite of names was saved, while its bands are still there (a zip's unpacked ones
// too): the quicklook and world files asked for, the outputs recording software. With --preview
// composite is the preview's own name. Says on stderr what it wrote and why it wrote less; false
// when something asked for could not be written.
bool WriteExtraOutputs(const TBandNames& names, const std::wstring& composite, const TJobSettings& settings,
                       const std::string& software);
