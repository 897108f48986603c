#!/usr/bin/env bash
# E2E of the Configuration dialog and the scan. The tree's program
# (Trayhop32.exe, or Trayhop64.exe in a win64 tree) keeps its
# options in the prefix's registry, so the dialog is tried there: opened by
# its button and by Alt+C, its captions, places and first-run states, Cancel
# that stores nothing, OK that stores all twelve values (read back with
# `reg query`). Then Trayhop32Demo.exe over tests/machines/workstation.json:
# an option that brings the DVD drive into the list, and Enter (the default
# button, Scan for Devices) that brings in the stick the machine holds
# pending, the ticks kept.
#
#   configure.sh --wine-run PATH --arch win32 --prefix DIR --probe PROBE.exe --bin DIR
#                --artefacts DIR --machines DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run 32-bit Wine (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
[ -n "$machines" ] || { echo "configure.sh: --machines is required" >&2; exit 2; }
e2e_probe
e2e_start_xvfb
title="$program"
dialog="Configuration"
list=2001
key='HKCU\Software\Quenwell\Trayhop32\1.3'

# (On the display's wineserver: a server started without it would leave
# the windows of later programs with no display.)
# The prefix's values under the options key, one "Name=Data" per line in
# the order reg lists them; "none" when there are none.
registry_values() {
    "${wine_cmd[@]}" --keep-display -- reg query "$key" >"$out_file" 2>&1
    last=$(tr -d '\r' <"$out_file" | awk '$2 ~ /^REG_/ { print $1 "=" $2 "=" $3 }' | sort)
    [ -n "$last" ] || last="none"
    printf '%s\n' "$last" | sed 's/^/  | /'
}

# Every box of the dialog: id, caption, place in dialog units, tick.
boxes=(
    "2032|B&oot drive|15,20,95,10"
    "2033|Drives with &Page Files|15,34,95,10"
    "2034|CD and &DVD drives|15,48,76,10"
    "2035|&Tape drives|15,62,95,10"
    "2036|&IDE && EIDE|133,20,81,10"
    "2037|&ATAPI|133,34,81,10"
    "2038|&USB|133,48,81,10"
    "2039|&Firewire 1394|133,62,81,10"
    "2040|&SATA && SCSI|236,20,81,10"
    "2041|SSA S&CSI|236,34,81,10"
    "2042|Fi&bre Channel|236,48,81,10"
    "2043|&RAID Array|236,62,81,9"
)
# expect_boxes "1 1 0 0 ...": the twelve boxes in id order, each with its
# caption, its place and its tick, read in one go.
expect_boxes() {
    local states i=0 entry id caption place
    read -r -a states <<<"$1"
    drive controls --title "$dialog"
    for entry in "${boxes[@]}"; do
        IFS='|' read -r id caption place <<<"$entry"
        expect_line "control id=$id class=\"Button\" text=\"$caption\" visible=1 enabled=1 rect=${e2e_px[$place]} default=0 checked=${states[$i]}"
        i=$((i + 1))
    done
}

open_dialog() { # how: button or mnemonic
    if [ "$1" = button ]; then
        drive click --title "$title" --id 2004
    else
        drive mnemonic --title "$title" --char c
    fi
    drive wait --title "$dialog" --class "#32770"
}

echo "== $program.exe on a first run: no options stored"
"${wine_cmd[@]}" --keep-display -- reg delete 'HKCU\Software\Quenwell' /f >"$out_file" 2>&1
e2e_start real "$bin/$program.exe"
e2e_wait_window_answering "$title"

echo "== Configure by its button: captions, places, first-run ticks"
open_dialog button
rects=("0,0,337,106" "7,7,113,74" "126,7,199,73" "109,87,50,16" "178,87,50,16")
for entry in "${boxes[@]}"; do rects+=("${entry##*|}"); done
e2e_map_dlu "${rects[@]}"
drive window --title "$dialog"
expect_line "frame caption=1 sysmenu=1 minimizebox=0 maximizebox=0 sizing=0 modalframe=1 appwindow=0"
expect_line "owner \"$title\""
expect_line "client $(e2e_size 0,0,337,106)"
expect_boxes "1 1 0 0 1 1 1 1 1 0 1 0"
expect_line "control id=-1 class=\"Button\" text=\" Show these dri&ves: \" visible=1 enabled=1 rect=${e2e_px[7,7,113,74]} default=0"
expect_line "control id=-1 class=\"Button\" text=\"Syste&m I/O Bus types: \" visible=1 enabled=1 rect=${e2e_px[126,7,199,73]} default=0"
expect_line "control id=1 class=\"Button\" text=\"OK\" visible=1 enabled=1 rect=${e2e_px[109,87,50,16]} default=1"
expect_line "control id=2 class=\"Button\" text=\"Cancel\" visible=1 enabled=1 rect=${e2e_px[178,87,50,16]} default=0"
order=$(printf '%s\n' "$last" | sed -n 's/^control id=\(-*[0-9]*\) .*/\1/p' | tr '\n' ' ')
if [ "$order" = "-1 2032 2033 2034 2035 -1 2036 2037 2038 2039 2040 2041 2042 2043 1 2 " ]; then
    echo "ok: tab order"
