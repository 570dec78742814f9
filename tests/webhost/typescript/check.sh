#!/usr/bin/env bash
# Compiles a page script that uses every member against the generated
# declarations (lumvara.d.ts from the build) and lumvara.js's own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/share/lumvara/lumvara.d.ts" "$here/../../../apps/webhost/web/lumvara-control.d.ts" "$here/page.ts" "$work/"
"$here/../browser/node_modules/.bin/tsc" --noEmit --strict --target es2020 --lib es2020,dom \
  "$work/page.ts" "$work/lumvara-control.d.ts"
echo "page script type-checks against the declarations"
