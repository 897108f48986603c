#!/usr/bin/env bash
# E2E of today's laptop: Trayhop32Demo.exe over tests/machines/laptop.json.
# The list shows the folder mount, the spanned volume and the disk a virtual
# machine holds; the disk plugged in five seconds after the start (no
# partition, so no volume broadcast) reaches the list by itself through the
# window's interface registration; the BitLocker-locked stick goes without a
# question, and the mounted VHDX is detached, never called safe to pull.
#
#   laptop.sh --wine-run PATH --arch win32 --prefix DIR --probe PROBE.exe --bin DIR
#             --artefacts DIR --machines DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run Wine of this architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
[ -n "$machines" ] || { echo "laptop.sh: --machines is required" >&2; exit 2; }
e2e_probe
e2e_start_xvfb
title="$program"
list=2001

echo "== start the demo over the laptop"
e2e_start demo "$bin/Trayhop32Demo.exe" "$(e2e_winpath "$machines/laptop.json")"
drive wait --title "$title" --class "#32770" --timeout 60000
drive listview --title "$title" --id $list
expect_line 'rows 10'
expect '"WD Elements 25A2 USB Device" "Fixed Disk" "C:\\Backup\\" "USB"'
expect '"KINGSTON SA400S37480G USB Device" "Fixed Disk" "None" "USB"'
expect '"SDXC Card" "Removable Disk" "G:" "SD"'
screenshot e2e-laptop-list.png

echo "== the disk without partitions arrives by itself"
end=$((SECONDS + 30))
while [ $SECONDS -lt $end ]; do
    drive_quiet listview --title "$title" --id $list
    printf '%s\n' "$last" | grep -qx 'rows 11' && break
    sleep 0.5
done
expect_line 'rows 11'
expect 'row 9 checked=0 selected=0 focused=0 "Seagate Expansion HDD USB Device" "Fixed Disk" "None" "USB"'
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
screenshot e2e-laptop-arrived.png

echo "== the BitLocker-locked stick goes without a question"
drive tick --title "$title" --id $list --row 3 --state 1
drive click --title "$title" --id 2002
drive msgbox --title "$title"
expect_line "msgbox title=\"$title\" text=\"The following device was successfully removed:    \\n\\nSanDisk Ultra USB Device\\n\\n\\nIt is safe to power it down and remove it.\""
drive answer --title "$title" --button 1
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008

echo "== the mounted VHDX is detached, and not called safe to pull"
drive listview --title "$title" --id $list
expect 'row 3 checked=0 selected=0 focused=0 "Msft Virtual Disk" "Fixed Disk" "V:"'
drive tick --title "$title" --id $list --row 3 --state 1
drive click --title "$title" --id 2002
drive msgbox --title "$title"
expect_line "msgbox title=\"$title\" text=\"The following virtual disk was detached from its image file:\\n\\nMsft Virtual Disk (build.vhdx)\\n\\nIt is not a device to unplug; its image file is no longer in use.\""
expect_not 'safe to power'
screenshot e2e-laptop-detached.png
drive answer --title "$title" --button 1
e2e_until 'text id=2008 " Ready..."' text --title "$title" --id 2008
drive listview --title "$title" --id $list
expect_line 'rows 9'
expect_not '"V:"'

echo "== close"
drive close --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end"

e2e_finish "E2E laptop"
