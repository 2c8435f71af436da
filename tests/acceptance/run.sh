#!/usr/bin/env bash
# The acceptance test as ctest runs it: installs the build into OUTDIR/install, then runs the scenario
# in its own desktop session (session.sh).
#   run.sh BUILD_DIR OUTDIR
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cmake --install "$build" --prefix "$out/install" >"$out/install.log"
exec bash "$(dirname "$0")/session.sh" "$out/install" "$out"
