#!/usr/bin/env bash
# Release packages: dist/krt42-tools-<version>-win32.zip (i686 programs) and -win64.zip (x86_64),
# each with Vantrel.exe, Quillon.exe, krt42.exe and README_RU.txt, and dist/krt42_<version>_<arch>.deb
# (krt42 and krt42sim for Linux). Every run builds the programs from scratch in its own trees, so a
# package never carries a stale program, and the same sources give byte-identical packages.
#
#   scripts/package.sh [--out DIR] [--build DIR]
#
# --out: where the packages go (default dist/); --build: root of the three build trees (default
# build/package); both are taken relative to the current directory.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/dist
build=$root/build/package

die() {
  echo "package: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
    --out) [ $# -ge 2 ] || die "--out needs a folder"; out=$2; shift 2 ;;
    --build) [ $# -ge 2 ] || die "--build needs a folder"; build=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done

for tool in cmake ninja python3 iconv i686-w64-mingw32-g++ i686-w64-mingw32-windres \
  x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres g++ dpkg-deb dpkg-shlibdeps dpkg-buildflags; do
  command -v "$tool" >/dev/null || die "$tool is missing; sudo ./scripts/setup.sh installs it"
done

version=$(head -n 1 "$root/VERSION")
[ -n "$version" ] || die "VERSION is empty"
mkdir -p "$out" "$build"
out=$(cd "$out" && pwd)
build=$(cd "$build" && pwd)

# name toolchain: the zip suffix and the cross toolchain that builds for it.
for target in win32:i686 win64:x86_64; do
  name=${target%%:*}
  tree=$build/$name
  log=$build/$name.log
  rm -rf "$tree"
  echo "package: building $name programs in $tree"
  if ! { cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-${target#*:}-mingw32.cmake" &&
    cmake --build "$tree" --target Vantrel Quillon krt42; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    die "the $name build failed; full log: $log"
  fi
  python3 "$root/scripts/package/make_zip.py" "$out/krt42-tools-$version-$name.zip" \
    "$root/scripts/package/README_RU.txt" "$tree/configurator/Vantrel.exe" "$tree/loader/Quillon.exe" \
    "$tree/cli/krt42.exe"
done

# The Linux tools: a Release build without sanitizers or tests, with the flags Debian builds its
# own packages with (hardening included), and the source and build folders mapped away so that
# neither reaches the programs.
tree=$build/linux
log=$build/linux.log
arch=$(dpkg --print-architecture)
rm -rf "$tree"
echo "package: building the Linux tools in $tree"
# No debug information: the programs are stripped, and it only slows the build down.
flags=$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g \
  dpkg-buildflags --get CXXFLAGS)
flags="$flags $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)"
flags="$flags -ffile-prefix-map=$root=. -ffile-prefix-map=$tree=build"
ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
if ! { cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRT_SANITIZE=OFF \
  -DKRT_TESTS=OFF -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" &&
  cmake --build "$tree" --target krt42 krt42sim; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  die "the Linux build failed; full log: $log"
fi
"$root/scripts/package/make_deb.sh" "$out/krt42_${version}_$arch.deb" "$tree"

echo "$out/krt42-tools-$version-win32.zip"
echo "$out/krt42-tools-$version-win64.zip"
echo "$out/krt42_${version}_$arch.deb"
