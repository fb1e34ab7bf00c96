#!/usr/bin/env bash
# Installs what is missing, builds, prepares the runtime folder and starts
# Marvesa in it:
#   runtime/work/          the program's working directory
#   runtime/dB/dbQuaz.mdb  its database (created when missing, never overwritten)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
# Only what running needs; the test command builds the tests and benchmarks.
BUILD_TARGETS="marvesa marvesa-initdb" build

RUNTIME="${MARVESA_RUNTIME:-$ROOT/runtime}"
mkdir -p "$RUNTIME/work" "$RUNTIME/dB"
if [ ! -e "$RUNTIME/dB/dbQuaz.mdb" ]; then
    "$ROOT/build/tools/marvesa-initdb" "$RUNTIME/dB/dbQuaz.mdb"
fi
cd "$RUNTIME/work"
exec "$ROOT/build/src/app/marvesa"
