#!/usr/bin/env bash
# The import check must name each import XP SP3 lacks, with its DLL, and let
# an exe of only XP functions pass.
#
#   check_imports_test.sh CHECK-IMPORTS CC OBJDUMP CANARY.exe CLEAN.exe
set -u
check="$1" cc="$2" objdump="$3" canary="$4" clean="$5"
failures=0

out=$("$check" --xp "$cc" "$objdump" "$canary" "$clean")
rc=$?
printf '%s\n' "$out"
[ $rc = 1 ] || { echo "FAIL: the check exited with $rc"; failures=1; }
for expected in "kernel32.dll!GetTickCount64 is declared only past XP" \
    "msvcrt.dll!wcscpy_s is a secure-CRT function" \
    "msvcrt.dll!wcsnlen came after XP's msvcrt.dll" \
    "ok   $(basename "$clean"): "; do
    printf '%s\n' "$out" | grep -qF "$expected" ||
        { echo "FAIL: no line with: $expected"; failures=1; }
done
exit $failures
