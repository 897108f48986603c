#!/usr/bin/env bash
# E2E of Remove Devices: Trayhop32Demo.exe over tests/machines/e2e-removal.json
# (a system disk and three USB sticks, files open on the stick of G:, one
# of them by Explorer, which the files-in-use question names), driven
# from outside: two sticks removed at once with the summary read word for
# word, then the stick with files in use: the lock is tried again for about
# three seconds with the window answering and saying so, then Cancel removes
# nothing, Try Again asks again, Continue tries anyway and ends in the
# restart message.
#
#   remove.sh --wine-run PATH --arch win32 --prefix DIR --probe PROBE.exe --bin DIR
#             --artefacts DIR --machines DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run 32-bit Wine (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
[ -n "$machines" ] || { echo "remove.sh: --machines is required" >&2; exit 2; }
e2e_probe
e2e_start_xvfb
title="$program"
list=2001
kingston="Kingston DataTraveler USB Device"
sandisk="SanDisk Cruzer Blade USB Device"
verbatim="Verbatim STORE N GO USB Device"

echo "== start the demo over the removal machine"
e2e_start demo "$bin/Trayhop32Demo.exe" "$(e2e_winpath "$machines/e2e-removal.json")"
drive wait --title "$title" --class "#32770" --timeout 60000
drive listview --title "$title" --id $list
expect_line 'rows 4'
expect_line 'row 0 checked=0 selected=0 focused=0 "(Boot) WDC WD800JB-00JJC0" "Fixed Disk" "C:" "IDE" "74.52 GB" "Fixed"'
expect_line "row 1 checked=0 selected=0 focused=0 \"$kingston\" \"Removable Disk\" \"F:\" \"USB\" \"1.86 GB\" \"Removable\""
expect_line "row 2 checked=0 selected=0 focused=0 \"$sandisk\" \"Removable Disk\" \"G:\" \"USB\" \"7.45 GB\" \"Removable\""
expect_line "row 3 checked=0 selected=0 focused=0 \"$verbatim\" \"Removable Disk\" \"H:\" \"USB\" \"3.73 GB\" \"Removable\""

echo "== two sticks removed: the plural summary, then the list without them"
drive tick --title "$title" --id $list --row 1 --state 1
drive tick --title "$title" --id $list --row 3 --state 1
drive click --title "$title" --id 2002
drive msgbox --title "$title"
expect_line "msgbox title=\"$title\" text=\"The following devices were successfully removed:    \\n\\n$kingston\\n$verbatim\\n\\n\\nIt is safe to power them down and remove them.\""
expect_line 'button id=1 text="OK"'
buttons=$(printf '%s\n' "$last" | grep -c '^button ')
[ "$buttons" = 1 ] && echo "ok: one button" || fail "the summary has $buttons buttons"
# The removals' broadcasts reach the window in the summary box's loop, as
# Windows sends them, and refresh the list once more: the status line then
# reads " Ready..." behind the box.
drive text --title "$title" --id 2008
if printf '%s\n' "$last" | grep -qx 'text id=2008 " All selected devices have been processed"' ||
    printf '%s\n' "$last" | grep -qx 'text id=2008 " Ready..."'; then
    echo "ok: the status line behind the summary"
else
    fail "the status line behind the summary reads: $last"
fi
# The list is refreshed once before the summary shows.
drive listview --title "$title" --id $list
expect_line 'rows 2'
screenshot e2e-remove-summary.png
drive answer --title "$title" --button 1
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
drive listview --title "$title" --id $list
expect_line 'rows 2'
expect 'row 0 checked=0 selected=0 focused=0 "(Boot) WDC WD800JB-00JJC0"'
expect_line "row 1 checked=0 selected=0 focused=0 \"$sandisk\" \"Removable Disk\" \"G:\" \"USB\" \"7.45 GB\" \"Removable\""
expect_not "$kingston"
expect_not "$verbatim"
drive text --title "$title" --id 2008
expect_line 'text id=2008 " Ready..."'

