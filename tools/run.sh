#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's batch job on the two sample documents,
# or runs the program with the arguments given (paths taken from the caller's folder).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/tools/deps.sh"
bash "$root/tools/build.sh" build
program="$root/build/bin/plumweave"
if [ $# -eq 0 ]; then
  "$program" "$root/samples/Sample.kvf" -opc
  set -- "$root/samples/Material.kvf" -opc
fi
exec "$program" "$@"
