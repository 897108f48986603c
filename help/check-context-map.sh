#!/usr/bin/env bash
# Checks the context map of a compiled help file: every CONTEXT=TOPIC given
# must be mapped, to exactly that topic name, and the topic must be in the file.
#
#   check-context-map.sh CHMLS FILE.chm WORKDIR CONTEXT=TOPIC...
set -u
chmls="$1" chm="$2" work="$3"
shift 3
mkdir -p "$work"
rm -f "$work/ivb" "$work/strings" "$work/list"
"$chmls" -p extract "$chm" /#IVB "$work/ivb" >/dev/null 2>&1
"$chmls" -p extract "$chm" /#STRINGS "$work/strings" >/dev/null 2>&1
"$chmls" -p -n list "$chm" >"$work/list" 2>&1
if [ ! -s "$work/ivb" ] || [ ! -s "$work/strings" ]; then
    echo "FAIL: $chm has no context map"
    exit 1
fi

# #IVB: a byte count, then (context, offset into #STRINGS) pairs, little-endian.
map=$(od -An -v -tu4 -w8 -j4 "$work/ivb" | while read -r context offset; do
    [ -n "$offset" ] || continue
    topic=$(dd if="$work/strings" bs=1 skip="$offset" count=260 2>/dev/null | tr '\0' '\n' | head -n 1)
    echo "$context=$topic"
done)

failures=0
for expected in "$@"; do
    context=${expected%%=*} topic=${expected#*=}
    got=$(printf '%s\n' "$map" | grep "^$context=" | head -n 1)
    if [ "$got" != "$expected" ]; then
        echo "FAIL: context $context maps to '${got#*=}', expected '$topic'"
        failures=$((failures + 1))
    elif ! grep -qxF "/$topic" "$work/list"; then
        echo "FAIL: topic $topic of context $context is not in the file"
        failures=$((failures + 1))
    else
        echo "ok: $context -> $topic"
    fi
done
[ $failures = 0 ]
