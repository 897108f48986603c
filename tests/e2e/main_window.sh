#!/usr/bin/env bash
# E2E of the main window: Trayhop32Demo.exe (the built-in demo workstation)
# under Wine on a private Xvfb display, read and worked from outside like a
# user would: its frame, layout, controls, columns and rows, the ticks and the
# status hints, F5, the About box from the system menu and from its button,
# Esc. Then the tree's program over Wine itself (Trayhop32.exe under 32-bit
# Wine, Trayhop64.exe under 64-bit Wine): the same window, a clean start, one
# instance per machine. In the win32 tree, Trayhop32.exe's refusal on a 64-bit
# edition (a win64 prefix); in the win64 tree, given the i686 tree's bin
# folder, one instance of either edition: Trayhop32.exe started beside a
# running Trayhop64.exe, and Trayhop64.exe beside Trayhop32.exe's refusal.
#
#   main_window.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe --bin DIR
#                  --artefacts DIR [--prefix64 DIR] [--i686-bin DIR]
#
# Exit 0 when every step saw what it expected, 77 when this machine cannot
# run Wine of the tree's architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
e2e_probe
e2e_start_xvfb
title="$program"
list=2001

echo "== start the demo"
e2e_start demo "$bin/Trayhop32Demo.exe"
drive wait --title "$title" --class "#32770" --timeout 60000
expect_line "window title=\"$title\" class=\"#32770\""

e2e_map_dlu "0,0,402,193" "4,5,393,150" "4,158,65,16" "78,158,65,16" "192,158,52,16" \
    "251,158,44,16" "302,158,44,16" "353,158,44,16" "4,177,393,12" \
    "0,0,254,98" "14,14,21,20" "46,20,196,10" "192,77,50,14"

