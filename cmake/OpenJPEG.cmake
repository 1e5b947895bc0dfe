# Provides the imported target OpenJPEG::openjp2, the JPEG 2000 codec the band decoder uses.
# Native: Debian's libopenjp2-7-dev. Windows: the static libopenjp2.a that
# scripts/build-freeimage-windows.sh builds into the FreeImage prefix for FreeImage itself.
include(ImportedLibrary)
bandweave_imported_library(OpenJPEG::openjp2
  PREFIX "${BANDWEAVE_FREEIMAGE_PREFIX}" LIBRARY lib/libopenjp2.a INCLUDE include/openjpeg-2.5
  DEFINITIONS OPJ_STATIC
  VAR OPENJPEG HEADER openjpeg.h PATH_SUFFIXES openjpeg-2.5 NAMES openjp2)
