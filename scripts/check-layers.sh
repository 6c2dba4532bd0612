#!/usr/bin/env bash
# Checks that the modules under src/ depend on each other in one direction only.
# Every module has a layer; an include line may name a header of a lower layer only.
# The table of the include lines found is printed; any line that goes sideways or
# upward, an include of a module this table does not know, and a toolkit or system
# header outside src/platform fail the check.
# Usage: scripts/check-layers.sh [source folder]   (default: src)
set -euo pipefail
cd "$(dirname "$0")/.."
src=${1:-src}

# module layer: lower layers first. Modules of one layer may not include each other.
layers="
platform 0
text 1
ui 2
url 3
settings 4
identity 4
page 5
store 6
net 7
view 8
shell 9
browser 10
app 11
"

awk -v layers="$layers" -v src="${src%/}" '
BEGIN {
    n = split(layers, rows, "\n")
    for (i = 1; i <= n; i++) {
        if (split(rows[i], f, " ") == 2) rank[f[1]] = f[2]
    }
    bad = 0
}
{
    # The module of the file: the folder right under the source folder.
    file = substr(FILENAME, length(src) + 2)
    from = file; sub(/\/.*/, "", from)
    if (!(from in rank)) {
        if (!(from in unknown)) printf "unknown module %s (add it to the table in scripts/check-layers.sh)\n", from
        unknown[from] = 1; bad = 1; next
    }
    line = $0
    if (from != "platform" && match(line, /^[ \t]*#[ \t]*include[ \t]*<(Q[A-Za-z]*|unistd\.h|poll\.h|fcntl\.h|signal\.h|pthread\.h|netdb\.h|dirent\.h|libintl\.h|sys\/[^>]*|arpa\/[^>]*|netinet\/[^>]*)>/)) {
        printf "%s:%d: toolkit or system header outside src/platform: %s\n", FILENAME, FNR, line
        bad = 1
    }
    if (!match(line, /^[ \t]*#[ \t]*include[ \t]*"[a-z_0-9]+\//)) next
    to = line; sub(/^[^"]*"/, "", to); sub(/\/.*/, "", to)
    if (to == from) next
    if (!(to in rank)) {
        printf "%s:%d: include of unknown module %s\n", FILENAME, FNR, to
        bad = 1; next
    }
    edge = from " -> " to
    count[edge]++
    if (rank[to] >= rank[from]) {
        printf "%s:%d: %s includes %s, which is not below it\n", FILENAME, FNR, from, to
        bad = 1
    }
}
END {
    print "include lines between modules (from -> to: lines):"
    cmd = "sort"
    for (e in count) printf "  %-22s %d\n", e, count[e] | cmd
    close(cmd)
    if (bad) { print "layer check: FAILED"; exit 1 }
    print "layer check: every include points to a lower layer"
}
' $(find "$src" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) | sort)
