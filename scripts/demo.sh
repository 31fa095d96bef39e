#!/usr/bin/env bash
# Sets up, builds and runs the main job: morvalent on the demo scenario of the
# simulated desktop, with its telemetry going to the local ingestion sink.
#
# Environment:
#   SCENARIO        the scenario to run (default: scenarios/demo.json)
#   SNAPSHOTS       where the snapshots go (default: $BUILD_DIR/demo-snapshots, emptied first)
#   RUN_FOR         seconds morvalent runs (default 24: the script, then the uploads)
#   SNAPSHOT_SCALE  pixels per point of the snapshots (default 1)
#   BUILD_DIR       the build directory (default: build/)
# Extra arguments go to morvalent.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}

scenario=${SCENARIO:-$root/scenarios/demo.json}
snapshots=${SNAPSHOTS:-$build/demo-snapshots}
run_for=${RUN_FOR:-24}
scale=${SNAPSHOT_SCALE:-1}

# Every file the program writes (preferences, the telemetry store, its keys)
# goes under a temporary root that is removed afterwards.
work=$(mktemp -d "${TMPDIR:-/tmp}/morvalent-demo.XXXXXX")
sink_pid=""
cleanup() {
  if [ -n "$sink_pid" ]; then
    kill "$sink_pid" 2>/dev/null || true
    wait "$sink_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The local ingestion sink on a free port of 127.0.0.1; it stops by itself
# a minute after the demo should have ended.
sink_seconds=$(awk -v r="$run_for" 'BEGIN { printf "%d", r + 60 }')
"$build/tools/ingestion-sink/ingestion-sink" --port 0 --port-file "$work/sink.port" --log "$work/sink.jsonl" \
  --max-seconds "$sink_seconds" >"$work/sink.out" 2>&1 &
sink_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/sink.port" ] && break
  if ! kill -0 "$sink_pid" 2>/dev/null; then
    echo "demo: the ingestion sink did not start:" >&2
    cat "$work/sink.out" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "$work/sink.port" ]; then
  echo "demo: the ingestion sink did not report its port" >&2
  exit 1
fi
port=$(cat "$work/sink.port")

rm -rf "$snapshots"
mkdir -p "$snapshots"
echo "demo: morvalent --scenario $scenario --snapshots $snapshots --run-for $run_for (telemetry to 127.0.0.1:$port)"
status=0
env XDG_CONFIG_HOME="$work/root/config" XDG_DATA_HOME="$work/root/data" XDG_CACHE_HOME="$work/root/cache" \
  XDG_STATE_HOME="$work/root/state" HOME="$work/root" MORVALENT_INGESTION_URL="http://127.0.0.1:$port" \
  "$build/app/morvalent" --scenario "$scenario" --snapshots "$snapshots" --snapshot-scale "$scale" \
  --run-for "$run_for" "$@" || status=$?

echo
echo "demo: snapshots in $snapshots:"
for png in "$snapshots"/*.png; do
  [ -e "$png" ] && echo "  $(basename "$png")"
done
requests=0
[ -f "$work/sink.jsonl" ] && requests=$(grep -c . "$work/sink.jsonl" || true)
echo "demo: the ingestion sink received $requests request(s)"
if [ "$requests" -gt 0 ]; then
  # Event names, as they appear in the (inflated) request bodies the sink logged:
  # a log's "name" key; a typed property's "name" is followed by its "type".
  events=$(grep -o '\\"name\\":\\"[^\\"]*\\",\\"[a-zA-Z]*\\"' "$work/sink.jsonl" |
    grep -v ',\\"type\\"$' | sed 's/^\\"name\\":\\"\([^\\"]*\)\\".*/\1/' | sort | uniq -c || true)
  if [ -n "$events" ]; then
    echo "demo: analytics events received (count, name):"
    echo "$events" | sed 's/^/  /'
  fi
fi
exit "$status"
