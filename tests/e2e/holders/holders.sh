#!/usr/bin/env bash
# The holder search against Wine: a drive letter is mapped into the prefix
# (a dosdevices link to a fresh folder), and holders.exe checks that a helper
# holding files there is named by name and id with the file it holds for that
# drive and not for C:, that a helper run from there is named by its image,
# that a helper holding a file on C: is not named for the mapped drive, and
# that questions that never return cost no more than the search's budgets.
#
#   holders.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe --bin DIR
#              --artefacts DIR
#
# Exit 0 when every check held, 77 when this machine cannot run 32-bit Wine
# (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
e2e_parse_args "$@"

e2e_probe

letter=t
folder=$(mktemp -d "${TMPDIR:-/tmp}/trayhop-holders.XXXXXX")
link="$prefix/dosdevices/$letter:"
unmap() { rm -f "$link"; rm -rf "$folder"; }
trap 'unmap; e2e_cleanup' EXIT
[ -e "$link" ] && fail "drive $letter: is already mapped in the prefix"
ln -s "$folder" "$link"
# Wine gives a drive its volume name when its mount manager starts: a fresh
# server sees T:.
"${wine_cmd[@]}" --kill

"${wine_cmd[@]}" -- "$bin/holders.exe" check "$letter" >"$out_file" 2>&1
rc=$?
tr -d '\r' <"$out_file" | tee "$artefacts/holders.log"
[ $rc = 0 ] || fail "holders.exe exited with $rc"
grep -q "^FAIL" "$artefacts/holders.log" && fail "a check failed"
for check in "names the first helper" "the first helper shows the file it holds" \
    "names the program run from it by its image"; do
    grep -q "^ok: drive T: $check" "$artefacts/holders.log" || fail "not checked: $check"
done

e2e_finish "E2E holders"
