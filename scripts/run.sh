#!/usr/bin/env bash
# Installs what is missing, builds, prepares the runtime folder and starts
# Marvesa in it:
#   runtime/work/          the program's working directory
#   runtime/dB/dbQuaz.mdb  its database (created when missing, never overwritten)
# The database folder and file hold personal data: they are made readable by
# their owner alone (an existing folder keeps the access it was given).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
# Only what running needs; the test command builds the tests and benchmarks.
BUILD_TARGETS="marvesa marvesa-initdb" build

RUNTIME="${MARVESA_RUNTIME:-$ROOT/runtime}"
mkdir -p "$RUNTIME/work"
if [ ! -d "$RUNTIME/dB" ]; then
    mkdir -m 700 "$RUNTIME/dB"
fi
if [ ! -e "$RUNTIME/dB/dbQuaz.mdb" ]; then
    "$ROOT/build/tools/marvesa-initdb" "$RUNTIME/dB/dbQuaz.mdb"
fi
cd "$RUNTIME/work"
exec "$ROOT/build/src/app/marvesa"
