# Builds the Debian package with cpack from the build folder and checks what
# dpkg-deb says about it: the name, the dependencies on the Qt 6 runtime, and
# the program, help file, samples, desktop entry, icon, manual page, copyright,
# changelog and AppStream metadata in their places, the files the same bytes
# as in the source or build tree; then lintian and appstreamcli on it.
set -euo pipefail
BUILD="$1"
SRC="$2"
OUT="$(mktemp -d /tmp/ryv_deb_XXXXXX)"
trap 'rm -rf "$OUT"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$OUT" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$OUT" >"$OUT/cpack.log" 2>&1) \
  || { cat "$OUT/cpack.log" >&2; fail "cpack failed"; }
debs=("$OUT"/ryv-demo_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "no single ryv-demo_*.deb in $(ls "$OUT")"
DEB="${debs[0]}"
echo "package: $(basename "$DEB")"

info=$(dpkg-deb --info "$DEB")
echo "$info"
grep -qx ' Package: ryv-demo' <<<"$info" || fail "package name"
grep -q '^ Maintainer: .\+' <<<"$info" || fail "no maintainer"
grep -q '^ Description: .\+' <<<"$info" || fail "no description"
depends=$(grep '^ Depends: ' <<<"$info") || fail "no Depends line"
# The package names of the Depends line, without their versions.
names=$(sed -e 's/^ Depends: //' -e 's/ *([^)]*)//g' <<<"$depends" | tr ',' '\n' | tr -d ' ')
for p in libqt6widgets6 libqt6gui6 libqt6core6 libqt6printsupport6 qt6-qpa-plugins qt6-translations-l10n fonts-liberation libc6 libstdc++6 libasound2 libsndfile1; do
  grep -qxF "$p" <<<"$names" || fail "Depends does not list $p: $depends"
done

list=$(dpkg-deb -c "$DEB")
has() {
  grep -qE "^$1 .* \./usr/$2\$" <<<"$list" || fail "the package has no /usr/$2 with mode $1"
}
has '-rwxr-xr-x' bin/ryv_demo
has '-rw-r--r--' share/ryv_demo/Ryv.hlp
has '-rw-r--r--' share/applications/ryv_demo.desktop
has '-rw-r--r--' share/icons/hicolor/scalable/apps/ryv_demo.svg
has '-rw-r--r--' share/ryv_demo/samples/README.md
has '-rw-r--r--' share/man/man1/ryv_demo.1.gz
has '-rw-r--r--' share/doc/ryv-demo/copyright
has '-rw-r--r--' share/doc/ryv-demo/changelog.gz
has '-rw-r--r--' share/metainfo/invalid.ryv_demo.ryv_demo.metainfo.xml
n=0
for f in "$SRC"/samples/*.txt; do
  has '-rw-r--r--' "share/ryv_demo/samples/$(basename "$f")"
  n=$((n + 1))
done
[ "$n" -ge 3 ] || fail "only $n samples in the source tree"

# The files in the package are the ones of the source tree.
dpkg-deb -x "$DEB" "$OUT/root"
cmp "$BUILD/Ryv.hlp" "$OUT/root/usr/share/ryv_demo/Ryv.hlp" || fail "help file differs"
version=$(sed -n 's/^ Version: //p' <<<"$info")
version=${version%%-*}
grep -qF "<p>Версия $version.</p>" "$OUT/root/usr/share/ryv_demo/Ryv.hlp" || fail "the help file does not give version $version"
cmp "$SRC/packaging/ryv_demo.desktop" "$OUT/root/usr/share/applications/ryv_demo.desktop" || fail "desktop entry differs"
cmp "$SRC/packaging/ryv_demo.svg" "$OUT/root/usr/share/icons/hicolor/scalable/apps/ryv_demo.svg" || fail "icon differs"
for f in "$SRC"/samples/*.txt; do
  cmp "$f" "$OUT/root/usr/share/ryv_demo/samples/$(basename "$f")" || fail "sample $(basename "$f") differs"
done
file -b "$OUT/root/usr/bin/ryv_demo" | grep -q '^ELF' || fail "bin/ryv_demo is not an ELF executable"
grep -qx 'Exec=ryv_demo' "$OUT/root/usr/share/applications/ryv_demo.desktop" || fail "desktop Exec"
grep -qx 'Icon=ryv_demo' "$OUT/root/usr/share/applications/ryv_demo.desktop" || fail "desktop Icon"

# The manual page and the changelog are gzip data of this version; the
# manual page formats without a warning.
man_text=$(MANWIDTH=80 man --warnings -l "$OUT/root/usr/share/man/man1/ryv_demo.1.gz" 2>&1 >/dev/null) || fail "man failed"
[ -z "$man_text" ] || fail "manual page warnings: $man_text"
man_source=$(zcat "$OUT/root/usr/share/man/man1/ryv_demo.1.gz")
grep -q "^\.TH RYV_DEMO 1 .* \"RYV_demo $version\"" <<<"$man_source" || fail "manual page version"
changelog=$(zcat "$OUT/root/usr/share/doc/ryv-demo/changelog.gz")
[[ "$changelog" == "ryv-demo ($version) "* ]] || fail "changelog does not start with version $version"

# The package checkers of Debian and AppStream: no error and no warning.
appstreamcli validate-tree --no-net "$OUT/root" || fail "appstreamcli validate-tree"
lintian --fail-on error,warning "$DEB" || fail "lintian"
echo "debian package: 1 passed, 0 failed"
