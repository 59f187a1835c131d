#!/usr/bin/env bash
# Runs one crash report end to end without a browser, in a sandbox:
# a folder that stands in for the Windows machine's special folders (with a crash dump and the
# product's log files), the report-service double on the ports the build names, and the
# stand-in engine playing the user (reads the address, sends a description, closes the window).
# Then it shows what the service received and what was left on disk.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tallorin sciter_engine

sandbox="$(mktemp -d -t tallorin-sandbox.XXXXXX)"
data="$sandbox/ProgramData/Quorbelin/Velmora Antivirus"
crash_uuid=0f8fad5b-d9cb-469f-a165-70867728950e
mkdir -p "$sandbox/AppData/Roaming" "$data/crash_info" "$data/logs/service" "$data/settings"
head -c 4096 /dev/urandom > "$data/crash_info/$crash_uuid.dmp"
echo "an earlier run of the product" > "$data/logs/2026.12.01_10.00.00_tallorin_pid=7.txt"
echo "scanner service log" > "$data/logs/service/scanner.log"
# The double's certificate is made here and self-signed: the marker switches verification off.
touch "$data/settings/verify-peer"
echo "sandbox: $sandbox"

# The report-service double on the two loopback ports that the default preset compiles in.
service="$sandbox/report-service"
mkdir -p "$service/replies"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -keyout "$service/loopback.key" -out "$service/loopback.pem" -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
echo '{"status": 200, "body": "{\"id\": 4711, \"message\": \"thanks\"}"}' > "$service/replies/bug.json"
base_url=$(sed -n 's/^TALLORIN_PRODUCTION_BASE_URL:[A-Z]*=//p' build/default/CMakeCache.txt)
staging_url=$(sed -n 's/^TALLORIN_STAGING_BASE_URL:[A-Z]*=//p' build/default/CMakeCache.txt)
port_of() { echo "$1" | sed -E 's|^https://[^:/]+:([0-9]+)/.*$|\1|'; }
python3 tests/report_service/report_service.py --state "$service" \
    --cert "$service/loopback.pem" --key "$service/loopback.key" \
    --production-port "$(port_of "$base_url")" --staging-port "$(port_of "$staging_url")" &
service_pid=$!
trap 'kill $service_pid 2>/dev/null || true' EXIT
# It waits (up to ten minutes) while a test run elsewhere on the machine holds the ports, then
# (up to 90 s) while another program still uses them.
while [ ! -f "$service/ready" ] && kill -0 $service_pid 2>/dev/null; do sleep 0.1; done
[ -f "$service/ready" ] || { echo "the report-service double did not start"; exit 1; }

# The stand-in engine plays the interface's part.
cat > "$sandbox/scenario.json" <<'SCENARIO'
[
  {"do": "get", "object": "Application", "property": "Email"},
  {"do": "call", "object": "Localizer", "method": "Localize", "arguments": ["Critical Error"]},
  {"do": "call", "object": "Application", "method": "SendReport",
   "arguments": ["user@example.com", "The scanner stopped while updating."]},
  {"do": "close"}
]
SCENARIO

set +e
PLATFORM_ROOT="$sandbox" VELMORA_LOG_LEVEL="${VELMORA_LOG_LEVEL:-debug}" \
    STAND_IN_ENGINE_SCENARIO="$sandbox/scenario.json" \
    STAND_IN_ENGINE_TRANSCRIPT="$sandbox/transcript.jsonl" \
    https_proxy= HTTPS_PROXY= all_proxy= ALL_PROXY= \
    build/default/bin/tallorin --crash-uuid "$crash_uuid" \
    --email user@example.com --product "Velmora Antivirus" --version 14.3.43577.3505
status=$?
set -e
echo "tallorin exited with $status"
echo
echo "what the interface saw:"
sed 's/^/  /' "$sandbox/transcript.jsonl"
echo
echo "what the report service received (bodies shortened):"
python3 - "$service/requests" <<'PY'
import json, os, sys
folder = sys.argv[1]
for name in sorted(os.listdir(folder), key=lambda n: (len(n), n)):
    if not name.endswith(".json"):
        continue
    meta = json.load(open(os.path.join(folder, name)))
    body = open(os.path.join(folder, name[:-5] + ".body"), "rb").read().decode("utf-8", "replace") \
        if os.path.exists(os.path.join(folder, name[:-5] + ".body")) else meta.get("body", "")
    print(f"  POST {meta['path']} on port {meta['port']}, {len(body)} bytes")
    try:
        doc = json.loads(body)
        for key, value in doc.items():
            text = json.dumps(value, ensure_ascii=False)
            print(f"    {key}: {text[:100]}{'...' if len(text) > 100 else ''}")
    except ValueError:
        print("    (not JSON)")
PY
echo
echo "left in the sandbox's data folder:"
find "$data" -print | sed "s|^$data|  .|"
for log in "$data"/logs/*.txt; do
    [ -f "$log" ] && { echo; echo "--- the run's log: $log"; cat "$log"; }
done
exit $status
