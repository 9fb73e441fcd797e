#!/usr/bin/env bash
# Installs every Debian package Tessmira needs to build, run and test.
# Idempotent: asks dpkg first and touches apt only when something is missing.
set -euo pipefail

# Build: compiler, CMake/Ninja, GoogleTest, clang with its sanitizer and
# libFuzzer runtimes; the formatter and the two static analysers.
build_pkgs=(g++ cmake ninja-build libgtest-dev clang libclang-rt-14-dev clang-format clang-tidy
  cppcheck)
# Qt 6 Widgets; the JPEG and GIF readers come with libqt6gui6, TIFF and WebP
# with the image formats plugins. The picture layer's own decoders: libheif
# (HEIF, AVIF), libjxl (JPEG XL), libjpeg (CMYK JPEGs), Little CMS (colour
# management), zlib (PNG profiles), XCB (the X display's profile).
qt_pkgs=(qt6-base-dev qt6-image-formats-plugins libheif-dev libjxl-dev libjpeg62-turbo-dev
  liblcms2-dev zlib1g-dev libxcb1-dev pkg-config)
# The Windows builds: MinGW-w64 with POSIX threads for 64 and 32 bits, zlib
# built for both (to bound a PNG's embedded profile before WIC reads it),
# GoogleTest's sources to build it for Windows, Wine of both widths to run
# their tests.
windows_pkgs=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev googletest wine64)
# 32-bit Wine comes from Debian's i386 architecture, whose index a mirror
# caught mid-sync may not serve: without it the 32-bit build is still made,
# only its tests are left out (test.sh says so).
optional_pkgs=(wine32:i386)
# The packages: CPack's Debian package checked by lintian, the desktop entry
# and AppStream validators, and NSIS for the Windows installers.
packaging_pkgs=(dpkg-dev lintian desktop-file-utils appstream nsis)
# End-to-end tests under a real X server, screenshots, a window manager;
# xdg-utils for the association tests, systemd (systemd-analyze, systemd-escape)
# and D-Bus (a session bus, its monitor) for the schedule tests; rsync, feh
# and python3 for benchmarks only.
test_pkgs=(xvfb xauth xdotool x11-utils imagemagick openbox xdg-utils systemd dbus-bin
  dbus-daemon rsync feh python3)
# Test pictures of every type and the colour references: the encoders, Little
# CMS's transicc, and profiles to tag pictures with (libgs-common's CMYK one:
# the free profile packages hold none).
picture_test_pkgs=(webp libavif-bin libheif-examples libjxl-tools liblcms2-utils colord-data
  icc-profiles-free libgs-common)

# A script that has already run this one (test.sh before package.sh) says so.
[ -z "${TESSMIRA_SETUP_DONE:-}" ] || exit 0

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]; }
missing=()
for p in "${build_pkgs[@]}" "${qt_pkgs[@]}" "${windows_pkgs[@]}" "${packaging_pkgs[@]}" \
  "${test_pkgs[@]}" "${picture_test_pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
optional_missing=()
for p in "${optional_pkgs[@]}"; do
  installed "$p" || optional_missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#optional_missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]} ${optional_missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails an index now and then: tried again, and
# when it still fails the lists that did come in may well be enough.
for attempt in 1 2 3; do
  "${sudo_cmd[@]}" apt-get update -q && break
  echo "setup: apt-get update failed (attempt $attempt)"
  sleep $((attempt * 10))
done
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
for p in "${optional_missing[@]}"; do
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "$p" ||
    echo "setup: $p could not be installed; what needs it is left out"
done
