#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs the whole
# test suite.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build -DMARVESA_WERROR=ON
cd "$ROOT/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 300
