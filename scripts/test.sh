#!/usr/bin/env bash
# Installs what is missing, checks that the C++ files follow .clang-format
# (check-format.sh), builds with warnings as errors and runs the whole test
# suite: on database files and, for the tests registered a second time
# ("_pg"), on a PostgreSQL server of its own, started in a temporary folder
# and stopped at the end, also when a test fails; then builds and runs it a
# second time under the sanitizers.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/scripts/test-server.sh"
source "$ROOT/scripts/check-format.sh"

# The whole suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of its own ($ROOT/build-asan;
# no benchmarks, lighter optimisation to build faster). The first report of
# either sanitizer ends its test program with an error, which fails the run.
# Leaks: see scripts/lsan.supp.
sanitizer_pass() {
    local dir="$ROOT/build-asan"
    local flags="-O1 -g1 -DNDEBUG"
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" \
        -DMARVESA_SANITIZE=ON -DMARVESA_BENCH=OFF >/dev/null
    cmake --build "$dir" -j "$(($(nproc) + 1))"
    (
        cd "$dir"
        export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
        export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
        export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 600
    )
}

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${FORMAT_PACKAGES[@]}"
# MARVESA_SKIP_FORMAT_CHECK=1 leaves the format check out, for a run on a tree
# that is known not to be formatted yet; the CI never sets it.
if [ "${MARVESA_SKIP_FORMAT_CHECK:-}" != 1 ]; then
    check_format
fi
# Line tables only (-g1): enough for a debugger's backtrace, and the build
# takes a good part less time than with full debugging information.
build -DMARVESA_WERROR=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

SERVER_DIR="$(mktemp -d "${TMPDIR:-/tmp}/marvesa-pg.XXXXXX")"
cleanup() {
    stop_test_server
    rm -rf "$SERVER_DIR"
}
trap cleanup EXIT
start_test_server "$SERVER_DIR"

cd "$ROOT/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 300

sanitizer_pass
