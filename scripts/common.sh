# Shared by run.sh and test.sh: installs what is missing and builds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BUILD_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev libgl-dev
    libxlsxwriter-dev libzip-dev libsqlite3-dev libcsv-dev
    fonts-wine
)
TEST_PACKAGES=(python3 python3-openpyxl xvfb xauth qt6-translations-l10n postgresql util-linux
               at-spi2-core dbus-daemon python3-pyatspi xdotool
               librsvg2-bin lintian desktop-file-utils appstream man-db)
# qt6-translations-l10n: Qt's own Italian texts (the standard buttons).
# postgresql, util-linux (runuser): the test suite's own database server;
# util-linux (unshare) also gives tst_backup a small disk of its own.
# at-spi2-core, dbus-daemon, python3-pyatspi, xdotool: the accessibility test
# (tests/a11y/tst_atspi.py) reads the real window as a screen reader does.
# librsvg2-bin, lintian, desktop-file-utils, appstream, man-db: the Debian
# package, its icon sizes and its checks (tests/package/tst_package.py).
RUN_PACKAGES=(xdg-utils qt6-translations-l10n)
# The layout check of the C++ files (check-format.sh): Debian 12's
# clang-format is version 14; git lists the files.
FORMAT_PACKAGES=(clang-format git)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are not installed yet; does nothing (and
# asks nothing) when all are there.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# Configures and builds into $ROOT/build; extra CMake arguments may follow.
# BUILD_TARGETS, when set, names the only targets to build (space-separated).
build() {
    cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    # shellcheck disable=SC2086  # one word per target
    # One job more than processors: a link or a file read never leaves a
    # processor idle.
    cmake --build "$ROOT/build" -j "$(($(nproc) + 1))" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}
