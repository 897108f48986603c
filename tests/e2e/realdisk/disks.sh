# shellcheck shell=bash
# The registered test disks of the real-disk E2E scripts, sourced after
# lib.sh's e2e_parse_args. Each script sets `disks` (the ids it may register);
# they go again on every way out.
#
#   realdisk ARGS...      runs realdisk.exe in the prefix, output in $out_file
#   disk COMMAND ARGS...  the same, its output shown and kept in $last
#   unregister_disks      removes every disk in $disks
realdisk() { "${wine_cmd[@]}" --keep-display -- "$bin/realdisk.exe" "$@" >"$out_file" 2>&1; }
unregister_disks() {
    local n
    for n in "${disks[@]}"; do realdisk remove --id "$n"; done
}
trap 'unregister_disks; e2e_cleanup' EXIT

disk() {
    realdisk "$@"
    local rc=$?
    last=$(tr -d '\r' <"$out_file")
    printf '%s\n' "$last" | sed 's/^/  | /'
    [ $rc = 0 ] || fail "realdisk $1 exited with $rc"
}