control_line() { # id class text dlu-rect [default]
    local line="control id=$1 class=\"$2\" text=\"$3\" visible=1 enabled=1 rect=${e2e_px[$4]:-?}"
    [ $# -gt 4 ] && line+=" default=$5"
    expect_line "$line"
}
# The main window as every build of the program shows it (the demo, and the
# real program of either edition): frame, controls with their ids, texts,
# places and default button, tab order, list columns.
expect_main_window() {
    echo "== frame: fixed size, minimise box only, a taskbar button, no owner, centred"
    drive window --title "$title"
    expect_line "frame caption=1 sysmenu=1 minimizebox=1 maximizebox=0 sizing=0 modalframe=1 appwindow=1"
    expect_line "owner none"
    expect_line "client $(e2e_size 0,0,402,193)"
    expect "centred=1 iconic=0 enabled=1"

    echo "== controls: ids, texts, places, default button, tab order"
    drive controls --title "$title"
    control_line 2001 SysListView32 "" "4,5,393,150"
    control_line 2003 Button "&Scan for Devices" "4,158,65,16" 1
    control_line 2002 Button "&Remove Devices" "78,158,65,16" 0
    control_line 2004 Button "&Configure..." "192,158,52,16" 0
    control_line 57670 Button "&Help..." "251,158,44,16" 0
    control_line 2010 Button "&About..." "302,158,44,16" 0
    control_line 1 Button "&Exit" "353,158,44,16" 0
    control_line 2008 Static " Ready..." "4,177,393,12"
    local order
    order=$(printf '%s\n' "$last" | sed -n 's/^control id=\([0-9]*\) .*/\1/p' | tr '\n' ' ')
    if [ "$order" = "2001 2003 2002 2004 57670 2010 1 2008 " ]; then
        echo "ok: tab order $order"
    else
        fail "tab order is $order"
    fi

    echo "== list columns"
    drive listview --title "$title" --id $list
    local line
    for line in 'columns 6' 'column 0 width=210 text="Device Name"' 'column 1 width=95 text="Type"' \
        'column 2 width=80 text="Mount Points"' 'column 3 width=55 text="I/O Bus"' \
        'column 4 width=70 text="Capacity"' 'column 5 width=75 text="Media Type"'; do
        expect_line "$line"
    done
}
expect_main_window

echo "== the drive list of the demo workstation"
drive listview --title "$title" --id $list
expected_list=(
    'rows 8'
    'row 0 checked=0 selected=0 focused=0 "(Boot) WDC WD2500AAKS-00B3A0" "Fixed Disk" "C:" "SCSI" "232.88 GB" "Fixed"'
    'row 1 checked=0 selected=0 focused=0 "Maxtor 6L160M0" "Fixed Disk" "D:, E:" "IDE" "152.66 GB" "Fixed"'
    'row 2 checked=0 selected=0 focused=0 "SanDisk Cruzer Micro USB Device" "Removable Disk" "F:" "USB" "980.52 MB" "Removable"'
    'row 3 checked=0 selected=0 focused=0 "SanDisk Cruzer Micro USB Device" "Removable Disk" "G:" "USB" "980.52 MB" "Removable"'
    'row 4 checked=0 selected=0 focused=0 "Generic USB SD Reader USB Device" "Removable Disk" "J:" "USB" "No Media" "Removable"'
    'row 5 checked=0 selected=0 focused=0 "Maxtor OneTouch II 1394 SBP2 Device" "Fixed Disk" "H:" "1394" "279.47 GB" "Fixed"'
    'row 6 checked=0 selected=0 focused=0 "HL-DT-ST DVDRAM GSA-H10N" "DVD-ROM" "I:" "ATAPI" "4.38 GB" "Removable"'
    'row 7 checked=0 selected=0 focused=0 "HP C5683A SCSI Sequential Device" "DDS 4mm Tape" "None" "SCSI" "18.62 GB" "Removable"'
)
for line in "${expected_list[@]}"; do expect_line "$line"; done
screenshot e2e-main-window.png

echo "== selection hint, ticks and the Remove Devices button"
drive select --title "$title" --id $list --row 4
drive text --title "$title" --id 2008
expect_line 'text id=2008 "  Check the box to mark this device for removal."'
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=0'
drive tick --title "$title" --id $list --row 4 --state 1
drive text --title "$title" --id 2008
expect_line 'text id=2008 "  Ready..."'
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=1'
drive tick --title "$title" --id $list --row 4 --state 0
drive text --title "$title" --id 2008
expect_line 'text id=2008 "  Check the box to mark this device for removal."'
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=0'

echo "== a double-click toggles the tick of the focused, selected row"
drive select --title "$title" --id $list --row 5
for state in 1 0 1; do
    drive dblclick --title "$title" --id $list --row 5
    e2e_until "row 5 checked=$state selected=1 focused=1 \"Maxtor OneTouch II 1394 SBP2 Device\"" \
        listview --title "$title" --id $list
done
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=1'

echo "== F5 rebuilds the list and keeps the ticks"
drive tick --title "$title" --id $list --row 2 --state 1
# The rebuild deselects every row: that shows the refresh has run.
drive key --title "$title" --id $list --vk F5
e2e_until 'row 5 checked=1 selected=0 focused=0' listview --title "$title" --id $list
expect 'rows 8'
expect 'row 2 checked=1 selected=0 focused=0 "SanDisk Cruzer Micro USB Device" "Removable Disk" "F:"'
expect 'row 3 checked=0 selected=0 focused=0 "SanDisk Cruzer Micro USB Device" "Removable Disk" "G:"'
expect 'row 5 checked=1 selected=0 focused=0 "Maxtor OneTouch II 1394 SBP2 Device"'
drive text --title "$title" --id 2008
expect_line 'text id=2008 " Ready..."'
drive controls --title "$title"
expect 'control id=2002 class="Button" text="&Remove Devices" visible=1 enabled=1'

about_box() { # how it was opened
    drive wait --title "About $title" --class "#32770"
    drive window --title "About $title"
    expect_line "owner \"$title\""
    expect "centred=1"
    expect_line "client $(e2e_size 0,0,254,98)"
    drive controls --title "About $title"
    expect "control id=1000 class=\"Static\""
    expect " rect=${e2e_px[14,14,21,20]%,*,*}"
    expect_line "control id=1001 class=\"Static\" text=\"$program\\tVersion 1.3.7567.0\" visible=1 enabled=1 rect=${e2e_px[46,20,196,10]}"
    expect_line "control id=1 class=\"Button\" text=\"OK\" visible=1 enabled=1 rect=${e2e_px[192,77,50,14]} default=1"
    drive count --title "About $title" --class "#32770"
    expect_line "count 1"
    drive window --title "$title"
    expect "enabled=0"
    screenshot "e2e-about-$1.png"
}

echo "== About from the system menu (Alt+Space, End, Enter)"
drive syscommand --title "$title" --command 0xF100 --lparam 32
drive menu
screenshot e2e-system-menu.png
drive key --title "$title" --vk END --char 0
drive key --title "$title" --vk RETURN --char 0
about_box system-menu
drive click --title "About $title" --id 1
drive gone --title "About $title"
drive window --title "$title"
expect "enabled=1"

echo "== About from its button; Esc closes it"
drive click --title "$title" --id 2010
about_box button
drive key --title "About $title" --id 1 --vk ESCAPE
drive gone --title "About $title"

echo "== Esc closes the main window without a question"
drive key --title "$title" --id $list --vk ESCAPE
drive gone --title "$title"
e2e_wait_exit demo 10 || fail "the demo did not end after Esc"

bits=32
[ "$arch" = win64 ] && bits=64
echo "== $program.exe over $bits-bit Wine: what Wine reports, then the window"
e2e_start real "$bin/$program.exe"
e2e_wait_window_answering "$title" "e2e-real-$program-report.png"
echo "   Wine's reports while the list was built: ${#e2e_reported[@]}"
for text in "${e2e_reported[@]}"; do echo "     $text"; done
drive wait --title "$title" --class "#32770" --timeout 10000
# A late message box would carry the same title and class.
sleep 1
drive count --title "$title" --class "#32770"
expect_line "count 1"
expect_main_window
echo "   (what Wine reports: $(printf '%s\n' "$last" | grep -c '^row ') row(s))"
drive text --title "$title" --id 2008
expect_line 'text id=2008 " Ready..."'
screenshot "e2e-real-$program.png"

echo "== a second start brings the minimised first window forward and ends"
drive syscommand --title "$title" --command 0xF020
e2e_until "iconic=1" window --title "$title"
e2e_start second "$bin/$program.exe"
e2e_wait_exit second 30 || fail "the second $program.exe did not end"
drive count --title "$title" --class "#32770"
expect_line "count 1"
drive window --title "$title"
expect "iconic=0 enabled=1 foreground=1"

if [ -n "$i686_bin" ] && [ ! -f "$i686_bin/Trayhop32.exe" ]; then
    fail "no Trayhop32.exe in $i686_bin: build the i686 tree first"
    i686_bin=""
fi
if [ "$arch" = win64 ] && [ -n "$i686_bin" ]; then
    # Both editions take one mutex, and each looks for the other's window too.
    echo "== Trayhop32.exe started beside Trayhop64.exe brings Trayhop64 forward and ends"
    drive syscommand --title "$title" --command 0xF020
    e2e_until "iconic=1" window --title "$title"
    e2e_start other "$i686_bin/Trayhop32.exe"
    e2e_wait_exit other 30 || fail "Trayhop32.exe did not end beside Trayhop64.exe"
    drive count --title Trayhop32
    expect_line "count 0"
    drive window --title "$title"
    expect "iconic=0 enabled=1 foreground=1"
fi

drive click --title "$title" --id 1
drive gone --title "$title"
e2e_wait_exit real 10 || fail "$program.exe did not end after Exit"

if [ "$arch" = win64 ] && [ -n "$i686_bin" ]; then
    echo "== Trayhop64.exe started while Trayhop32.exe shows its refusal brings the box forward and ends"
    e2e_start refusal "$i686_bin/Trayhop32.exe"
    drive msgbox --title Trayhop32 --timeout 60000
    expect "Please upgrade to Trayhop64"
    e2e_start second64 "$bin/$program.exe"
    e2e_wait_exit second64 30 || fail "$program.exe did not end beside the refusal"
    drive count --title "$title"
    expect_line "count 0"
    drive msgbox --title Trayhop32
    expect_line "foreground=1"
    screenshot e2e-editions-refusal-in-front.png
    ok_id=$(printf '%s\n' "$last" | sed -n 's/^button id=\([0-9]*\) text="OK"/\1/p')
    drive answer --title Trayhop32 --button "${ok_id:-1}"
    e2e_wait_exit refusal 15 || fail "Trayhop32.exe did not end after the refusal"
elif [ "$arch" = win64 ]; then
    echo "== (both editions on one machine: needs the i686 tree's bin folder, --i686-bin)"
fi

if [ "$arch" = win32 ] && [ -n "$prefix64" ]; then
    echo "== Trayhop32.exe on a 64-bit edition (win64 prefix) refuses to run"
    "$wine_run" --arch win64 --prefix "$prefix64" --probe "$probe" -- "$probe" >"$out_file" 2>&1
    if [ $? != 0 ]; then
        fail "the 64-bit prefix does not work: $(cat "$out_file")"
    else
        "$wine_run" --arch win64 --prefix "$prefix64" --kill
        e2e_start64 refusal "$bin/Trayhop32.exe"
        drive64 msgbox --title "$title" --timeout 60000
        expect_line "msgbox title=\"$title\" text=\"The 32-bit version of Trayhop does not run on 64-bit versions of Windows. \\n\\nPlease upgrade to Trayhop64\""
        buttons=$(printf '%s\n' "$last" | grep -c '^button ')
        [ "$buttons" = 1 ] && echo "ok: one button" || fail "the box has $buttons buttons"
        expect 'text="OK"'
        screenshot e2e-refusal-win64.png
        ok_id=$(printf '%s\n' "$last" | sed -n 's/^button id=\([0-9]*\) text="OK"/\1/p')
        drive64 answer --title "$title" --button "${ok_id:-1}"
        e2e_wait_exit refusal 15 || fail "Trayhop32.exe did not end after the refusal"
        drive64 count --title "$title"
        expect_line "count 0"
    fi
fi

e2e_finish "E2E main window"
