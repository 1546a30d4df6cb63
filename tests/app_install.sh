#!/usr/bin/env bash
# `cmake --install` puts the executable, the desktop file, the icons, the
# metainfo and the licences where desktops and dpkg look for them, and the
# desktop file and metainfo pass the freedesktop validators.
#
#   app_install.sh BUILD_DIR
set -euo pipefail
build="$1"
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "app_install: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done

prefix="$(mktemp -d "${TMPDIR:-/tmp}/parvel-install.XXXXXX")"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for file in bin/parvel share/applications/dev.parvel.Parvel.desktop \
    share/metainfo/dev.parvel.Parvel.metainfo.xml \
    share/icons/hicolor/scalable/apps/dev.parvel.Parvel.svg \
    share/icons/hicolor/symbolic/apps/dev.parvel.Parvel-symbolic.svg \
    share/doc/parvel/copyright share/doc/parvel/Geist-OFL.txt; do
    [ -s "$prefix/$file" ] || { echo "app_install: $file was not installed" >&2; status=1; }
done
[ -x "$prefix/bin/parvel" ] || { echo "app_install: bin/parvel is not executable" >&2; status=1; }
grep -qx 'Exec=parvel %F' "$prefix/share/applications/dev.parvel.Parvel.desktop" ||
    { echo "app_install: the desktop file does not open files with parvel" >&2; status=1; }

# The installed executable finds its mode libraries from where it was put.
import="$("$prefix/bin/parvel" --import-connection "$prefix/missing.json" 2>&1 >/dev/null || true)"
case "$import" in
    "Connection import failed: "*) ;;
    *) echo "app_install: the installed import mode did not run: $import" >&2; status=1 ;;
esac
rendered="$(QT_QPA_PLATFORM=offscreen "$prefix/bin/parvel" --render-previews "$prefix/previews" 2>/dev/null || true)"
[ "$rendered" = "Native views rendered." ] && [ -s "$prefix/previews/parvel-selected-light.png" ] ||
    { echo "app_install: the installed views did not render: $rendered" >&2; status=1; }

desktop-file-validate "$prefix/share/applications/dev.parvel.Parvel.desktop" || status=1
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/dev.parvel.Parvel.metainfo.xml" ||
    status=1
exit "$status"
