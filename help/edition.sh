#!/bin/sh
# Writes the help sources of one edition of the program into a folder:
#
#   edition.sh Trayhop32|Trayhop64 OUT_DIR FILE...
#
# A line starting with <!--32--> or <!--64--> belongs to that edition only
# and loses the mark. For Trayhop64 every other "Trayhop32" becomes
# "Trayhop64", except in the options key the two editions share and in the
# names of the project's own files.
set -eu
program="$1" out="$2"
shift 2
case "$program" in
    Trayhop32) own=32 other=64 ;;
    Trayhop64) own=64 other=32 ;;
    *) echo "edition.sh: unknown program $program" >&2; exit 2 ;;
esac
for file in "$@"; do
    if [ "$own" = 32 ]; then
        sed -e "/^<!--$other-->/d" -e "s/^<!--$own-->//" "$file"
    else
        sed -e "/^<!--$other-->/d" -e "/^<!--$own-->/{s/^<!--$own-->//;b" -e "}" \
            -e 's/\\Trayhop32\\/\\@KEEP@\\/g' -e 's/Trayhop32\(\.hh[ck]\)/@KEEP@\1/g' \
            -e 's/Trayhop32/Trayhop64/g' -e 's/@KEEP@/Trayhop32/g' "$file"
    fi >"$out/$(basename "$file")"
done
