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
set -u

wine_run="" arch="" prefix="" probe="" bin="" artefacts=""
while [ $# -gt 0 ]; do
    case "$1" in
        --wine-run) wine_run="$2"; shift 2 ;;
        --arch) arch="$2"; shift 2 ;;
        --prefix) prefix="$2"; shift 2 ;;
        --probe) probe="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        --artefacts) artefacts="$2"; shift 2 ;;
        *) echo "smoke.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
wine_cmd=("$wine_run" --arch "$arch" --prefix "$prefix" --probe "$probe")
title="Trayhop E2E Fixture"
mkdir -p "$artefacts"

# Outputs go through files: Wine's background processes inherit a pipe and
# would keep a command substitution waiting.
out_file="$artefacts/driver.out"
"${wine_cmd[@]}" -- "$probe" >"$out_file" 2>&1
rc=$?
if [ $rc = 77 ]; then
    cat "$out_file"
    exit 77
fi
if [ $rc != 0 ]; then
    echo "FAIL: Wine does not start: $(cat "$out_file")"
    exit 1
fi
# The server must be started again on the display below.
"${wine_cmd[@]}" --kill

xvfb_pid="" fixture_pid=""
cleanup() {
    [ -n "$fixture_pid" ] && kill "$fixture_pid" 2>/dev/null
    "${wine_cmd[@]}" --kill
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

# A display of our own: -displayfd picks a free number and reports it.
display_file="$artefacts/display"
rm -f "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$artefacts/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
if [ ! -s "$display_file" ]; then
    echo "FAIL: Xvfb did not start (see $artefacts/xvfb.log)"
    exit 1
fi
export DISPLAY=":$(head -n 1 "$display_file")"
echo "display $DISPLAY"

failures=0
last=""
drive() {
    "${wine_cmd[@]}" --keep-display -- "$bin/e2edriver.exe" "$@" >"$out_file" 2>&1
    local rc=$?
    last=$(cat "$out_file")
    printf '%s\n' "$last" | sed 's/^/  | /'
    if [ $rc != 0 ]; then
        echo "FAIL: e2edriver $1 exited with $rc"
        failures=$((failures + 1))
    fi
}
expect() {
    if printf '%s\n' "$last" | grep -qF -- "$1"; then
        echo "ok: $1"
    else
        echo "FAIL: expected a line with: $1"
        failures=$((failures + 1))
    fi
}
screenshot() {
    local file="$artefacts/$1"
    if import -display "$DISPLAY" -window root "$file" 2>>"$artefacts/import.log"; then
        echo "screenshot: $file"
    else
        echo "FAIL: screenshot $file not taken"
        failures=$((failures + 1))
    fi
}

echo "== start the fixture"
"${wine_cmd[@]}" --keep-display -- "$bin/e2efixture.exe" >"$artefacts/fixture.log" 2>&1 &
fixture_pid=$!
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
for _ in $(seq 100); do
    kill -0 "$fixture_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$fixture_pid" 2>/dev/null; then
    echo "FAIL: the fixture did not exit"
    failures=$((failures + 1))
else
    fixture_pid=""
fi

if [ "$failures" != 0 ]; then
    echo "E2E smoke: $failures failure(s); artefacts in $artefacts"
    exit 1
fi
echo "E2E smoke passed; screenshots in $artefacts"
