#!/usr/bin/env bash
# E2E of the keyboard alone, with real keys typed into the display
# (Trayhop32Demo.exe): each dialog's mnemonics are unique within it; Tab
# reaches every control of the main window and of the Configuration dialog
# in their order, and Shift+Tab goes back; Space ticks the focused row;
# Alt+letter reaches the buttons and boxes; and whenever a dialog or box
# closes the keyboard is back on the list, even when the button that opened
# it has been disabled meanwhile.
#
#   keyboard.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe --bin DIR
#               --artefacts DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run Wine of this architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
e2e_probe
e2e_start_xvfb
title="$program"
dialog="Configuration"
list=2001

# expect_focus ID [WINDOW]: the control with the keyboard focus, in the
# window of that title (the main window unless given).
expect_focus() {
    local in="${2:-$title}"
    e2e_until "focus id=$1 " focus --title "$title"
    expect "in=\"$in\""
}

# press_and_trace COUNT KEY: presses KEY COUNT times into WINDOW ($window)
# and collects the focused control's id after each press in $trace.
press_and_trace() {
    local count="$1" key="$2" i
    trace=""
    for i in $(seq "$count"); do
        e2e_type_into "$window" "$key" >/dev/null
        sleep 0.2
        e2e_run_driver focus --title "$title"
        trace+="$(printf '%s\n' "$last" | sed -n 's/^focus id=\([-0-9]*\) .*/\1/p') "
    done
    trace=${trace% }
}

expect_trace() {
    if [ "$trace" = "$1" ]; then
        echo "ok: focus went $trace"
    else
        fail "focus went $trace, expected $1"
    fi
}

# The mnemonic letters of the window's controls, from their texts ("&&" is
# an ampersand); each must be unique in the window.
expect_unique_mnemonics() {
    drive controls --title "$1"
    local letters
    letters=$(printf '%s\n' "$last" | sed -n 's/^control id=[-0-9]* class="[^"]*" text="\(.*\)" visible=.*/\1/p' |
        sed 's/&&//g' | sed -n 's/.*&\(.\).*/\1/p' | tr '[:upper:]' '[:lower:]' | sort)
    local repeated
    repeated=$(printf '%s\n' "$letters" | uniq -d | tr '\n' ' ')
    if [ -z "$repeated" ] && [ "$(printf '%s\n' "$letters" | grep -c .)" = "$2" ]; then
        echo "ok: $2 unique mnemonics in $1: $(printf '%s' "$letters" | tr '\n' ' ')"
    else
        fail "mnemonics of $1: $(printf '%s' "$letters" | tr '\n' ' ') (repeated: $repeated; expected $2)"
    fi
}

echo "== start the demo: the list has the keyboard"
e2e_start demo "$bin/Trayhop32Demo.exe"
drive wait --title "$title" --class "#32770" --timeout 60000
expect_focus $list
expect_unique_mnemonics "$title" 6

echo "== Tab goes round the window in order, Shift+Tab goes back"
window="$title"
press_and_trace 7 Tab
expect_trace "2003 2002 2004 57670 2010 1 $list"
press_and_trace 2 shift+Tab
expect_trace "1 2010"
press_and_trace 2 Tab
expect_trace "1 $list"

echo "== Space ticks the focused row, and again unticks it"
e2e_type_into "$title" Down space
e2e_until "row 0 checked=1 selected=1 focused=1" listview --title "$title" --id $list
e2e_type_into "$title" space
e2e_until "row 0 checked=0 selected=1 focused=1" listview --title "$title" --id $list
# The card reader's empty slot (J:) is removed without a question.
e2e_type_into "$title" Down Down Down Down space
e2e_until "row 4 checked=1 selected=1 focused=1 \"Generic USB SD Reader USB Device\"" \
    listview --title "$title" --id $list

echo "== Alt+A: the About box has the keyboard on OK; Enter closes it"
e2e_type_into "$title" alt+a
drive wait --title "About $title" --class "#32770"
expect_focus 1 "About $title"
e2e_type_into "About $title" Return
drive gone --title "About $title"
expect_focus $list

echo "== the Configuration dialog from its focused button: Tab in order, Alt+U, Esc"
window="$title"
press_and_trace 3 Tab
expect_trace "2003 2002 2004"
e2e_type_into "$title" space
drive wait --title "$dialog" --class "#32770"
expect_focus 2032 "$dialog"
expect_unique_mnemonics "$dialog" 14
window="$dialog"
press_and_trace 14 Tab
expect_trace "2033 2034 2035 2036 2037 2038 2039 2040 2041 2042 2043 1 2 2032"
e2e_type_into "$dialog" alt+u
e2e_until "checkbox id=2038 state=0" checkbox --title "$dialog" --id 2038
expect_focus 2038 "$dialog"
screenshot e2e-keyboard-configuration.png
e2e_type_into "$dialog" Escape
drive gone --title "$dialog"
expect_focus $list

echo "== Remove Devices from its focused button: after the report the list has the keyboard"
window="$title"
press_and_trace 2 Tab
expect_trace "2003 2002"
e2e_type_into "$title" space
drive msgbox --title "$title" --timeout 20000
expect "Generic USB SD Reader USB Device"
e2e_type_into "$title" Return
expect_focus $list
drive listview --title "$title" --id $list
expect_line 'rows 7'
# Nothing is ticked any more, so the button that had the keyboard is off.
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=0'
screenshot e2e-keyboard-after-remove.png

echo "== Esc closes the main window"
e2e_type_into "$title" Escape
drive gone --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end after Esc"

e2e_finish "E2E keyboard"
