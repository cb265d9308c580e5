#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's batch job on the two sample documents.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/deps.sh
bash tools/build.sh build
if [ $# -eq 0 ]; then
  build/bin/plumweave "$root/samples/Sample.kvf" -opc
  set -- "$root/samples/Material.kvf" -opc
fi
exec build/bin/plumweave "$@"
