#!/usr/bin/env bash
# Checks that the folders under src/ keep their layers: a folder includes only from its own layer
# or the ones below it, and no two folders include each other, however indirectly. Prints each
# include that runs up and any circle, and exits non-zero when there is one.
#   scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# Layers, top first; docs/CONVENTIONS.md says what each folder holds.
declare -A layer=(
  [app]=3 [cli]=3
  [batch]=2 [products]=2 [dragdrop]=2 [settings]=2 [composition]=2
  [clouds]=1 [aoi]=1 [imageio]=1 [gui]=1 [utils]=1
)

status=0
# The folder each of our headers lives in, by its name (names are unique across src/).
declare -A home=()
for folder in src/*/; do
  name=$(basename "$folder")
  if [ -z "${layer[$name]:-}" ]; then
    echo "src/$name: a folder with no layer; give it one here and in docs/CONVENTIONS.md"
    status=1
    continue
  fi
  for header in "$folder"*.h; do
    [ -e "$header" ] || continue
    base=$(basename "$header")
    if [ -n "${home[$base]:-}" ] && [ "${home[$base]}" != "$name" ]; then
      echo "$base is in both src/${home[$base]} and src/$name"
      status=1
    fi
    home[$base]=$name
  done
done

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
for folder in src/*/; do
  from=$(basename "$folder")
  [ -n "${layer[$from]:-}" ] || continue
  while IFS=: read -r file line text; do
    [[ $text =~ \"([^\"]*)\" ]] || continue
    included=${BASH_REMATCH[1]}
    to=${home[$(basename "$included")]:-}
    [ -n "$to" ] && [ "$to" != "$from" ] || continue
    echo "$from $to" >>"$edges"
    if [ "${layer[$to]}" -gt "${layer[$from]}" ]; then
      echo "$file:$line: src/$from includes $included from src/$to, a layer above it"
      status=1
    fi
  done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder"*.h "$folder"*.cpp 2>/dev/null || true)
done

# tsort names a loop on its standard error when the folders' includes go round in a circle.
if ! sort -u "$edges" | tsort >/dev/null 2>"$edges.loop"; then
  echo "the folders include each other in a circle:"
  sed -n 's/^tsort: //p' "$edges.loop" | grep -v 'input contains a loop' | sed 's/^/  src\//'
  status=1
fi
rm -f "$edges.loop"

[ $status -eq 0 ] && echo "layers hold: ${#home[@]} headers in $(ls -d src/*/ | wc -l) folders"
exit $status
