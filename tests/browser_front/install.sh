#!/usr/bin/env bash
# install.sh FOLDER: installs this folder's locked npm packages into FOLDER with `npm ci`
# (registry only, no browser download), unless that very lock file is installed there already.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
target="$1"
mkdir -p "$target"
cp "$here/package.json" "$here/package-lock.json" "$target/"
stamp="$target/node_modules/.installed-package-lock.json"
if cmp -s "$here/package-lock.json" "$stamp"; then
    exit 0
fi
(cd "$target" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
cp "$here/package-lock.json" "$stamp"
