#!/bin/sh
# Installs the build tree into a scratch prefix under umask 000: every folder must be 0755, every file 0644
# or, for programs and libraries, 0755; pkg-config must find the prefix the files went to, for this build's
# library folder and for a multiarch one.
# Usage: install_test.sh <build folder> <source folder>
set -eu
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
resolved() { (cd "$1" 2>/dev/null && pwd -P) || echo "missing $1"; }
# A variable of the pkg-config file in the folder $1, as a resolved folder.
variable() { resolved "$(PKG_CONFIG_PATH="$1" pkg-config --variable="$2" scriblet)"; }

umask 000
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; exit 1; }

wrong=$(find "$prefix" \( -type d ! -perm 0755 \) -o \( -type f ! -perm 0644 ! -perm 0755 \))
[ -z "$wrong" ] || fail "open to others: $wrong"
for made in bin/wayfold bin/scriblet-log share/quillmere-wayfold/Servers.json; do
  [ -f "$prefix/$made" ] || fail "$made was not installed"
done

pc=$(find "$prefix" -name scriblet.pc)
[ "$(variable "$(dirname "$pc")" prefix)" = "$(resolved "$prefix")" ] || fail "prefix of $pc"

deep="$scratch/deep"
multiarch=lib/x86_64-linux-gnu
mkdir -p "$deep/$multiarch/pkgconfig" "$deep/include"
cmake -DTEMPLATE="$source/scriblet/scriblet.pc.in" -DOUTPUT="$deep/$multiarch/pkgconfig/scriblet.pc" \
  -DCMAKE_INSTALL_LIBDIR=$multiarch -DCMAKE_INSTALL_INCLUDEDIR=include -DPROJECT_VERSION=0 \
  -P "$source/cmake/PkgConfigFile.cmake"
[ "$(variable "$deep/$multiarch/pkgconfig" prefix)" = "$(resolved "$deep")" ] || fail "prefix for $multiarch"
[ "$(variable "$deep/$multiarch/pkgconfig" libdir)" = "$(resolved "$deep/$multiarch")" ] || fail "libdir for $multiarch"
exit $status
