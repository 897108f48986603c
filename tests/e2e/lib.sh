# shellcheck shell=bash
# Shared pieces of the E2E scripts, sourced by each of them (bash only).
#
#   e2e_parse_args "$@"        --wine-run PATH --arch win32|win64 --prefix DIR
#                              --probe PROBE.exe --bin DIR --artefacts DIR
#                              [--prefix64 DIR] [--machines DIR] [--i686-bin DIR]
#                              and sets $program: the tree's program and the
#                              title of its windows (Trayhop32 for win32,
#                              Trayhop64 for win64)
#   e2e_probe                  checks the prefix; exits 77 (skip) or 1 when
#                              Wine of this architecture cannot run here
#   e2e_start_xvfb [WxH]       a private display (1024x768 unless given);
#                              sets DISPLAY
#   e2e_start NAME EXE [ARGS]  starts a Windows program in the background;
#                              its pid lands in e2e_pid_NAME
#   e2e_wait_exit NAME SECONDS true when that program ended in time
#   drive COMMAND [OPTIONS]    runs e2edriver; its output is in $last
#   drive_quiet COMMAND ...     the same without counting a failure
#   e2e_until TEXT COMMAND ...  repeats the command until TEXT shows
#   expect TEXT / expect_not TEXT / expect_line LINE
#                              checks $last for a line holding (or not) TEXT,
#                              or for LINE exactly
#   screenshot FILE.png        the whole display, into the artefacts
#   e2e_type_into TITLE KEYS...  real key presses (xdotool names) into the
#                              display, the window of that title focused first
#   e2e_finish NAME            prints the verdict and exits 0 or 1
#
# Cleanup (programs, the wineserver, Xvfb) runs on exit. Outputs go through
# files: Wine's background processes inherit a pipe and would keep a command
# substitution waiting.

set -u

wine_run="" arch="" prefix="" probe="" bin="" artefacts="" prefix64="" machines="" i686_bin=""
failures=0
last=""
xvfb_pid=""
e2e_started=()

e2e_parse_args() {
    while [ $# -gt 0 ]; do
        case "$1" in
            --wine-run) wine_run="$2"; shift 2 ;;
            --arch) arch="$2"; shift 2 ;;
            --prefix) prefix="$2"; shift 2 ;;
            --probe) probe="$2"; shift 2 ;;
            --bin) bin="$2"; shift 2 ;;
            --artefacts) artefacts="$2"; shift 2 ;;
            --prefix64) prefix64="$2"; shift 2 ;;
            --machines) machines="$2"; shift 2 ;;
            --i686-bin) i686_bin="$2"; shift 2 ;;
            *) echo "$(basename "$0"): unknown option $1" >&2; exit 2 ;;
        esac
    done
    if [ -z "$wine_run" ] || [ -z "$arch" ] || [ -z "$prefix" ] || [ -z "$bin" ] ||
        [ -z "$artefacts" ]; then
        echo "$(basename "$0"): --wine-run, --arch, --prefix, --bin and --artefacts are required" >&2
        exit 2
    fi
    # One source, two editions: the x86_64 build is Trayhop64, its demo too.
    case "$arch" in
        win64) program=Trayhop64 ;;
        *) program=Trayhop32 ;;
    esac
    wine_cmd=("$wine_run" --arch "$arch" --prefix "$prefix" --probe "$probe")
    mkdir -p "$artefacts"
    out_file="$artefacts/driver.$$.out"
    trap e2e_cleanup EXIT
}

# Creates the prefix on first use and says whether Wine runs here at all.
e2e_probe() {
    "${wine_cmd[@]}" -- "$probe" >"$out_file" 2>&1
    local rc=$?
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
}

