#!/usr/bin/env bash
# Builds the Debian package from this tree without touching it: the sources
# are copied to a scratch directory, built there with dpkg-buildpackage and
# the .deb lands in OUT_DIR (default: the current directory).
# Usage: build_package.sh [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)

work=$(mktemp -d /tmp/cgnat-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
# Build trees and packaging leftovers stay behind.
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
  --exclude=./debian/.debhelper --exclude=./debian/cgnat-collector \
  --exclude='./debian/*.substvars' --exclude='./debian/*debhelper*' \
  --exclude=./debian/files -cf - . | tar -C "$work/src" -xf -
(cd "$work/src" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log" >&2
  echo "build_package.sh: dpkg-buildpackage falhou" >&2
  exit 1
}
for deb in "$work"/*.deb; do
  mv "$deb" "$out/"
  echo "$out/$(basename "$deb")"
done
