#!/usr/bin/env bash
# Sets up the machine, builds the program and opens the crash window for real in a sandbox
# folder that stands in for the Windows machine's special folders, against the report-service
# double. With a display the window is a Chromium app window for you to use; without one it
# runs headless, is filled in and sent as a user would, and the screenshots are kept.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tallorin sciter_engine
modules="$PWD/build/default/tests/browser_front/npm"
bash tests/browser_front/install.sh "$modules" >/dev/null

sandbox="$(mktemp -d -t tallorin-sandbox.XXXXXX)"
echo "sandbox: $sandbox"
mode=fill
if [ -n "${DISPLAY:-}" ]; then
    mode=show
fi

set +e
BROWSER_FRONT_MODULES="$modules" node tests/browser_front/run_window.mjs "$sandbox" \
    "$PWD/build/default/bin/tallorin" "$mode"
status=$?
set -e
echo "files:"
find "$sandbox" -type f -print | sed "s|^$sandbox/|  |"
for log in "$sandbox"/ProgramData/Quorbelin/"Velmora Antivirus"/logs/*.txt; do
    [ -f "$log" ] && echo "log: $log"
done
exit $status
