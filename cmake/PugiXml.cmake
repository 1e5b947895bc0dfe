# Bandweave::pugixml: the XML parser under the metadata and GML readers. Native: Debian's
# libpugixml-dev. Windows: the static prefix that scripts/build-pugixml-windows.sh cross-builds
# (BANDWEAVE_PUGIXML_PREFIX).
include(ImportedLibrary)
set(BANDWEAVE_PUGIXML_PREFIX "" CACHE PATH "Prefix of the mingw-built static pugixml")
bandweave_imported_library(Bandweave::pugixml
  PREFIX "${BANDWEAVE_PUGIXML_PREFIX}" LIBRARY lib/libpugixml.a INCLUDE include
  VAR PUGIXML HEADER pugixml.hpp NAMES pugixml)
