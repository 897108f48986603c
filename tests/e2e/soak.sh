#!/usr/bin/env bash
# Soak of the demo under Wine: Trayhop32Demo.exe is driven through many
# cycles of what a user does all day, and its handle count and private bytes
# must not creep up.
#
# Each cycle: tick the first stick, Remove Devices, read and answer the
# summary, Scan for Devices, then one device-change broadcast sent to the main
# window (arrival and completed removal in turn, as the system sends them).
# The simulated machine cannot bring back a device once removed, and a scan
# brings in every pending device at once, so the machine (written for the run
# into the artefacts folder) holds one USB stick per cycle plus four pending
# sticks that the first scan brings in; the list thus shrinks by one row a
# cycle and ends with four sticks. Every tenth stick has a drive letter, every
# stick a volume, so each removal locks and flushes a volume.
#
# Every 10 cycles the demo's process is measured (GetProcessHandleCount and
# GetProcessMemoryInfo's PrivateUsage, read by e2edriver; Wine 8 answers 0 to
# both, so there the driver counts the process's entries in the system handle
# table and reads PagefileUsage, which is the same commit figure on Windows and
# the process's resident private memory under Wine) and the list's row count
# checked. The figures after the first 10 cycles (past first-use
# allocations) are the baseline; the run fails when the last figures exceed
# it by more than 20 handles or 2 MB of private bytes. The list shrinking by
# one row a cycle frees far less than that margin, so it cannot hide a leak.
#
# Not part of ctest: 200 cycles took about 35 minutes here (each cycle builds
# the list three times, and it starts with 200 sticks; the first cycles take
# some 16 s, the last some 5 s). Run it by hand from the repository after
# building the 32-bit tree's demo, driver and probe:
#
#   cmake --build build/win32 --target Trayhop32Demo e2edriver wineprobe
#   tests/e2e/soak.sh --build build/win32 [--cycles 200]
#
# --build DIR stands for the harness options the other E2E scripts take
# (--wine-run, --arch win32, --prefix DIR/wineprefix, --probe, --bin,
# --artefacts DIR/soak-artefacts); they may also be given one by one instead.
# Exit 0 when every cycle saw what it expected and nothing grew, 77 when this
# machine cannot run 32-bit Wine, 1 otherwise.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$here/lib.sh"

cycles=200
handle_margin=20
private_margin=$((2 * 1024 * 1024))
pass=()
while [ $# -gt 0 ]; do
    case "$1" in
        --cycles) cycles="$2"; shift 2 ;;
        --build)
            build="$(cd "$2" && pwd)" || exit 2
            pass+=(--wine-run "$here/../../cmake/wine-run" --arch win32
                --prefix "$build/wineprefix" --probe "$build/bin/wineprobe.exe"
                --bin "$build/bin" --artefacts "$build/soak-artefacts")
            shift 2 ;;
        *) pass+=("$1"); shift ;;
    esac
done
[[ "$cycles" =~ ^[1-9][0-9]*$ ]] || { echo "soak.sh: --cycles takes a positive number" >&2; exit 2; }
e2e_parse_args "${pass[@]}"
artefacts="$(cd "$artefacts" && pwd)"
started=$SECONDS

title="$program"
list=2001 remove=2002 scan=2003 status=2008
system_disk="(Boot) WDC WD800JB-00JJC0"
pending_sticks=4

# ---- the machine -------------------------------------------------------------

