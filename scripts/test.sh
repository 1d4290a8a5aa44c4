#!/usr/bin/env bash
# The whole test run: set-up, the two Windows cross builds (i686 and x86_64), the fuzz targets, the
# native build with sanitizers, then every test (native unit tests, short fuzz runs, the end-to-end
# tests of the real programs under Wine, the package check).
#   KRT_WINE_ARCH=32|64   the programs the end-to-end tests run (default: 32-bit where the host can)
#   extra arguments go to ctest (e.g. -L e2e, -R vantrel)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# Which programs the end-to-end tests run, and why; fails here at once when a forced choice cannot work.
PYTHONPATH="$root/tests" python3 -m krtrig arch | sed -n '2s/^/e2e: testing /p'

for arch in i686 x86_64; do
    dir=build/win$([ "$arch" = i686 ] && echo 32 || echo 64)
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw32.cmake" >/dev/null
    cmake --build "$dir"
done

# The fuzz targets (clang): the native tests run each of them briefly.
bash scripts/fuzz.sh --build-only

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKRT_WIN32_DIR="$root/build/win32" -DKRT_WIN64_DIR="$root/build/win64" \
      -DKRT_FUZZ_DIR="$root/build/fuzz" >/dev/null
cmake --build build/native

cd build/native
ctest --output-on-failure --timeout 900 -j "${KRT_TEST_JOBS:-2}" "$@"
