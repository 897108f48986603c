#!/usr/bin/env bash
# The holder search against Wine: a drive letter is mapped into the prefix
# (a dosdevices link to a fresh folder), and holders.exe checks that a helper
# holding files there is named by name and id for that drive and not for C:,
# that a helper holding a file on C: is not named for the mapped drive, and
# that questions that never return cost no more than the search's budget.
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

"${wine_cmd[@]}" -- "$bin/holders.exe" check "$letter" >"$out_file" 2>&1
rc=$?
tr -d '\r' <"$out_file" | tee "$artefacts/holders.log"
[ $rc = 0 ] || fail "holders.exe exited with $rc"
grep -q "^FAIL" "$artefacts/holders.log" && fail "a check failed"
grep -q "^ok: drive T: names the first helper" "$artefacts/holders.log" ||
    fail "the mapped drive was not checked"

e2e_finish "E2E holders"
