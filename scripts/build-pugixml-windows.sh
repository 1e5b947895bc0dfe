#!/usr/bin/env bash
# Cross-builds a static pugixml for x86_64-w64-mingw32 from Debian's source package and prints
# its install prefix on stdout - nothing else:
#   cmake ... -DBANDWEAVE_PUGIXML_PREFIX="$(scripts/build-pugixml-windows.sh)"
# The recipe is scripts/cross-build.sh's. Build log: $BANDWEAVE_CACHE/pugixml-win64.log.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=cross-build.sh
source "$here/cross-build.sh"

# The library alone, as Debian configures it (no wide-character mode, XPath kept).
cross_build pugixml "include/pugixml.hpp include/pugiconfig.hpp lib/libpugixml.a" \
  -DPUGIXML_BUILD_TESTS=OFF
