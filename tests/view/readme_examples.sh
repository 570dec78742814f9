#!/usr/bin/env bash
# Compiles the C examples of README.md against the public headers and the
# shared library, so that the documentation keeps building.
#   readme_examples.sh <README.md> <C compiler> <include dir> <library dir> <work dir>
set -euo pipefail
readme=$1 cc=$2 include=$3 libdir=$4 work=$5
mkdir -p "$work"
count=0
for section in "## Using the device API from C" "## Showing video from C"; do
  count=$((count + 1))
  awk -v section="$section" '$0 == section { inside = 1; next }
    inside && /^```c$/ { code = 1; next }
    code && /^```$/ { exit }
    code { print }' "$readme" >"$work/example$count.c"
  if [[ ! -s "$work/example$count.c" ]]; then
    echo "readme_examples: no C example under '$section'" >&2
    exit 1
  fi
  "$cc" -std=c11 -Wall -Wextra -Werror -I"$include" "$work/example$count.c" \
    -L"$libdir" -Wl,-rpath,"$libdir" -llumvara -o "$work/example$count"
  echo "readme_examples: '$section' builds"
done
