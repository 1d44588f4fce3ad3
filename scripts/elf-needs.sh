#!/usr/bin/env bash
# What a built library or program needs from the machine it runs on:
#   NEEDED:   the shared libraries it names, in order
#   RUNPATH:  its library search path (RPATH too), "-" when it has none
#   highest:  the highest version it requires of each versioned family
#             (GLIBC_, GLIBCXX_, CXXABI_, GCC_, JSONCPP_...)
# Usage: scripts/elf-needs.sh FILE [READELF]   (READELF: e.g. a cross readelf)
set -euo pipefail
file=${1:?usage: elf-needs.sh FILE [READELF]}
readelf=${2:-readelf}
[ -f "$file" ] || { echo "elf-needs: no such file: $file" >&2; exit 2; }

dyn=$("$readelf" -d -W "$file")
needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dyn" | tr '\n' ' ')
runpath=$(sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p' <<<"$dyn" | tr '\n' ' ')

# Version requirements ("Name: GLIBC_2.32" under the version needs), the
# highest per family by version order.
highest=$("$readelf" -V -W "$file" |
  sed -n '/Version needs section/,$ s/.*Name: \([A-Za-z_]*_[0-9][0-9.]*\).*/\1/p' |
  sort -u |
  awk '{ fam = $0; sub(/_[0-9][0-9.]*$/, "", fam); print fam, $0 }' |
  sort -k1,1 -k2,2V |
  awk '{ top[$1] = $2 } END { for (f in top) print top[f] }' |
  sort | tr '\n' ' ')

echo "NEEDED: ${needed% }"
runpath=${runpath% }
echo "RUNPATH: ${runpath:--}"
echo "highest: ${highest% }"
