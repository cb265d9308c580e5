#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's batch job on the sample document.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/deps.sh
bash tools/build.sh build
if [ $# -eq 0 ]; then
  set -- "$root/samples/Sample.kvf" -opc
fi
exec build/bin/plumweave "$@"
