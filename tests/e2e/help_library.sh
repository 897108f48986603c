#!/usr/bin/env bash
# E2E of Help and the library behind it, with real keys typed into the
# display. A hhctrl.ocx of the tests' own (bin/helpmark) stands in for the
# system's help library in the prefix's system folder and counts how often
# Help opened, at which context; Wine is told to prefer such a native
# library ("hhctrl.ocx=n,b"), and so searches for it as Windows does.
#   - F1 in the Configuration dialog (the demo) opens Help once, at the
#     dialog's context; Shift, Ctrl or Alt with F1 open nothing.
#   - With copies planted beside the exe and in the current folder, F1 in
#     the main window loads the system's library and neither copy.
#
#   help_library.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe
#                   --bin DIR --artefacts DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run Wine of this architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
title="$program"
dialog="Configuration"
system="$prefix/drive_c/windows/system32"
library="$system/hhctrl.ocx"
saved="$artefacts/hhctrl.ocx.prefix"
planted="$artefacts/planted"

# The prefix is shared with the other tests: its own library comes back on
# every way out.
restore_library() {
    [ -f "$saved" ] && cp -p "$saved" "$library" && rm -f "$saved"
    rm -f "$library.loaded" "$library.calls"
}
trap 'restore_library; e2e_cleanup' EXIT

e2e_probe
e2e_start_xvfb

if [ ! -f "$saved" ]; then
    cp -p "$library" "$saved" || { echo "FAIL: the prefix has no $library"; exit 1; }
fi
cp "$bin/helpmark/hhctrl.ocx" "$library"
rm -f "$library.loaded" "$library.calls"
export TRAYHOP_WINEDLLOVERRIDES="hhctrl.ocx=n,b"

# The Help calls the system's library has seen, one "HtmlHelpW COMMAND DATA"
# per line, in $last.
help_calls() {
    last=$(tr -d '\r' 2>/dev/null <"$library.calls")
    calls=$(printf '%s' "$last" | grep -c '^HtmlHelpW' || true)
}
# expect_help_calls N: waits up to five seconds for exactly N calls.
expect_help_calls() {
    for _ in $(seq 50); do
        help_calls
        [ "$calls" = "$1" ] && break
        sleep 0.1
    done
    if [ "$calls" = "$1" ]; then
        echo "ok: Help opened $1 time(s)"
    else
        fail "Help opened $calls time(s), expected $1: $(printf '%s' "$last" | tr '\n' ';')"
    fi
}

echo "== the demo: F1 in the Configuration dialog"
e2e_start demo "$bin/Trayhop32Demo.exe"
drive wait --title "$title" --class "#32770" --timeout 60000
drive click --title "$title" --id 2004
drive wait --title "$dialog" --class "#32770"
e2e_type_into "$dialog" F1
expect_help_calls 1
expect_line "HtmlHelpW 15 133498"
e2e_type_into "$dialog" shift+F1 ctrl+F1 alt+F1
sleep 2
expect_help_calls 1
# A plain F1 afterwards opens Help again, and only that once more.
e2e_type_into "$dialog" F1
expect_help_calls 2
sleep 1
expect_help_calls 2
screenshot help-configuration.png
drive click --title "$dialog" --id 2
drive gone --title "$dialog"
drive close --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end"

echo "== copies of the library planted beside the exe and in the current folder"
# The tree's elevated program: Trayhop32.exe, or Trayhop64.exe in the
# x86_64 tree.
exe="$program.exe"
rm -rf "$planted"
mkdir -p "$planted/app" "$planted/current"
cp "$bin/$exe" "$planted/app/"
cp "$bin/helpmark/hhctrl.ocx" "$planted/app/hhctrl.ocx"
cp "$bin/helpmark/hhctrl.ocx" "$planted/current/hhctrl.ocx"
rm -f "$library.calls" "$library.loaded"
pushd "$planted/current" >/dev/null || exit 1
e2e_start planted "$planted/app/$exe"
popd >/dev/null || exit 1
e2e_wait_window_answering "$title"
e2e_type_into "$title" F1
expect_help_calls 1
expect_line "HtmlHelpW 15 131174"
for mark in "$planted/app/hhctrl.ocx.loaded" "$planted/current/hhctrl.ocx.loaded"; do
    if [ -e "$mark" ]; then
        fail "the planted library was loaded: $mark"
    else
        echo "ok: no $mark"
    fi
done
[ -e "$library.loaded" ] && echo "ok: the system's library was loaded" ||
    fail "the system's library was not loaded"
drive click --title "$title" --id 1
drive gone --title "$title"
e2e_wait_exit planted 10 || fail "$exe did not end after Exit"

e2e_finish "E2E help library"
