#!/usr/bin/env bash
# E2E of the console program (Trayhop32Cmd.exe, or Trayhop64Cmd.exe in a
# win64 tree) against Wine's own device services: disks registered in the
# prefix by realdisk.exe. list --json shows them with their instance
# identifiers, as valid UTF-8 in a redirected file; removing the boot disk is
# refused (3) and removing the other meets Wine's refusing class installer
# (4); a letter that matches nothing gives 2 and a bad option 1 with the
# usage. A disk linked to \Device\Null makes every build report errors: a
# console program writes them to stderr and goes on instead of waiting for a
# box no one sees. Given the i686 tree's bin folder in a win64 tree, the
# 32-bit program refuses 64-bit Windows with 8 and names Trayhop64Cmd.exe.
#
#   real_disk_cmd.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe
#                    --bin DIR --artefacts DIR [--i686-bin DIR]
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
e2e_parse_args "$@"
disks=(1 2 9)
source "$(dirname "${BASH_SOURCE[0]}")/disks.sh"
e2e_probe

one='SCSI\Disk&Ven_Trayhop&Prod_E2E_Disk\5&E2E&0&000001'
two='SCSI\Disk&Ven_Trayhop&Prod_E2E_Disk\5&E2E&0&000002'
stdout_file="$artefacts/cmd.out"
stderr_file="$artefacts/cmd.err"

# cmd EXE ARGS...: runs a console program with its output redirected to
# files; the exit code lands in $rc, stderr in $last. A run that does not end
# (a box waiting for a click) fails.
cmd() {
    local exe="$1"
    shift
    timeout 120 "${wine_cmd[@]}" -- "$exe" "$@" >"$stdout_file" 2>"$stderr_file"
    rc=$?
    last=$(tr -d '\r' <"$stderr_file")
    [ $rc = 124 ] && fail "$(basename "$exe") $* did not end"
}
expect_rc() {
    if [ "$rc" = "$1" ]; then echo "ok: exit code $1"; else fail "exit code $rc, not $1"; fi
}
# The redirected output is UTF-8 without a byte-order mark; the rest of the
# check is a Python expression over it (text).
check_output() {
    if python3 - "$stdout_file" "$1" <<'PY'
import json, sys
data = open(sys.argv[1], "rb").read()
assert not data.startswith(b"\xef\xbb\xbf"), "a byte-order mark"
text = data.decode("utf-8")
assert eval(sys.argv[2]), sys.argv[2]
PY
    then echo "ok: output $1"; else fail "output: $1"; fi
}

echo "== leftovers of an earlier run go first; two disks and a broken one are registered"
unregister_disks
disk add --id 1 --name "Trayhop E2E Disk One"
disk add --id 2 --name "Trayhop E2E Disk Two"
disk add --id 9 --name "Disk drive" --target '\Device\Null'

exe="$bin/${program}Cmd.exe"
echo "== ${program}Cmd list --json: both disks, the first the boot disk"
cmd "$exe" list --json
expect_rc 0
# Wine answers the identifiers in upper case.
check_output "any(d['instanceId'].upper() == r'$one'.upper() and d['name'] == 'Trayhop E2E Disk One' and d['boot'] for d in json.loads(text))"
check_output "any(d['instanceId'].upper() == r'$two'.upper() and d['mountPoints'] == [] for d in json.loads(text))"
check_output "sorted(json.loads(text)[0]) == sorted(['name', 'type', 'mountPoints', 'bus', 'capacity', 'capacityBytes', 'mediaType', 'instanceId', 'boot', 'pageFile'])"
echo "   stderr (the broken disk's reports): $(printf '%s' "$last" | head -c 300)"
[ -n "$last" ] && echo "ok: the build's reports went to stderr" ||
    fail "no report of the broken disk on stderr"

echo "== list as text, redirected"
cmd "$exe" list
expect_rc 0
check_output "text.startswith('Device Name') and 'Trayhop E2E Disk Two' in text and '\r\n' in text"

echo "== remove the boot disk: refused"
cmd "$exe" remove "$one"
expect_rc 3
expect "current boot device: Trayhop E2E Disk One"

echo "== remove the second disk: Wine's class installer refuses"
cmd "$exe" remove "$(printf '%s' "$two" | tr 'a-z' 'A-Z')"
expect_rc 4
expect "Unable to remove device Trayhop E2E Disk Two"
disk check --id 2
expect "listed=1 interface=1 opens=1"

echo "== a letter that matches nothing; a bad option"
cmd "$exe" remove Q:
expect_rc 2
expect 'No listed device matches "Q:"'
cmd "$exe" remove E: --bogus
expect_rc 1
expect "unknown option \"--bogus\""
expect "Usage:"
cmd "$exe" --version
expect_rc 0
check_output "text == '${program}Cmd 1.3.7567.0\r\n'"

if [ "$arch" = win64 ] && [ -n "$i686_bin" ]; then
    echo "== Trayhop32Cmd on 64-bit Windows refuses and names Trayhop64Cmd.exe"
    cmd "$i686_bin/Trayhop32Cmd.exe" list
    expect_rc 8
    expect "Trayhop64Cmd.exe"
fi

e2e_finish "E2E console program on a real disk"
