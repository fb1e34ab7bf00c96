#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs the whole
# test suite: on database files and, for the tests registered a second time
# ("_pg"), on a PostgreSQL server of its own, started in a temporary folder
# and stopped at the end, also when a test fails.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/scripts/test-server.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build -DMARVESA_WERROR=ON

SERVER_DIR="$(mktemp -d "${TMPDIR:-/tmp}/marvesa-pg.XXXXXX")"
cleanup() {
    stop_test_server
    rm -rf "$SERVER_DIR"
}
trap cleanup EXIT
start_test_server "$SERVER_DIR"

cd "$ROOT/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 300
