#!/usr/bin/env bash
# Writes the Debian package of the native tools (krt42, krt42sim, their manual pages, the bash
# completion, the documents, the station's systemd unit and tray) from a built native tree, with
# Debian's own tools: the tree's install rules stage the files, dpkg-shlibdeps names the libraries,
# dpkg-deb builds the archive.
#
#   make_deb.sh OUT.deb TREE
#
# The package depends on nothing but its inputs: every time in it is the date of the top entry of
# packaging/debian/changelog (or $SOURCE_DATE_EPOCH), owners are root, names are sorted, the
# compressed files carry no name or time, so the same sources give the same bytes.
set -euo pipefail

die() {
  echo "package: $*" >&2
  exit 1
}

[ $# -eq 2 ] || die "usage: make_deb.sh OUT.deb TREE"
out=$1
tree=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
debian=$root/packaging/debian

version=$(head -n 1 "$root/VERSION")
logged=$(dpkg-parsechangelog -l "$debian/changelog" -S Version)
[ "$logged" = "$version" ] ||
  die "packaging/debian/changelog starts at $logged but VERSION says $version: add an entry for $version"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l "$debian/changelog" -S Timestamp)}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
umask 022
pkg=$stage/debian/krt42
DESTDIR=$pkg cmake --install "$tree" --prefix /usr --strip >"$stage/install.log" ||
  { cat "$stage/install.log" >&2; die "cmake --install failed"; }

doc=$pkg/usr/share/doc/krt42
install -m 644 "$debian/copyright" "$doc/copyright"
gzip -9n -c "$debian/changelog" >"$doc/changelog.Debian.gz"
# As Debian's own helpers do: manual pages always, other documents from 4 kB on, are compressed.
gzip -9n "$pkg"/usr/share/man/man1/*.1
find "$doc" -type f -size +4k ! -name copyright ! -name '*.gz' -exec gzip -9n {} +
# The station's service, as a package without debhelper ships it on Debian 12 (units under /lib,
# not yet /usr/lib), and its tray, a conffile.
install -D -m 644 "$root/packaging/systemd/krt42-station.service" "$pkg/lib/systemd/system/krt42-station.service"
install -D -m 644 "$root/packaging/systemd/tray" "$pkg/etc/krt42/tray"
if [ -f "$debian/lintian-overrides" ]; then
  install -D -m 644 "$debian/lintian-overrides" "$pkg/usr/share/lintian/overrides/krt42"
fi

# As Debian's own helpers strip: no symbols, no compiler notes (--strip only did the first).
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg"/usr/bin/*
find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
chmod 755 "$pkg"/usr/bin/*

# dpkg-shlibdeps wants to stand in a source tree, with the package staged in debian/<package>
# (known by its DEBIAN folder): a minimal debian/control is enough.
mkdir "$pkg/DEBIAN"
(cd "$pkg" && find etc -type f -printf '/%p\n' | LC_ALL=C sort) >"$pkg/DEBIAN/conffiles"
for script in postinst prerm postrm; do
  install -m 755 "$debian/$script" "$pkg/DEBIAN/$script"
done
printf 'Source: krt42\n\nPackage: krt42\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O debian/krt42/usr/bin/*) || die "dpkg-shlibdeps failed"
depends=${depends#shlibs:Depends=}
# What dpkg-gencontrol counts: each file in whole KiB, each other entry as one.
size=$(find "$pkg" -mindepth 1 -path "$pkg/DEBIAN" -prune -o \( -type f -printf '%s\n' \) -o \( ! -type f -printf '1024\n' \) |
  awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')

sed -e "s|@VERSION@|$version|" -e "s|@ARCH@|$(dpkg --print-architecture)|" -e "s|@SIZE@|$size|" \
  -e "s|@DEPENDS@|$depends|" -e '/^Depends:/s/, *$//' "$debian/control.in" >"$pkg/DEBIAN/control"
# As dh_md5sums: the conffiles are left out, dpkg keeps their sums itself.
(cd "$pkg" && find . \( -path ./DEBIAN -o -path ./etc \) -prune -o -type f -printf '%P\n' | LC_ALL=C sort |
  xargs -d '\n' md5sum) >"$pkg/DEBIAN/md5sums"
chmod 644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums" "$pkg/DEBIAN/conffiles"
find "$pkg" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# Written beside the target and renamed: an interrupted run leaves no half package. One
# compressor thread, so the bytes do not depend on the machine's cores.
dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$pkg" "$out.part" >/dev/null
mv "$out.part" "$out"
