#!/usr/bin/env bash
# The release package: build/dist/Bandweave-<version>-win64.zip with Bandweave.exe,
# bandweave-cli.exe, the README and the third-party notices. Builds the Windows tree first
# when the programs are missing.
#   scripts/dist.sh [build-dir]   (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-build/windows}
gui=$tree/Bandweave.exe
cli=$(find "$tree" -name bandweave-cli.exe -print -quit 2>/dev/null || true)
if [ ! -f "$gui" ] || [ -z "$cli" ]; then
  scripts/build.sh windows
  cli=$(find "$tree" -name bandweave-cli.exe -print -quit)
fi
[ -f "$gui" ] || { echo "dist: $gui missing" >&2; exit 1; }
[ -n "$cli" ] && [ -f "$cli" ] || { echo "dist: bandweave-cli.exe missing" >&2; exit 1; }
command -v zip >/dev/null || { echo "dist: zip missing (scripts/install-deps.sh)" >&2; exit 1; }

version=$(sed -n 's/^project(Bandweave VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=Bandweave-${version:-unknown}-win64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/notices"
cp "$gui" "$cli" "$stage/$name/"
cp README.md "$stage/$name/README.md"
[ -f docs/screenshot.png ] && mkdir -p "$stage/$name/docs" && cp docs/screenshot.png "$stage/$name/docs/"
cp third_party/NOTICES/*.txt "$stage/$name/notices/"
mkdir -p build/dist
out=$PWD/build/dist/$name.zip
rm -f "$out"
(cd "$stage" && zip -qr -X "$out" "$name")
echo "dist: $out"
unzip -l "$out" | tail -n +4 | head -n -2 | awk '{print "  " $4 " (" $1 " bytes)"}'
