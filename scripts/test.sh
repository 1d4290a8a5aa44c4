#!/usr/bin/env bash
# The whole test run: set-up, the Windows cross build, the native build with sanitizers,
# then every test (native unit tests and the end-to-end tests of the real programs under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" >/dev/null
cmake --build build/win32

# The fuzz targets (clang): the native tests run each of them briefly.
bash scripts/fuzz.sh --build-only

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRT_WIN32_DIR="$root/build/win32" \
      -DKRT_FUZZ_DIR="$root/build/fuzz" >/dev/null
cmake --build build/native

cd build/native
ctest --output-on-failure --timeout 900 -j "${KRT_TEST_JOBS:-2}" "$@"
