#!/usr/bin/env bash
# Signing the release: a throwaway code-signing certificate made here signs
# copies of the four built programs through release/sign.sh; each signature
# must verify against that certificate, the unsigned files must not, and a
# wrong password must leave every file as it was.
#
#   sign_test.sh SIGN.sh I686_BIN X86_64_BIN WORKDIR
set -uo pipefail
sign="$1" i686_bin="$2" x86_64_bin="$3" work="$4"
failures=0
check() {
    if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }

rm -rf "$work"
mkdir -p "$work/files"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj "/CN=Trayhop throwaway test signer" \
    -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 || { echo "FAIL openssl req"; exit 1; }
openssl pkcs12 -export -out "$work/signer.pfx" -inkey "$work/key.pem" -in "$work/cert.pem" \
    -passout pass:throwaway-secret >/dev/null 2>&1 || { echo "FAIL openssl pkcs12"; exit 1; }

files=()
for exe in "$i686_bin/Trayhop32.exe" "$i686_bin/Trayhop32Cmd.exe" \
    "$x86_64_bin/Trayhop64.exe" "$x86_64_bin/Trayhop64Cmd.exe"; do
    cp "$exe" "$work/files/"
    files+=("$work/files/$(basename "$exe")")
done
check "an unsigned program does not verify" '! verifies "${files[0]}"'

TRAYHOP_SIGN_PASSWORD=wrong "$sign" --pfx "$work/signer.pfx" --ca "$work/cert.pem" "${files[@]}" \
    >"$work/wrong.log" 2>&1
check "a wrong password fails" '[ $? != 0 ]'
for file in "${files[@]}"; do
    name=$(basename "$file")
    check "$name is left unsigned by the failed run" '! verifies "$file"'
done

TRAYHOP_SIGN_PASSWORD=throwaway-secret "$sign" --pfx "$work/signer.pfx" --ca "$work/cert.pem" \
    "${files[@]}"
check "signing succeeds" '[ $? = 0 ]'
for file in "${files[@]}"; do
    name=$(basename "$file")
    check "$name carries a signature that verifies" 'verifies "$file"'
    original=$(ls "$i686_bin/$name" "$x86_64_bin/$name" 2>/dev/null | head -n 1)
    osslsigncode remove-signature -in "$file" -out "$work/$name.bare" >/dev/null 2>&1
    check "$name is the built program plus its signature" 'cmp -s "$work/$name.bare" "$original"'
done
exit $((failures > 0))