files_in_use="Files are in use on drive G: of device:\\n\\n$sandisk\\n\\nMake sure Explorer is not open to a folder on drive G:,\\nclose files in other applications that may be open on drive G:,\\nthen press the 'Try Again' button.  To ignore this error and\\ntry to remove this device anyway, press the 'Continue' button,     \\nor press the 'Cancel' button to stop trying to remove devices.\\n\\nThese programs have files or folders open on drive G:\\nexplorer.exe (1704): G:\\\\Photos\\nSearchIndexer.exe (3120, service WSearch): G:\\\\System Volume Information\\nStick.exe (4188): G:\\\\Stick.exe\\n1 other program could not be examined."
files_in_use_box() {
    drive msgbox --title "$title"
    expect_line "msgbox title=\"$title\" text=\"$files_in_use\""
    # Cancel, Try Again, Continue: and nothing else.
    local buttons
    buttons=$(printf '%s\n' "$last" | sed -n 's/^button id=\([0-9]*\) .*/\1/p' | sort -n | tr '\n' ' ')
    if [ "$buttons" = "2 10 11 " ]; then
        echo "ok: buttons Cancel, Try Again, Continue"
    else
        fail "the files-in-use box has the buttons $buttons"
    fi
    drive text --title "$title" --id 2008
    expect_line "text id=2008 \" Unable to get an exclusive lock for device $sandisk\""
}

echo "== files in use: the lock is tried again for about 3 s, then Cancel removes nothing"
drive tick --title "$title" --id $list --row 1 --state 1
clicked=$(date +%s%N)
drive click --title "$title" --id 2002
# The status text exists only while the window waits between retries: read
# through WM_GETTEXT, it shows the window answers messages meanwhile.
e2e_until "text id=2008 \" Waiting for drive G: of device $sandisk to be released...\"" \
    text --title "$title" --id 2008
screenshot e2e-remove-waiting.png
files_in_use_box
asked=$(( ($(date +%s%N) - clicked) / 1000000 ))
echo "the question came $asked ms after the click"
if [ "$asked" -ge 2000 ] && [ "$asked" -le 9000 ]; then
    echo "ok: asked once the retries were spent"
else
    fail "the question came $asked ms after the click, not after about 3 s of retries"
fi
screenshot e2e-remove-files-in-use.png
drive answer --title "$title" --button 2
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
drive count --title "$title" --class "#32770"
expect_line 'count 1'
drive listview --title "$title" --id $list
expect_line 'rows 2'
expect "row 1 checked=1 selected=0 focused=0 \"$sandisk\""

echo "== files in use: Try Again asks again; Continue tries anyway and the stick asks for a restart"
drive click --title "$title" --id 2002
files_in_use_box
drive answer --title "$title" --button 10
files_in_use_box
drive answer --title "$title" --button 11
# With files open the device installer can only take the stick out at the
# next restart: the reboot message, and no summary, as nothing was removed.
drive msgbox --title "$title"
expect_line "msgbox title=\"$title\" text=\"One of the devices you requested to remove has asked that you reboot your computer.  This can be caused when a device fails to be removed.  If that is the case, then rebooting may not be necessary.  For more information, look in the 'Frequently Asked Technical Questions' section of the help.\""
expect_line 'button id=1 text="OK"'
screenshot e2e-remove-reboot.png
drive answer --title "$title" --button 1
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
drive count --title "$title" --class "#32770"
expect_line 'count 1'
drive listview --title "$title" --id $list
expect_line 'rows 2'
expect "row 1 checked=1 selected=0 focused=0 \"$sandisk\""
drive text --title "$title" --id 2008
expect_line 'text id=2008 " Ready..."'
screenshot e2e-remove-after.png

echo "== close"
drive close --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end"

e2e_finish "E2E remove"
