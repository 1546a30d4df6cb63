#!/usr/bin/env bash
# `cmake --install` puts the executable, the desktop file, the icons, the
# metainfo and the file managers' menu entries where desktops look for them,
# and the licences where dpkg looks; each passes its format's validator, and
# the desktop file claims no file type (GIO would make Parvel the default
# application for text files).
#
#   app_install.sh BUILD_DIR
set -euo pipefail
prefix="$(mktemp -d "${TMPDIR:-/tmp}/parvel-install.XXXXXX")"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
status=0
bad() { echo "app_install: $*" >&2; status=1; }
# The files nothing below reads.
for file in share/icons/hicolor/scalable/apps/dev.parvel.Parvel.svg \
    share/icons/hicolor/symbolic/apps/dev.parvel.Parvel-symbolic.svg share/doc/parvel/copyright \
    share/doc/parvel/Geist-OFL.txt share/nemo/actions/parvel-{share,copy-link}.nemo_action \
    share/Thunar/sendto/dev.parvel.Parvel-{share,copy-link}.desktop; do
    [ -s "$prefix/$file" ] || bad "$file was not installed"
done
[ -x "$prefix/bin/parvel" ] || bad "bin/parvel is not executable"
grep -qx 'Exec=parvel %F' "$prefix/share/applications/dev.parvel.Parvel.desktop" ||
    bad "the desktop file does not open files with parvel"

# The installed executable finds its mode libraries from where it was put.
import="$("$prefix/bin/parvel" --import-connection "$prefix/missing.json" 2>&1 >/dev/null || true)"
[[ "$import" == "Connection import failed: "* ]] || bad "the installed import mode did not run: $import"
rendered="$(QT_QPA_PLATFORM=offscreen "$prefix/bin/parvel" --render-previews "$prefix/previews" 2>/dev/null || true)"
[ "$rendered" = "Native views rendered." ] && [ -s "$prefix/previews/parvel-selected-light.png" ] ||
    bad "the installed views did not render: $rendered"

desktop-file-validate "$prefix/share/applications/dev.parvel.Parvel.desktop" || status=1
# As the package's trigger does: GIO reads the types from the cache, and
# lists only applications whose program is on the PATH.
update-desktop-database "$prefix/share/applications"
mime="$(PATH="$prefix/bin:$PATH" XDG_DATA_DIRS="$prefix/share:/usr/share" gio mime text/plain 2>&1 || true)"
[[ "$mime" != *dev.parvel.Parvel* ]] || bad "GIO names Parvel for text files: $mime"
for file in "$prefix"/share/Thunar/sendto/*.desktop; do desktop-file-validate "$file" || status=1; done
# The validator knows no "Service" type: it refuses KDE's MimeType and Actions
# keys there, and nothing else may be wrong.
for file in "$prefix"/share/{kio/servicemenus,kservices5/ServiceMenus}/dev.parvel.Parvel.desktop; do
    { desktop-file-validate "$file" 2>&1 || true; } |
        grep -v 'key "\(MimeType\|Actions\)" is present in group "Desktop Entry", but the type is "Service"' &&
        status=1
done
python3 -m py_compile "$prefix/share/nautilus-python/extensions/parvel.py" || status=1
# Every entry runs parvel on the chosen files: shown, or shared at once.
entries="$(cat "$prefix"/share/{kio/servicemenus,nemo/actions,Thunar/sendto}/* |
    grep -E '^(Name|Exec)=' | LC_ALL=C sort -u | tr '\n' '|')"
[ "$entries" = "Exec=parvel %F|Exec=parvel --share %F|Name=Copy Parvel link|Name=Parvel|Name=Share with Parvel|" ] ||
    bad "unexpected menu entries: $entries"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/dev.parvel.Parvel.metainfo.xml" ||
    status=1
exit "$status"
