#!/usr/bin/env bash
# Sets up the machine, builds the program and runs it in a sandbox folder that stands in for
# the Windows machine's special folders, then shows what it left there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tallorin sciter_engine

sandbox="$(mktemp -d -t tallorin-sandbox.XXXXXX)"
mkdir -p "$sandbox/ProgramData" "$sandbox/AppData/Roaming"
echo "sandbox: $sandbox"

# The stand-in engine plays the interface: it reads the e-mail address and closes the window.
cat > "$sandbox/scenario.json" <<'SCENARIO'
[
  {"do": "get", "object": "Application", "property": "Email"},
  {"do": "close"}
]
SCENARIO

set +e
PLATFORM_ROOT="$sandbox" VELMORA_LOG_LEVEL="${VELMORA_LOG_LEVEL:-debug}" \
    STAND_IN_ENGINE_SCENARIO="$sandbox/scenario.json" \
    STAND_IN_ENGINE_TRANSCRIPT="$sandbox/transcript.jsonl" \
    build/default/bin/tallorin --crash-uuid 0f8fad5b-d9cb-469f-a165-70867728950e \
    --email user@example.com --product "Velmora Antivirus" --version 14.3
status=$?
set -e
echo "tallorin exited with $status"
echo "what the interface saw:"
sed 's/^/  /' "$sandbox/transcript.jsonl"
echo "files:"
find "$sandbox" -type f -print | sed "s|^$sandbox/|  |"
for log in "$sandbox"/ProgramData/Quorbelin/"Velmora Antivirus"/logs/*.txt; do
    [ -f "$log" ] && { echo "--- $log"; cat "$log"; }
done
exit $status