else
    fail "tab order is $order"
fi
screenshot e2e-configuration.png

echo "== Cancel stores nothing"
drive click --title "$dialog" --id 2038
drive click --title "$dialog" --id 2043
e2e_until "checkbox id=2038 state=0" checkbox --title "$dialog" --id 2038
e2e_until "checkbox id=2043 state=1" checkbox --title "$dialog" --id 2043
drive click --title "$dialog" --id 2
drive gone --title "$dialog"
registry_values
expect_line "none"

echo "== Configure by Alt+C: first-run ticks again; toggle three, OK stores all twelve"
open_dialog mnemonic
expect_boxes "1 1 0 0 1 1 1 1 1 0 1 0"
drive click --title "$dialog" --id 2038   # USB off
drive click --title "$dialog" --id 2043   # RAID on
drive click --title "$dialog" --id 2034   # CD and DVD on
drive click --title "$dialog" --id 1
drive gone --title "$dialog"
# OK rebuilds the list: Wine's disks report the same errors again, in boxes
# without an owner that leave the main window usable.
e2e_answer_reports "$title"
registry_values
stored=(HideBootDrive=REG_SZ=0 HidePageDrives=REG_SZ=0 Ignore1394=REG_SZ=0 IgnoreATAPI=REG_SZ=0
    IgnoreCDROM=REG_SZ=0 IgnoreFibre=REG_SZ=0 IgnoreIDE=REG_SZ=0 IgnoreRAID=REG_SZ=0
    IgnoreSCSI=REG_SZ=0 IgnoreSSA=REG_SZ=1 IgnoreTape=REG_SZ=1 IgnoreUSB=REG_SZ=1)
for line in "${stored[@]}"; do expect_line "$line"; done
count=$(printf '%s\n' "$last" | grep -c '=')
[ "$count" = 12 ] && echo "ok: twelve values" || fail "$count values stored"
drive window --title "$title"
expect "enabled=1"

echo "== the stored options open the dialog; Cancel leaves them"
open_dialog button
expect_boxes "1 1 1 0 1 1 0 1 1 0 1 1"
drive click --title "$dialog" --id 2032
drive click --title "$dialog" --id 2038
drive key --title "$dialog" --id 2038 --vk ESCAPE
drive gone --title "$dialog"
sleep 1
drive count --title "$title" --class "#32770"
expect_line "count 1"
registry_values
for line in "${stored[@]}"; do expect_line "$line"; done
drive window --title "$title"
expect "enabled=1"
drive click --title "$title" --id 1
drive gone --title "$title"
e2e_wait_exit real 10 || fail "$program.exe did not end after Exit"

echo "== the demo over workstation.json: OK refreshes the list with the new option"
e2e_start demo "$bin/Trayhop32Demo.exe" "$(e2e_winpath "$machines/workstation.json")"
drive wait --title "$title" --class "#32770" --timeout 60000
drive listview --title "$title" --id $list
expect_line 'rows 2'
expect 'row 0 checked=0 selected=0 focused=0 "(Boot) WDC WD800JB-00JJC0"'
expect 'row 1 checked=0 selected=0 focused=0 "SanDisk Cruzer USB Device" "Removable Disk" "E:" "USB"'
drive tick --title "$title" --id $list --row 1 --state 1
open_dialog button
drive checkbox --title "$dialog" --id 2034
expect_line "checkbox id=2034 state=0"
drive click --title "$dialog" --id 2034
drive click --title "$dialog" --id 1
drive gone --title "$dialog"
e2e_until 'rows 3' listview --title "$title" --id $list
expect 'row 1 checked=1 selected=0 focused=0 "SanDisk Cruzer USB Device"'
expect 'row 2 checked=0 selected=0 focused=0 "HL-DT-ST DVD-ROM GDR8164B"'

echo "== Enter on the list scans for devices: the pending stick arrives, the tick stays"
drive key --title "$title" --id $list --vk RETURN
e2e_until 'rows 4' listview --title "$title" --id $list
expect 'row 1 checked=1 selected=0 focused=0 "SanDisk Cruzer USB Device" "Removable Disk" "E:"'
expect 'row 2 checked=0 selected=0 focused=0 "Kingston DataTraveler USB Device" "Fixed Disk" "F:" "USB" "1.86 GB" "Removable"'
expect 'row 3 checked=0 selected=0 focused=0 "HL-DT-ST DVD-ROM GDR8164B"'
# The scan waits a second after the rebuild before it says it is done.
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
screenshot e2e-after-scan.png
drive close --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end"

e2e_finish "E2E configure"
