# Shared by scripts/run and scripts/test: package installation and the Linux build.
# shellcheck shell=bash

QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Packages needed to build and run the programs on Linux.
QV_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libarchive-dev zlib1g-dev nettle-dev libdeflate-dev libglib2.0-dev libgtk-4-dev libadwaita-1-dev)
# Extra packages the test suites and the Windows cross build need.
QV_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev python3 7zip zip unzip libarchive-tools
                  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev time zlib1g-dev
                  nsis)

# What the Debian package needs to be built and checked (scripts/build-deb, label package).
QV_PACKAGE_PACKAGES=(dpkg-dev fakeroot lintian desktop-file-utils)
# What the desktop tests need (label gtk): a virtual display, a D-Bus session
# with the accessibility bus, Debian's pyatspi, and screenshots.
QV_GTK_TEST_PACKAGES=(xvfb xauth dbus dbus-daemon dbus-bin at-spi2-core python3-pyatspi gir1.2-atspi-2.0
                      imagemagick)

# What the Wine tests need on top of the cross compiler (scripts/wine-env).
QV_WINE_PACKAGES=(wine wine64 xvfb xauth x11-utils imagemagick locales)

qv_log() { printf '== %s\n' "$*" >&2; }

qv_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages of the arguments that are not installed yet.
qv_ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  qv_log "installing: ${missing[*]}"
  qv_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  qv_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures (first time only) and builds the Linux preset incrementally.
qv_build_linux() {
  cd "$QV_ROOT" || return 1
  if [ ! -f build/linux/CMakeCache.txt ]; then
    cmake --preset linux "$@" >/dev/null || return 1
  elif [ $# -gt 0 ]; then
    cmake --preset linux "$@" >/dev/null || return 1
  fi
  cmake --build --preset linux
}