stick() {  # stick INDEX NAME PENDING
    printf '    { "instanceId": "USBSTOR\\\\Disk&Ven_Soak&Prod_Stick&Rev_1.00\\\\SOAK%05d&0",\n' "$1"
    printf '      "class": "DiskDrive", "friendlyName": "%s USB Device", "pending": %s,\n' "$2" "$3"
    printf '      "storage": { "busType": 7, "removableMedia": true, "capacity": 2000000000, "deviceNumber": %d,\n' "$1"
    printf '                   "mediaDeviceType": 7, "media": [{ "mediaType": 11 }] } }'
}
volume() {  # volume INDEX LETTER PENDING
    local letter=""
    [ -n "$2" ] && letter="\"letter\": \"$2\", "
    printf '    { %s"driveType": 2, "pending": %s, "extents": [{ "disk": %d, "offset": 16384, "length": 1999983616 }] }' \
        "$letter" "$3" "$1"
}
write_machine() {
    local letters=(D E F G H I J K L M N O P Q R S T U V W X Y) i letter
    echo '{'
    echo '  "comment": "The soak: a system disk, one USB stick per cycle, and sticks the first scan brings in.",'
    echo '  "devices": ['
    echo '    { "instanceId": "IDE\\DiskWDC_WD800JB-00JJC0_05.01C05\\5&1b2c3d4e&0&0.0.0",'
    echo '      "class": "DiskDrive", "friendlyName": "WDC WD800JB-00JJC0",'
    echo '      "storage": { "busType": 3, "capacity": 80026361856, "deviceNumber": 0,'
    printf '                   "mediaDeviceType": 7, "media": [{ "mediaType": 12 }] } }'
    for ((i = 1; i <= cycles + pending_sticks; i++)); do
        echo ','
        if [ $i -le "$cycles" ]; then
            stick $i "$(printf 'Soak Stick %05d' $i)" false
        else
            stick $i "$(printf 'Soak Late Stick %05d' $i)" true
        fi
    done
    echo
    echo '  ],'
    echo '  "volumes": ['
    printf '    { "letter": "C", "driveType": 3, "extents": [{ "disk": 0, "offset": 32256, "length": 80023749120 }] }'
    for ((i = 1; i <= cycles + pending_sticks; i++)); do
        echo ','
        letter=""
        if [ $i -le "$cycles" ] && [ $((i % 10)) = 1 ] && [ $((i / 10)) -lt ${#letters[@]} ]; then
            letter=${letters[$((i / 10))]}
        fi
        if [ $i -le "$cycles" ]; then volume $i "$letter" false; else volume $i "" true; fi
    done
    echo
    echo '  ],'
    echo '  "registry": ['
    echo '    { "root": "HKLM", "key": "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",'
    echo '      "values": [{ "name": "PagingFiles", "type": "multi_sz", "data": ["C:\\pagefile.sys 1536 3072"] }] }'
    echo '  ],'
    echo '  "environment": { "SystemDrive": "C:" },'
    echo '  "edition": "32"'
    echo '}'
}

# ---- quiet steps: a cycle prints nothing unless something is wrong ------------

log="$artefacts/soak.log"
: >"$log"
stopped=0

# step COMMAND [OPTIONS]: the driver must succeed.
step() {
    e2e_run_driver "$@"
    local rc=$?
    printf '$ %s  (at %d s)\n%s\n' "$*" $((SECONDS - started)) "$last" >>"$log"
    if [ $rc != 0 ]; then
        printf '%s\n' "$last" | sed 's/^/  | /'
        fail "cycle $cycle: e2edriver $1 exited with $rc"
        return 1
    fi
}
# has TEXT: $last holds a line with TEXT.
has() {
    printf '%s\n' "$last" | grep -qF -- "$1" && return 0
    printf '%s\n' "$last" | head -n 20 | sed 's/^/  | /'
    fail "cycle $cycle: expected a line with: $1"
    return 1
}
# ready: the status line reads " Ready..." within ten seconds.
ready() {
    local end=$((SECONDS + 10))
    while :; do
        step text --title "$title" --id $status || return 1
        [ "$last" = "text id=$status \" Ready...\"" ] && return 0
        [ $SECONDS -ge $end ] && break
        sleep 0.1
    done
    fail "cycle $cycle: the status line stayed $last"
    return 1
}
# rows N: the list has N rows and the system disk is still the first.
rows() {
    step listview --title "$title" --id $list || return 1
    has "rows $1" && has "row 0 checked=0 selected=0 focused=0 \"$system_disk\""
}

samples=()
measure() {
    step process --title "$title" --class "#32770" || return 1
    local line
    line=$(printf '%s\n' "$last" | grep '^process ')
    local pattern='handles=([0-9]+) private=([0-9]+) workingset=([0-9]+) handles-from=([A-Za-z]+) private-from=([A-Za-z]+)'
    if [[ ! "$line" =~ $pattern ]]; then
        fail "cycle $cycle: unreadable process figures: $last"
        return 1
    fi
    [ ${#samples[@]} = 0 ] &&
        echo "handles from ${BASH_REMATCH[4]}, private bytes from ${BASH_REMATCH[5]}"
    samples+=("$cycle ${BASH_REMATCH[1]} ${BASH_REMATCH[2]} ${BASH_REMATCH[3]}")
    printf 'cycle %5d  handles %5d  private %10d  working set %10d  (%d s)\n' "$cycle" \
        "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" "${BASH_REMATCH[3]}" $((SECONDS - started))
}

one_cycle() {
    step tick --title "$title" --id $list --row 1 --state 1 || return 1
    step click --title "$title" --id $remove || return 1
    step msgbox --title "$title" --timeout 60000 || return 1
    has "text=\"The following device was successfully removed:" || return 1
    has "Soak " || return 1
    step answer --title "$title" --button 1 || return 1
    ready || return 1
    step press --title "$title" --id $scan --timeout 60000 || return 1
    ready || return 1
    # DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE in turn.
    local event=0x8000
    [ $((cycle % 2)) = 0 ] && event=0x8004
    step devicechange --title "$title" --event $event --timeout 60000 || return 1
    has "devicechange event=$event result=1" || return 1
    ready
}

# ---- the run ---------------------------------------------------------------------

machine="$artefacts/soak-machine.json"
write_machine >"$machine"
e2e_probe
e2e_start_xvfb
echo "== $cycles cycles over $machine (log of every driver call: $log)"
e2e_start demo "$bin/Trayhop32Demo.exe" "$(e2e_winpath "$machine")"
cycle=0
step wait --title "$title" --class "#32770" --timeout 60000 || stopped=1
if [ $stopped = 0 ]; then
    rows $((1 + cycles)) && measure || stopped=1
fi
screenshot soak-start.png
for ((cycle = 1; stopped == 0 && cycle <= cycles; cycle++)); do
    if ! one_cycle; then
        stopped=1
        screenshot soak-failed.png
        break
    fi
    if [ $((cycle % 10)) = 0 ] || [ $cycle = "$cycles" ]; then
        # The first scan brought the pending sticks in; each cycle took one out.
        if ! rows $((1 + cycles + pending_sticks - cycle)) || ! measure; then
            stopped=1
            screenshot soak-failed.png
        fi
    fi
done
[ $stopped = 0 ] && screenshot soak-end.png

echo "== figures"
if [ ${#samples[@]} -ge 3 ]; then
    read -r c0 h0 p0 _ <<<"${samples[0]}"
    read -r cb hb pb _ <<<"${samples[1]}"
    read -r cl hl pl _ <<<"${samples[-1]}"
    echo "start     (cycle $c0): handles $h0, private bytes $p0"
    echo "baseline  (cycle $cb): handles $hb, private bytes $pb"
    echo "last      (cycle $cl): handles $hl, private bytes $pl"
    echo "growth since the baseline: handles $((hl - hb)), private bytes $((pl - pb))"
    [ $((hl - hb)) -le $handle_margin ] || fail "handles grew by $((hl - hb)) (at most $handle_margin allowed)"
    [ $((pl - pb)) -le $private_margin ] ||
        fail "private bytes grew by $((pl - pb)) (at most $private_margin allowed)"
else
    fail "too few measurements to compare"
fi
[ $stopped = 0 ] && echo "cycles done: $cycles"
echo "time: $((SECONDS - started)) s"

if [ $stopped = 0 ]; then
    step close --title "$title" || true
    e2e_wait_exit demo 10 || fail "the demo did not exit"
fi
e2e_finish "E2E soak"
