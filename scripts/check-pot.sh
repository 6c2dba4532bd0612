#!/bin/sh
# Fails when po/farlander.pot is not what scripts/update-pot.sh makes of the message
# texts in src/text/messages.inc, or when a catalog po/*.po does not compile or lacks a
# message of the template (run scripts/update-pot.sh, then translate what is new
# or changed: fuzzy and untranslated messages show their English text).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sh "$root/scripts/update-pot.sh" "$tmp/farlander.pot"
if ! diff -u -I '^"POT-Creation-Date:' "$root/po/farlander.pot" "$tmp/farlander.pot"; then
    echo "po/farlander.pot is out of date: run scripts/update-pot.sh" >&2
    exit 1
fi

status=0
for catalog in "$root"/po/*.po; do
    [ -e "$catalog" ] || continue
    name=po/$(basename "$catalog")
    if ! msgfmt --check -o /dev/null "$catalog"; then
        echo "$name does not compile" >&2
        status=1
    elif ! msgcmp --use-fuzzy --use-untranslated "$catalog" "$root/po/farlander.pot"; then
        echo "$name lacks messages of the template: run scripts/update-pot.sh" >&2
        status=1
    fi
done
exit $status
