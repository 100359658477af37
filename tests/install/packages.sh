#!/usr/bin/env bash
# Builds the two Debian packages from a build folder and checks what they hold:
# their files, their control fields, lintian, the desktop entry and the metainfo.
# usage: packages.sh BUILD_DIR
set -euo pipefail
build=$1
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is not installed: no package to build"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
browser=$(ls "$out"/tadpole_*.deb)
portal=$(ls "$out"/tadpole-portal_*.deb)
fail=0
problem() { echo "FAIL: $*"; fail=1; }

holds() { # package, then the paths it must hold
  local deb=$1; shift
  local list; list=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "$@"; do grep -qx "./$path" <<<"$list" || problem "$(basename "$deb") lacks /$path"; done
}
holds "$browser" usr/bin/tadpole usr/libexec/tadpole/terminate \
  usr/share/applications/net.tadpolekids.tadpole.desktop \
  usr/share/icons/hicolor/scalable/apps/net.tadpolekids.tadpole.svg \
  usr/share/metainfo/net.tadpolekids.tadpole.metainfo.xml usr/share/man/man1/tadpole.1.gz \
  usr/share/doc/tadpole/copyright usr/share/doc/tadpole/changelog.gz
holds "$portal" usr/bin/tadpole-portal usr/lib/systemd/system/tadpole-portal.service \
  usr/share/man/man8/tadpole-portal.8.gz usr/share/doc/tadpole-portal/copyright
dpkg-deb -c "$browser" | grep -q 'tadpole-portal' && problem "the browser's package holds the portal"
dpkg-deb -c "$portal" | grep -q 'bin/tadpole$' && problem "the portal's package holds the browser"

field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$browser" Package)" = tadpole ] || problem "browser package name"
[ "$(field "$portal" Package)" = tadpole-portal ] || problem "portal package name"
for deb in "$browser" "$portal"; do
  [ -n "$(field "$deb" Version)" ] || problem "$(basename "$deb") has no version"
  field "$deb" Depends | grep -q 'libqt6core6' || problem "$(basename "$deb") does not depend on the Qt libraries it links"
done
field "$browser" Depends | grep -q 'libqt6webenginewidgets6' || problem "the browser does not depend on the web engine"
field "$browser" Depends | grep -q 'libqt6svg6' || problem "the browser does not depend on the SVG plugin"
field "$portal" Depends | grep -q 'libqt6sql6-sqlite' || problem "the portal does not depend on its database driver"
dpkg-deb -e "$portal" "$out/portal-control"
for script in postinst prerm postrm; do
  [ -x "$out/portal-control/$script" ] || problem "the portal's $script is missing or not executable"
done
grep -q '/run/systemd/system' "$out/portal-control/postinst" || problem "postinst enables the unit without asking whether systemd runs"

dpkg-deb -x "$browser" "$out/root"
dpkg-deb -x "$portal" "$out/root"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$out/root/usr/share/applications/net.tadpolekids.tadpole.desktop" || problem "desktop entry"
else
  echo "desktop-file-validate is not installed: the desktop entry is not checked"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$out/root/usr/share/metainfo/net.tadpolekids.tadpole.metainfo.xml" \
    >"$out/appstream.log" 2>&1 || { cat "$out/appstream.log"; problem "metainfo"; }
else
  echo "appstreamcli is not installed: the metainfo is not checked"
fi
grep -q '^ExecStart=/usr/bin/tadpole-portal ' "$out/root/usr/lib/systemd/system/tadpole-portal.service" \
  || problem "the unit does not start the installed portal"
# The unit is written for the prefix installed to, whatever prefix the build was configured with.
cmake --install "$build" --component portal --prefix "$out/elsewhere" >"$out/install.log" 2>&1 || cat "$out/install.log"
unit=$(find "$out/elsewhere" -name tadpole-portal.service)
grep -qF "ExecStart=$out/elsewhere/bin/tadpole-portal " "$unit" \
  || problem "a unit installed to another prefix does not start the portal installed there"
if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags-from-file /dev/null "$browser" "$portal" || problem "lintian reports errors"
else
  echo "lintian is not installed: the packages are not linted"
fi
exit "$fail"