e2e_cleanup() {
    local pid
    for pid in "${e2e_started[@]}"; do
        kill "$pid" 2>/dev/null
    done
    [ -n "$wine_run" ] && "${wine_cmd[@]}" --kill
    if [ -n "$prefix64" ]; then
        "$wine_run" --arch win64 --prefix "$prefix64" --kill
    fi
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -f "$out_file"
    wait 2>/dev/null
}

# A display of our own: -displayfd picks a free number and reports it.
e2e_start_xvfb() {
    local display_file="$artefacts/display.$$" size="${1:-1024x768}"
    rm -f "$display_file"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$display_file" \
        2>"$artefacts/xvfb.log" &
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
    rm -f "$display_file"
    echo "display $DISPLAY"
}

# e2e_start NAME EXE [ARGS...]: the program's own output goes to NAME.log.
e2e_start() {
    local name="$1"
    shift
    "${wine_cmd[@]}" --keep-display -- "$@" >"$artefacts/$name.log" 2>&1 &
    local pid=$!
    e2e_started+=("$pid")
    printf -v "e2e_pid_$name" '%s' "$pid"
}

# Same, in the 64-bit prefix.
e2e_start64() {
    local name="$1"
    shift
    "$wine_run" --arch win64 --prefix "$prefix64" --keep-display -- "$@" \
        >"$artefacts/$name.log" 2>&1 &
    local pid=$!
    e2e_started+=("$pid")
    printf -v "e2e_pid_$name" '%s' "$pid"
}

