#!/usr/bin/env bash
# Builds the Linux tools alone, krt42 and krt42sim, in build/tools: a Release build without
# sanitizers, the Windows trees or the tests, so it takes seconds. With --install it also installs
# them, with their manual pages, bash completion and documents, under PREFIX.
#
#   scripts/tools.sh [--install [PREFIX]]
#
# PREFIX defaults to /usr/local (bin/, share/man/man1/, share/bash-completion/completions/,
# share/doc/krt42/); sudo is used where the prefix is not writable. $KRT_TOOLS_DIR: another tree.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tree=${KRT_TOOLS_DIR:-$root/build/tools}
install=0
prefix=/usr/local

die() {
  echo "tools: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
    --install)
      install=1
      if [ $# -ge 2 ] && [ "${2#-}" = "$2" ]; then prefix=$2; shift; fi
      shift
      ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done

for tool in cmake ninja g++; do
  command -v "$tool" >/dev/null || die "$tool is missing; sudo ./scripts/setup.sh installs it"
done

cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRT_SANITIZE=OFF -DKRT_TESTS=OFF >/dev/null
cmake --build "$tree" --target krt42 krt42sim
echo "tools: built $tree/cli/krt42 and $tree/simulator/krt42sim"

if [ "$install" = 1 ]; then
  sudo=""
  probe=$prefix
  while [ ! -e "$probe" ]; do probe=$(dirname "$probe"); done
  if [ ! -w "$probe" ] && [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  $sudo cmake --install "$tree" --prefix "$prefix" --strip
fi
