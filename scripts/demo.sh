#!/usr/bin/env bash
# Sets up, builds and runs the main job: morvalent against the simulated desktop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}
exec "$build/app/morvalent" --run-for "${RUN_FOR:-5}" "$@"
