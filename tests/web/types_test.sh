#!/usr/bin/env bash
# The page library as an authority's developers get it: the package built
# and packed by npm, installed into a fresh project, and the sample page's
# script, the quick start's page code and a page module type-checked against
# its declarations by tsc.
#   types_test.sh <typescript folder>
set -euo pipefail
tsc="$(cd "$1" && pwd)/bin/tsc"
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/quietly.sh"
[[ -f "$tsc" ]] || { echo "no TypeScript at $1 (scripts/setup.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package="$work/package"
node "$root/web/build.js" --out "$package" --download-url https://ca.example.com/npzvcert/

quietly "packing the page library" npm pack --pack-destination "$work" "$package"
tarball=$(cd "$work" && echo *.tgz)
echo "packed $tarball: $(tar -tzf "$work/$tarball" | sort | tr '\n' ' ')"
# Only the package's own files, and everything its manifest names.
[[ $(tar -tzf "$work/$tarball" | sort | tr '\n' ' ') == \
   "package/README.md package/dist/zvcert.d.ts package/dist/zvcert.js package/dist/zvcert.mjs package/package.json " ]]

mkdir "$work/project"
cd "$work/project"
echo '{ "name": "portal", "private": true }' > package.json
quietly "installing the packed page library" npm install --offline --no-audit --no-fund "$work/$tarball"
cp "$root/demo/portal.js" "$root/demo/enroll.d.ts" "$root/tests/web/module_page.mjs" .
source "$root/tests/web/quickstart_blocks.sh"
quickstart_block "$root/web/README.md" page.mjs > quickstart.mjs
[[ -s quickstart.mjs ]]
cat > tsconfig.json <<'JSON'
{
  "compilerOptions": {
    "strict": true, "allowJs": true, "checkJs": true, "noEmit": true,
    "target": "es2022", "module": "nodenext", "moduleResolution": "nodenext",
    "lib": ["es2022", "dom"], "types": [], "moduleDetection": "legacy"
  },
  "files": ["portal.js", "enroll.d.ts", "module_page.mjs", "quickstart.mjs"]
}
JSON
node "$tsc" -p tsconfig.json
echo "tsc $(node "$tsc" --version): the sample page's script, the quick start and a page module check"
