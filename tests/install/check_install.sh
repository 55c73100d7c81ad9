#!/usr/bin/env bash
# The install tree and the .deb: what `cmake --install` puts in place, that
# the desktop files validate, that the installed program answers without
# the build tree, that the package holds the same files and lintian finds
# nothing to warn about, and that the installed program run as root leaves
# its prefix as it found it.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" > /dev/null
app_id=com.orvsoftware.Dashboard
expected=(
  usr/bin/orv-dashboard
  usr/bin/orv-reg
  "usr/share/applications/$app_id.desktop"
  "usr/share/metainfo/$app_id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  usr/share/doc/orv-dashboard/copyright
  usr/share/doc/orv-dashboard/changelog.gz
  usr/share/man/man1/orv-dashboard.1.gz
  usr/share/man/man1/orv-reg.1.gz
  usr/share/orv-dashboard/screenshots/dashboard.png
  usr/share/orv-dashboard/screenshots/options.png
)
for size in 16 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"); done
for file in "${expected[@]}"; do [ -f "$work/$file" ] || fail "missing $file"; done
installed=$(cd "$work" && find usr -type f | sort)
[ "$(echo "$installed" | wc -l)" -eq "${#expected[@]}" ] || fail "unexpected files installed:"$'\n'"$installed"

desktop-file-validate "$work/usr/share/applications/$app_id.desktop"
# Pedantic hints aside (the id has capitals, as the desktop file's does),
# nothing to report.
appstreamcli validate --pedantic --no-net "$work/usr/share/metainfo/$app_id.metainfo.xml" > "$work/appstream" ||
  fail "appstreamcli: $(cat "$work/appstream")"
! grep -E "^[EWI]: " "$work/appstream" || fail "appstreamcli has more to say than pedantic hints"
rm "$work/appstream"
# The manual pages tell what the programs' help does.
zgrep -q -F 'registry\-file' "$work/usr/share/man/man1/orv-dashboard.1.gz" || fail "orv-dashboard.1 lacks the options"
zgrep -q QUERY "$work/usr/share/man/man1/orv-reg.1.gz" || fail "orv-reg.1 lacks the commands"

# Nothing of the build tree is left in the programs: no RUNPATH into it,
# no path of it in their text. Debug information names the sources by
# design, so it is left out of the look. Each listing goes to a file first:
# with pipefail, grep -q ending a pipe early would let the writer's SIGPIPE
# decide the outcome.
for program in orv-dashboard orv-reg; do
  readelf -d "$work/usr/bin/$program" > "$work/dynamic"
  ! grep -q -F "$build" "$work/dynamic" || fail "$program has a RUNPATH into the build tree"
  objcopy --strip-debug "$work/usr/bin/$program" "$work/no-debug"
  strings "$work/no-debug" > "$work/strings"
  ! grep -q -F "$(dirname "$build")/src" "$work/strings" || fail "$program names the source tree"
  rm "$work/dynamic" "$work/no-debug" "$work/strings"
done
mv "$work/usr" "$work/moved"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/moved/bin/orv-dashboard" --version)
[ "$version" = "ORV Dashboard 1.2.1.0" ] || fail "--version said '$version'"
"$work/moved/bin/orv-reg" /? | grep -q "orv-reg QUERY" || fail "orv-reg /? lists no commands"

# The package: the same files below /usr, and dependencies worked out from
# the linked libraries.
(cd "$build" && cpack -G DEB -B "$work/package" > /dev/null)
deb=$(ls "$work"/package/orv-dashboard_*.deb)
info=$(dpkg-deb --info "$deb")
echo "$info" | grep -q "^ Depends:.*libqt6webenginecore6" || fail "package depends on no engine library:"$'\n'"$info"
echo "$info" | grep -q "^ Depends:.*libc6" || fail "package dependencies were not worked out:"$'\n'"$info"
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub("^\\./", "", $6); print $6 }' | sort)
[ "$packaged" = "$installed" ] || fail "package contents differ from the install tree:"$'\n'"$packaged"

# lintian as a Debian archive would run it: no error, no warning, and none
# of its hardening notes.
lintian --fail-on error,warning --display-info "$deb" > "$work/lintian" 2>&1 ||
  fail "lintian complains about the package:"$'\n'"$(cat "$work/lintian")"
! grep "hardening-" "$work/lintian" || fail "lintian finds the programs unhardened"

"$(dirname "$0")/check_root_run.sh" "$deb"
echo "install tree and package OK: $(basename "$deb")"
