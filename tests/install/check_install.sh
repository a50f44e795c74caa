#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and packages it as a .deb, then
# checks what a desktop needs: binary, menu entry, icon, package dependencies.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
root="$scratch/root/usr"
[ -x "$root/bin/trimora" ] || fail "no executable at bin/trimora"
entry="$root/share/applications/trimora.desktop"
[ -f "$entry" ] || fail "no desktop entry"
[ -f "$root/share/icons/hicolor/scalable/apps/trimora.svg" ] || fail "no scalable icon"
desktop-file-validate "$entry" || fail "desktop-file-validate rejected the entry"
grep -qx 'Exec=trimora %F' "$entry" || fail "Exec line"
grep -qx 'Categories=AudioVideo;Video;AudioVideoEditing;' "$entry" || fail "Categories line"
grep -q '^MimeType=.*video/mp4;' "$entry" || fail "MimeType line"

(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null) || fail "cpack failed"
deb=$(find "$scratch/package" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "no .deb produced"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for want in ffmpeg libmpv libqt6widgets6 libqt6gui6 libqt6core6 libqt6openglwidgets6 libqt6svg6 \
            libavformat libavcodec libavutil libswresample libswscale; do
  grep -q "$want" <<<"$depends" || fail "package does not depend on $want"
done
contents=$(dpkg-deb -c "$deb")
grep -q './usr/share/applications/trimora.desktop' <<<"$contents" || fail "entry not packaged"
echo "1 passed, 0 failed"
