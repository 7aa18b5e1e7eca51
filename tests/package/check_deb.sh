#!/usr/bin/env bash
# Builds the Debian package from the build tree into a scratch folder, unpacks
# it, runs the unpacked tavrapdf and has lintian judge the package. Every
# tool it needs must be there: a missing one fails the test.
set -euo pipefail
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavra-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/tavra-pdf-signer_*.deb)
echo "package: $(basename "$deb")"

dpkg-deb -x "$deb" "$scratch/root"
for file in usr/bin/tavrapdf usr/share/man/man1/tavrapdf.1.gz \
  usr/share/doc/tavra-pdf-signer/copyright; do
  [ -f "$scratch/root/$file" ] || { echo "not in the package: $file" >&2; exit 1; }
done
"$scratch/root/usr/bin/tavrapdf" --version | grep -qx "tavrapdf [0-9.]*" ||
  { echo "the unpacked tavrapdf does not run" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libnss3 zlib1g libc6 xdg-utils; do
  grep -q "$library" <<<"$depends" || { echo "Depends lacks $library" >&2; exit 1; }
done
if [ -f "$build/app/gui/tavrapdfsg" ]; then
  [ -f "$scratch/root/usr/bin/tavrapdfsg" ] &&
    [ -f "$scratch/root/usr/share/applications/tavrapdfsg.desktop" ] ||
    { echo "the window or its menu entry is missing" >&2; exit 1; }
  grep -q "libqt6widgets6" <<<"$depends" || { echo "Depends lacks Qt" >&2; exit 1; }
fi

# lintian's errors fail the test; its warnings are shown. It exits 2 when it
# could not judge the package at all.
status=0
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
cat "$scratch/lintian.log"
[ "$status" -le 1 ] || { echo "lintian failed to run ($status)" >&2; exit 1; }
if grep -q "^E: " "$scratch/lintian.log"; then exit 1; fi
exit 0
