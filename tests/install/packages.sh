#!/usr/bin/env bash
# Builds the two Debian packages from a build folder and checks what they hold:
# their files, their control fields, lintian, the desktop entry and the metainfo.
# usage: packages.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed: no package to build"
build_packages
browser=$(ls "$work"/debs/tadpole_*.deb)
portal=$(ls "$work"/debs/tadpole-portal_*.deb)
fail=0
problem() { echo "FAIL: $*"; fail=1; }
optional() { # what a failure means, then a check by a tool that may be missing
  local what=$1
  shift
  command -v "$1" >/dev/null || { echo "$1 is not installed: $what is not checked"; return 0; }
  "$@" >"$work/check.log" 2>&1 || { cat "$work/check.log"; problem "$what"; }
}

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
  usr/lib/systemd/system/tadpole-portal@.service usr/share/tadpole-portal/starter-sites.tsv etc/tadpole/tadpole.conf \
  usr/share/man/man8/tadpole-portal.8.gz usr/share/doc/tadpole-portal/copyright \
  usr/share/doc/tadpole-portal/examples/instances.conf usr/share/doc/tadpole-portal/examples/nginx-tadpole-portal.conf
grep -q 'tadpole-portal' <<<"$(dpkg-deb -c "$browser")" && problem "the browser's package holds the portal"
grep -q 'bin/tadpole$' <<<"$(dpkg-deb -c "$portal")" && problem "the portal's package holds the browser"

field() { dpkg-deb -f "$1" "$2"; }
for deb in "$browser" "$portal"; do
  [ "$(field "$deb" Package)" = "$(basename "$deb" | cut -d_ -f1)" ] || problem "$(basename "$deb") names another package"
  [ -n "$(field "$deb" Version)" ] || problem "$(basename "$deb") has no version"
  field "$deb" Depends | grep -q 'libqt6core6' || problem "$(basename "$deb") does not depend on the Qt libraries it links"
done
field "$browser" Depends | grep -q 'libqt6webenginewidgets6' || problem "the browser does not depend on the web engine"
field "$browser" Depends | grep -q 'libqt6svg6' || problem "the browser does not depend on the SVG plugin"
field "$portal" Depends | grep -q 'libqt6sql6-sqlite' || problem "the portal does not depend on its database driver"
dpkg-deb -e "$portal" "$work/portal-control"
for script in postinst prerm postrm; do
  [ -x "$work/portal-control/$script" ] || problem "the portal's $script is missing or not executable"
done
grep -q '/run/systemd/system' "$work/portal-control/postinst" || problem "postinst enables the unit without asking whether systemd runs"
grep -qx /etc/tadpole/tadpole.conf "$work/portal-control/conffiles" || problem "the portal's package does not keep /etc/tadpole/tadpole.conf as a conffile"

for deb in "$browser" "$portal"; do dpkg-deb -x "$deb" "$work/root"; done
optional "the desktop entry" desktop-file-validate "$work/root/usr/share/applications/net.tadpolekids.tadpole.desktop"
optional "the metainfo" appstreamcli validate --no-net --pedantic "$work/root/usr/share/metainfo/net.tadpolekids.tadpole.metainfo.xml"
grep -q '^ExecStart=/usr/bin/tadpole-portal ' "$work/root/usr/lib/systemd/system/tadpole-portal.service" \
  || problem "the unit does not start the installed portal"
# The unit is written for the prefix installed to, whatever prefix the build was configured with.
cmake --install "$build" --component portal --prefix "$work/elsewhere" >"$work/install.log" 2>&1 || cat "$work/install.log"
[ -f "$work/elsewhere/etc/tadpole/tadpole.conf" ] || problem "installed to another prefix, the browsers' configuration is not below it"
# Each unit runs with what the portal needs and no more: an exposure of at most 2.5 of 10.
for name in tadpole-portal.service tadpole-portal@.service; do
  unit=$(find "$work/elsewhere" -name "$name")
  grep -qF "ExecStart=$work/elsewhere/bin/tadpole-portal " "$unit" \
    || problem "$name installed to another prefix does not start the portal installed there"
  instance="$work/${name/@/@8643}"  # a template is checked as one of its instances
  cp "$unit" "$instance"
  optional "$name's exposure (2.5 of 10 at most)" systemd-analyze security --offline=true --threshold=25 --no-pager "$instance"
  said=$(! command -v systemd-analyze >/dev/null || systemd-analyze verify --man=no "$instance" 2>&1) && [ -z "$said" ] \
    || problem "systemd-analyze verify on $name: $said"
done
optional "lintian's errors" lintian --fail-on error --suppress-tags-from-file /dev/null "$browser" "$portal"
exit "$fail"
