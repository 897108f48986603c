#!/usr/bin/env bash
# Signs program files with Authenticode (osslsigncode) and verifies each
# signature; scripts/release calls it after the unsigned builds were
# compared, since a signature carries its own time.
#
#   sign.sh --pfx FILE [--ca FILE] EXE...
#
# The PFX's password comes from TRAYHOP_SIGN_PASSWORD (empty when unset) and
# is handed over in a file, never on a command line. With
# TRAYHOP_SIGN_TIMESTAMP_URL set, an RFC 3161 time-stamp server countersigns,
# so the signatures outlive the certificate. --ca names the certificate the
# signer's chain ends in, for the check (a test's throwaway certificate);
# without it the check uses the system's trusted certificates. Each file is
# replaced by its signed form only when signing and checking succeeded.
# Exit 0 when every file was signed and verified.
set -uo pipefail

pfx="" ca=""
while [ $# -gt 0 ]; do
    case "$1" in
        --pfx) pfx="$2"; shift 2 ;;
        --ca) ca="$2"; shift 2 ;;
        --) shift; break ;;
        -*) echo "sign.sh: unknown option $1" >&2; exit 2 ;;
        *) break ;;
    esac
done
[ -n "$pfx" ] && [ $# -gt 0 ] || { echo "usage: sign.sh --pfx FILE [--ca FILE] EXE..." >&2; exit 2; }
[ -r "$pfx" ] || { echo "sign.sh: cannot read $pfx" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (scripts/setup)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 077
printf '%s' "${TRAYHOP_SIGN_PASSWORD:-}" >"$work/password"
timestamp=()
[ -n "${TRAYHOP_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$TRAYHOP_SIGN_TIMESTAMP_URL")
verify_ca=()
[ -n "$ca" ] && verify_ca=(-CAfile "$ca")

failed=0
for exe in "$@"; do
    name=$(basename "$exe")
    signed="$work/$name"
    if ! osslsigncode sign -pkcs12 "$pfx" -readpass "$work/password" -n "Trayhop" -h sha256 \
            "${timestamp[@]}" -in "$exe" -out "$signed" >"$work/log" 2>&1; then
        sed 's/^/  /' "$work/log"
        echo "sign.sh: signing $name failed"
        failed=1
        continue
    fi
    if ! osslsigncode verify "${verify_ca[@]}" -in "$signed" >"$work/log" 2>&1; then
        sed 's/^/  /' "$work/log"
        echo "sign.sh: the signature of $name does not verify"
        failed=1
        continue
    fi
    cp "$signed" "$exe"
    echo "signed and verified: $name"
done
exit $failed
