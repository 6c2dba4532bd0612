#!/usr/bin/env bash
# Checks what Farlander installs: builds the Debian package (scripts/package.sh),
# installs the same build into a temporary prefix and lists both, validates the
# launcher, the AppStream metainfo and the manual page, checks that the installed
# German catalog is found, and that the translation template is up to date.
# Fails on the first error.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/apt-need.sh desktop-file-utils appstream dpkg-dev file man-db gettext
bash scripts/package.sh
deb=$(ls farlander_*.deb)

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
echo "== cmake --install into a temporary prefix"
cmake --install build-package --prefix "$prefix/usr" >/dev/null
(cd "$prefix" && find . -type f | sort)

failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

expected=(
    usr/bin/farlander
    usr/share/applications/farlander.desktop
    usr/share/metainfo/space.farlander.Farlander.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/farlander.svg
    usr/share/icons/hicolor/48x48/apps/farlander.png
    usr/share/icons/hicolor/128x128/apps/farlander.png
    usr/share/icons/hicolor/256x256/apps/farlander.png
    usr/share/man/man1/farlander.1
)
for po in po/*.po; do
    expected+=("usr/share/locale/$(basename "$po" .po)/LC_MESSAGES/farlander.mo")
done
listing=$(dpkg-deb -c "$deb")
for file in "${expected[@]}"; do
    [[ -f "$prefix/$file" ]] || fail "cmake --install did not put $file in place"
    grep -q " \./$file\$" <<<"$listing" || fail "$deb lacks $file"
done

echo "== $deb"
dpkg-deb -I "$deb"
echo "$listing"
for field in Package Version Architecture Maintainer Section Homepage Depends Recommends; do
    [[ -n "$(dpkg-deb -f "$deb" "$field")" ]] || fail "$deb has no $field field"
done

echo "== the installed program"
"$prefix/usr/bin/farlander" --version || fail "farlander --version"
# The catalogs were built for /usr; point the program at the temporary copy.
home=$prefix/home
mkdir -p "$home/prefs"
german=$(FARLANDER_HOME=$home FARLANDER_LOCALEDIR=$prefix/usr/share/locale LANGUAGE=de LANG=C.UTF-8 \
         "$prefix/usr/bin/farlander" --dump HOME --columns 80 || true)
grep -q "Willkommen" <<<"$german" || fail "the installed German catalog is not used"

echo "== desktop-file-validate"
desktop-file-validate "$prefix/usr/share/applications/farlander.desktop" || fail "desktop-file-validate"

echo "== appstreamcli validate"
# Warnings fail too; infos and pedantic notes do not.
for check in "validate --no-net $prefix/usr/share/metainfo/space.farlander.Farlander.metainfo.xml" \
             "validate-tree --no-net $prefix"; do
    # shellcheck disable=SC2086
    if report=$(appstreamcli $check 2>&1); then status=0; else status=$?; fi
    echo "$report"
    if [[ $status -ne 0 ]] || grep -Eq '^ *[EW]: ' <<<"$report"; then
        fail "appstreamcli ${check%% *}"
    fi
done

echo "== man --warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/usr/share/man/man1/farlander.1" 2>&1 >/dev/null)
if [[ -n "$warnings" ]]; then
    echo "$warnings" >&2
    fail "the manual page has warnings"
fi

echo "== scripts/check-pot.sh"
sh scripts/check-pot.sh || fail "scripts/check-pot.sh"

if [[ $failed -ne 0 ]]; then
    echo "check-install: FAILED" >&2
    exit 1
fi
echo "check-install: all checks passed ($deb)"
