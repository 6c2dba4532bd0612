#!/bin/sh
# Writes po/farlander.pot, the translation template, from the built-in message
# texts in src/text/messages.inc. Every message gets the context "msg-NNN" (its id),
# the key under which the program looks it up. Then every catalog po/*.po is merged
# with the new template, so new messages show up there untranslated.
# Usage: scripts/update-pot.sh [output]
#   (default: po/farlander.pot; with another output file the catalogs are left alone)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
input="$root/src/text/messages.inc"
output=${1:-"$root/po/farlander.pot"}
tmp="$output.tmp.$$"
trap 'rm -f "$tmp"' EXIT

awk '
BEGIN {
    print "# Translation template for the Farlander browser."
    print "# Each message has its own context \"msg-NNN\" (NNN is its id), so two messages"
    print "# with the same English text can be translated differently."
    print "# A message left untranslated shows its English text."
    print "#"
    print "#, fuzzy"
    print "msgid \"\""
    print "msgstr \"\""
    print "\"Project-Id-Version: Farlander\\n\""
    print "\"Report-Msgid-Bugs-To: \\n\""
    print "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\""
    print "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\""
    print "\"Language-Team: LANGUAGE <LL@li.org>\\n\""
    print "\"Language: \\n\""
    print "\"MIME-Version: 1.0\\n\""
    print "\"Content-Type: text/plain; charset=UTF-8\\n\""
    print "\"Content-Transfer-Encoding: 8bit\\n\""
    count = 0
}
/^FARLANDER_MESSAGE\(/ {
    line = $0
    sub(/^FARLANDER_MESSAGE\(/, "", line)
    sub(/\)[ \t]*$/, "", line)
    id = line; sub(/,.*/, "", id)
    rest = line; sub(/^[0-9]+, MSG_[A-Z0-9_]+, "/, "", rest)
    group = rest; sub(/".*/, "", group)
    text = rest; sub(/^[^"]*", "/, "", text); sub(/"$/, "", text)
    if (id != count) { print "message " id " out of order" > "/dev/stderr"; exit 1 }
    count++
    print ""
    print "#. " group
    printf "msgctxt \"msg-%03d\"\n", id
    body = text
    # A text with inner line breaks is written one line per break, as xgettext does.
    inner = body; sub(/(\\n)+$/, "", inner)
    if (index(inner, "\\n") == 0) {
        print "msgid \"" body "\""
    } else {
        print "msgid \"\""
        while ((at = index(body, "\\n")) > 0) {
            print "\"" substr(body, 1, at + 1) "\""
            body = substr(body, at + 2)
        }
        if (body != "") print "\"" body "\""
    }
    print "msgstr \"\""
}
END {
    if (count == 0) { print "no messages found" > "/dev/stderr"; exit 1 }
}
' "$input" > "$tmp"

# The template must compile as a catalog (when the gettext tools are installed).
if command -v msgfmt >/dev/null 2>&1; then
    msgfmt --check-format -o /dev/null "$tmp"
fi
mv "$tmp" "$output"
trap - EXIT

[ "$output" = "$root/po/farlander.pot" ] || exit 0
for catalog in "$root"/po/*.po; do
    [ -e "$catalog" ] || continue
    msgmerge --quiet --update --backup=none "$catalog" "$output"
done
