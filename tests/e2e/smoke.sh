#!/usr/bin/env bash
# E2E smoke: starts the fixture dialog under Wine on a private Xvfb display,
# works it from outside with e2edriver like a user would (read the controls
# and the list, tick rows by message and by key, press buttons, answer the
# message box) and saves screenshots as artefacts.
#
#   smoke.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe --bin DIR
#            --artefacts DIR
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run Wine of this architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
title="Trayhop E2E Fixture"
e2e_probe
e2e_start_xvfb

echo "== start the fixture"
e2e_start fixture "$bin/e2efixture.exe"
drive wait --title "$title" --timeout 60000
expect "window title=\"$title\" class=\"#32770\""

echo "== controls"
drive controls --title "$title"
expect 'control id=1006 class="Static" text="Drives to remove:" visible=1 enabled=1'
expect 'control id=1001 class="SysListView32"'
expect 'control id=1005 class="Button" text="&Show all drives"'
expect 'control id=1004 class="Static" text="Ready"'
expect 'control id=1002 class="Button" text="&Remove" visible=1 enabled=1'
expect 'control id=1003 class="Button" text="Re&fresh"'
expect 'control id=2 class="Button" text="Close"'

echo "== list contents"
drive listview --title "$title" --id 1001
expect 'columns 2'
expect 'column 0 width=60 text="Drive"'
expect 'column 1 width=300 text="Description"'
expect 'rows 3'
expect 'row 0 checked=0 selected=0 focused=0 "E:" "USB Flash Disk"'
expect 'row 1 checked=0 selected=0 focused=0 "F:" "SD Card Reader"'
expect 'row 2 checked=0 selected=0 focused=0 "G:" "External Hard Disk"'

echo "== tick a row; the dialog sees the change"
drive tick --title "$title" --id 1001 --row 1 --state 1
drive listview --title "$title" --id 1001
expect 'row 1 checked=1'
expect 'row 0 checked=0'
drive text --title "$title" --id 1004
expect 'text id=1004 "Ticked: F:"'

echo "== tick a row with the space bar"
drive select --title "$title" --id 1001 --row 2
drive key --title "$title" --id 1001 --vk SPACE
sleep 0.5
drive listview --title "$title" --id 1001
expect 'row 2 checked=1 selected=1 focused=1 "G:"'
drive text --title "$title" --id 1004
expect 'text id=1004 "Ticked: F: G:"'

echo "== a check box"
drive click --title "$title" --id 1005
sleep 0.5
drive checkbox --title "$title" --id 1005
expect 'checkbox id=1005 state=1'
drive text --title "$title" --id 1004
expect 'text id=1004 "Showing all drives"'

echo "== a button that asks first"
drive click --title "$title" --id 1002
drive msgbox --title "$title"
expect "msgbox title=\"$title\" text=\"Remove these drives?\\nF: G:\""
expect 'button id=1 text="OK"'
expect 'button id=2 text="Cancel"'
screenshot e2e-fixture-question.png
drive answer --title "$title" --button 1
expect 'answered button=1'
drive text --title "$title" --id 1004
expect 'text id=1004 "Removed F: G:"'
drive listview --title "$title" --id 1001
expect 'rows 1'
expect 'row 0 checked=0 selected=0'
expect '"E:" "USB Flash Disk"'
screenshot e2e-fixture-after.png

echo "== close"
drive close --title "$title"
expect 'closed'
e2e_wait_exit fixture 10 || fail "the fixture did not exit"

e2e_finish "E2E smoke"