e2e_wait_exit() {
    local var="e2e_pid_$1" seconds="$2"
    local pid="${!var}"
    for _ in $(seq $((seconds * 10))); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    ! kill -0 "$pid" 2>/dev/null
}

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The driver of the prefix at hand; drive64 uses the 64-bit prefix (the
# 32-bit driver runs there too, for 32-bit targets).
drive() { e2e_drive "${wine_cmd[@]}" --keep-display -- "$bin/e2edriver.exe" "$@"; }
drive64() {
    e2e_drive "$wine_run" --arch win64 --prefix "$prefix64" --keep-display -- \
        "$bin/e2edriver.exe" "$@"
}
e2e_drive() {
    local args=("$@") command=""
    local i
    for i in "${!args[@]}"; do
        if [ "${args[$i]}" = "$bin/e2edriver.exe" ]; then
            command="${args[$((i + 1))]:-}"
            break
        fi
    done
    "$@" >"$out_file" 2>&1
    local rc=$?
    # Wine writes its console lines with CR LF.
    last=$(tr -d '\r' <"$out_file")
    printf '%s\n' "$last" | sed 's/^/  | /'
    if [ $rc != 0 ]; then
        fail "e2edriver $command exited with $rc"
    fi
    return $rc
}

# The same without counting a failure: for looking whether something is there.
drive_quiet() {
    e2e_run_driver "$@"
    local rc=$?
    printf '%s\n' "$last" | sed 's/^/  | /'
    return $rc
}
e2e_run_driver() {
    "${wine_cmd[@]}" --keep-display -- "$bin/e2edriver.exe" "$@" >"$out_file" 2>&1
    local rc=$?
    last=$(tr -d '\r' <"$out_file")
    return $rc
}

# e2e_until TEXT COMMAND [OPTIONS]: runs the driver command until its output
# holds a line with TEXT, for ten seconds at most. Clicks and keys are posted,
# and the target answers the driver's own messages first: what they change is
# looked for, not assumed after a pause.
e2e_until() {
    local text="$1"
    shift
    local end=$((SECONDS + 10))
    while :; do
        e2e_run_driver "$@"
        if printf '%s\n' "$last" | grep -qF -- "$text"; then
            printf '%s\n' "$last" | sed 's/^/  | /'
            echo "ok: $text"
            return 0
        fi
        [ $SECONDS -ge $end ] && break
        sleep 0.2
    done
    printf '%s\n' "$last" | sed 's/^/  | /'
    fail "expected a line with: $text (waited 10 s)"
}

expect() {
    if printf '%s\n' "$last" | grep -qF -- "$1"; then
        echo "ok: $1"
    else
        fail "expected a line with: $1"
    fi
}
expect_not() {
    if printf '%s\n' "$last" | grep -qF -- "$1"; then
        fail "expected no line with: $1"
    else
        echo "ok: no $1"
    fi
}
expect_line() {
    if printf '%s\n' "$last" | grep -qxF -- "$1"; then
        echo "ok: $1"
    else
        fail "expected the line: $1"
    fi
}

screenshot() {
    local file="$artefacts/$1"
    if import -display "$DISPLAY" -window root "$file" 2>>"$artefacts/import.log"; then
        echo "screenshot: $file"
    else
        fail "screenshot $file not taken"
    fi
}

# Keys typed with xdotool reach the Wine window given the X focus first; no
# window manager runs on Xvfb.
e2e_type_into() {
    local name="$1" window
    shift
    window=$(xdotool search --name "^$name\$" 2>/dev/null | head -n 1)
    if [ -z "$window" ]; then
        fail "no X window named $name"
        return 1
    fi
    xdotool windowfocus --sync "$window" 2>>"$artefacts/xdotool.log"
    local key
    for key in "$@"; do
        xdotool key "$key" 2>>"$artefacts/xdotool.log"
        echo "typed $key into $name"
    done
}

e2e_finish() {
    if [ "$failures" != 0 ]; then
        echo "$1: $failures failure(s); artefacts in $artefacts"
        exit 1
    fi
    echo "$1 passed; artefacts in $artefacts"
    exit 0
}

# Maps dialog-unit rectangles to pixels once: e2e_map_dlu "x,y,w,h" ... fills
# e2e_px["x,y,w,h"] with "X,Y,W,H".
declare -A e2e_px=()
e2e_map_dlu() {
    local joined
    joined=$(IFS=';'; echo "$*")
    drive dlu --rects "$joined" || return 1
    local line
    while IFS= read -r line; do
        [[ "$line" =~ ^dlu\ ([0-9,]+)\ px\ ([0-9,]+)$ ]] &&
            e2e_px["${BASH_REMATCH[1]}"]="${BASH_REMATCH[2]}"
    done <<<"$last"
}

# "0,0,W,H" as the driver prints a client size: "WxH".
e2e_size() { local r="${e2e_px[$1]:-?,?,?,?}"; r="${r#*,*,}"; printf '%s' "${r/,/x}"; }

# The 32-bit Wine's Windows path of a file of this machine.
e2e_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Waits for the main window titled TITLE while answering with OK the message
# boxes of that title shown before it (Wine's disks answer some requests with
# errors the program reports while it builds the list). The texts land in
# e2e_reported; the first box is photographed as SHOT when one is given.
e2e_wait_window_answering() {
    local title="$1" shot="${2:-}"
    e2e_reported=()
    for _ in $(seq 10); do
        drive_quiet wait --title "$title" --class "#32770" --timeout 1000 && return 0
        if drive_quiet msgbox --title "$title" --timeout 5000; then
            e2e_reported+=("$(printf '%s\n' "$last" | sed -n 's/^msgbox title="[^"]*" text=//p')")
            [ ${#e2e_reported[@]} = 1 ] && [ -n "$shot" ] && screenshot "$shot"
            drive answer --title "$title" --button 1
        fi
    done
    drive wait --title "$title" --class "#32770" --timeout 10000
}

# Answers with OK the boxes titled TITLE that show up within a few seconds
# (the same reports, when a refresh builds the list again); their texts are
# added to e2e_reported.
e2e_answer_reports() {
    local title="$1"
    for _ in $(seq 10); do
        drive_quiet msgbox --title "$title" --timeout 3000 || return 0
        e2e_reported+=("$(printf '%s\n' "$last" | sed -n 's/^msgbox title="[^"]*" text=//p')")
        drive answer --title "$title" --button 1
    done
}
