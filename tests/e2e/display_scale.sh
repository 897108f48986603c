#!/usr/bin/env bash
# E2E of the program at four display scales: Trayhop32Demo.exe under Wine
# with the prefix's LogPixels at 96, 120, 144 and 192 DPI (96 and 144 in the
# x86_64 tree), on a display large enough for the biggest. At each: the list's column widths (the widths at
# 96 DPI scaled with the dialog's layout; at 144 DPI 315, 143, 120, 83, 105,
# 113), the share of the list they fill (the same as at 96 within 3 %), the
# main window, the Configuration dialog and the About box with no control
# outside its window or over another and every button, check box and text
# showing its whole text; a screenshot of each. Then, at 96 DPI, a move to a
# monitor of 144 DPI as Windows announces it (WM_DPICHANGED; Wine runs every
# program per-monitor v1, so the program rescales its controls itself): the
# window takes the suggested rectangle, a column the user widened stays
# wider, scaled, and the window and the Configuration dialog stay whole.
#
#   display_scale.sh --wine-run PATH --arch win32|win64 --prefix DIR --probe PROBE.exe
#                    --bin DIR --artefacts DIR
#
# The prefix is shared with the other tests: its LogPixels is put back on
# every way out. Exit 0 when every step saw what it expected, 77 when this
# machine cannot run Wine of this architecture (reason printed), 1 otherwise.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_parse_args "$@"
title="$program"
list=2001
desktop='HKCU\Control Panel\Desktop'
widths96=(210 95 80 55 70 75)

e2e_probe
# 402 x 193 dialog units are about 1210 x 610 pixels at 192 DPI.
e2e_start_xvfb 1920x1200

# The prefix's own LogPixels ("" when it has none), and putting it back.
"${wine_cmd[@]}" --keep-display -- reg query "$desktop" /v LogPixels >"$out_file" 2>&1
saved_dpi=$(tr -d '\r' <"$out_file" | awk '$1 == "LogPixels" { print $3 }')
restore_dpi() {
    if [ -n "$saved_dpi" ]; then
        "${wine_cmd[@]}" --keep-display -- reg add "$desktop" /v LogPixels /t REG_DWORD \
            /d "$((saved_dpi))" /f >/dev/null 2>&1
    else
        "${wine_cmd[@]}" --keep-display -- reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1
    fi
}
trap 'restore_dpi; e2e_cleanup' EXIT

# Programs read the scale when they start; the server goes with the old one.
set_dpi() {
    "${wine_cmd[@]}" --keep-display -- reg add "$desktop" /v LogPixels /t REG_DWORD /d "$1" /f \
        >/dev/null 2>&1 || fail "LogPixels $1 not set"
    "${wine_cmd[@]}" --kill
}

# The column widths of the list in $last, joined by blanks; their sum and
# the list's client width.
read_columns() {
    columns=$(printf '%s\n' "$last" | sed -n 's/^column [0-9] width=\([0-9]*\) .*/\1/p' | tr '\n' ' ')
    columns=${columns% }
    local width
    column_sum=0
    for width in $columns; do column_sum=$((column_sum + width)); done
    list_width=$(printf '%s\n' "$last" | sed -n 's/^list client \([0-9]*\)x.*/\1/p')
}

expect_columns() { # expected widths, blank-separated
    if [ "$columns" = "$1" ]; then
        echo "ok: columns $columns"
    else
        fail "columns are $columns, expected $1"
    fi
}

expect_whole() { # window title, [font DPI]
    drive layout --title "$1" ${2:+--dpi "$2"}
    expect "problems=0"
}

# The x86_64 tree builds the same window code: it is tried at the two
# scales the i686 tree's four include.
dpis="96 120 144 192"
[ "$arch" = win64 ] && dpis="96 144"
share96=""
for dpi in $dpis; do
    echo "== $dpi DPI"
    set_dpi "$dpi"
    e2e_start "demo$dpi" "$bin/Trayhop32Demo.exe"
    drive wait --title "$title" --class "#32770" --timeout 60000

    # The dialog base unit at this scale: the layout's scale, which the
    # columns follow (widths at 96 DPI times unit / 6, halves up).
    drive dlu --rects "4,0,4,0"
    unit=$(printf '%s\n' "$last" | sed -n 's/^dlu 4,0,4,0 px \([0-9]*\),.*/\1/p')
    expected=""
    for width in "${widths96[@]}"; do expected+="$(((width * ${unit:-0} + 3) / 6)) "; done
    drive listview --title "$title" --id $list
    read_columns
    expect_columns "${expected% }"
    case "$dpi" in
        96) expect_columns "210 95 80 55 70 75" ;;
        144) expect_columns "315 143 120 83 105 113" ;;
    esac
    if [ -z "$list_width" ] || [ "$list_width" = 0 ]; then
        fail "no width of the list"
    else
        share=$((column_sum * 1000 / list_width))
        [ -z "$share96" ] && share96=$share
        echo "   the columns fill $share per mille of the list (at 96 DPI: $share96)"
        difference=$((share - share96))
        [ $difference -lt 0 ] && difference=$((-difference))
        [ $((difference * 1000)) -le $((share96 * 30)) ] && echo "ok: the same share as at 96 DPI" ||
            fail "the columns fill $share per mille of the list, at 96 DPI $share96"
    fi

    expect_whole "$title"
    # The longest text of the status line, the hint of a selected row.
    drive select --title "$title" --id $list --row 2
    e2e_until "Check the box to mark" text --title "$title" --id 2008
    expect_whole "$title"
    screenshot "e2e-scale-$dpi.png"

    drive click --title "$title" --id 2004
    drive wait --title "Configuration" --class "#32770"
    expect_whole "Configuration"
    screenshot "e2e-scale-$dpi-configuration.png"
    drive click --title "Configuration" --id 2
    drive gone --title "Configuration"

    drive click --title "$title" --id 2010
    drive wait --title "About $title" --class "#32770"
    expect_whole "About $title"
    drive click --title "About $title" --id 1
    drive gone --title "About $title"

    if [ "$dpi" = 96 ]; then
        echo "== moved to a monitor of 144 DPI"
        drive columnwidth --title "$title" --id $list --column 0 --width 250
        drive dpichanged --title "$title" --dpi 144
        suggested=$(printf '%s\n' "$last" | sed -n 's/.* suggested=//p')
        drive window --title "$title"
        expect_line "rect $suggested"
        drive listview --title "$title" --id $list
        read_columns
        expect_columns "375 143 120 83 105 113"
        expect_whole "$title" 144
        screenshot "e2e-scale-moved-144.png"
        drive click --title "$title" --id 2004
        drive wait --title "Configuration" --class "#32770"
        drive dpichanged --title "Configuration" --dpi 144
        expect_whole "Configuration" 144
        screenshot "e2e-scale-moved-144-configuration.png"
        drive click --title "Configuration" --id 2
        drive gone --title "Configuration"
    fi

    drive close --title "$title"
    e2e_wait_exit "demo$dpi" 10 || fail "the demo did not end at $dpi DPI"
done

e2e_finish "E2E display scale"
