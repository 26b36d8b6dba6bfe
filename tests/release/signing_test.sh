#!/usr/bin/env bash
# Signing as a release engineer does it, end to end: a throwaway self-signed
# code-signing certificate with a password-protected key, the build's own
# signing step (cmake/signing.cmake) on a copy of the x64 executable, the
# signature checked by osslsigncode (and found broken once one byte of the file
# changes), and the signed executable, run under Wine, still extracting its
# package whole.
#
# Usage: signing_test.sh <windows-x64 build dir> <signing.cmake> <cmake> <require: 0|1>
# Exits 77 (skipped) when the build or a tool is missing, unless required.
set -uo pipefail
build_dir=$1 signing=$2 cmake=$3 require=$4
exe=$build_dir/servicepack.exe
wine=/usr/lib/wine/wine64

missing() {
    if [ "$require" = 1 ]; then
        echo "FAIL: $1"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}
[ -f "$exe" ] || missing "$exe is not built"
for tool in openssl osslsigncode "$wine"; do
    command -v "$tool" >/dev/null || missing "$tool is not installed"
done

# The package the build embedded: SP_PACKAGE, or the sample the top-level
# CMakeLists.txt falls back to when none was named.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt" | head -n 1; }
package=$(cache_value SP_PACKAGE)
[ -n "$package" ] || package="$(cache_value CMAKE_HOME_DIRECTORY)/resources/sample/sample.msp"
[ -f "$package" ] || { echo "FAIL: the embedded package $package is not there to compare with"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sp-signing.XXXXXX")
cleanup() {
    WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

failures=0
passed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sign() {  # <file> <password file>
    "$cmake" -DFILE="$1" -DCERT=cert.pem -DKEY=key.pem -DPASSWORD_FILE="$2" -P "$signing"
}
verify() { osslsigncode verify -CAfile cert.pem -in "$1" >"$1.verify" 2>&1; }

printf 'not a real secret' >password.txt
printf 'a wrong guess' >wrong.txt
if ! openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/CN=servicepack test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout key.pem -passout file:password.txt -out cert.pem 2>openssl.log; then
    cat openssl.log
    echo "FAIL: cannot make the test certificate"
    exit 1
fi

cp "$exe" unsigned.exe
cp "$exe" signed.exe
if sign signed.exe password.txt; then ok "signed"; else fail "the signing step failed"; fi
if cmp -s signed.exe unsigned.exe; then fail "signing left the executable as it was"; fi

if verify signed.exe && grep -q "Signature verification: ok" signed.exe.verify; then
    ok "the signature verifies against the certificate"
else
    cat signed.exe.verify
    fail "the signature does not verify"
fi
if verify unsigned.exe; then
    fail "an unsigned executable passes verification, so the check above proves nothing"
fi

# The signature covers the whole image: any changed byte breaks it.
cp signed.exe tampered.exe
middle=$(($(stat -c %s tampered.exe) / 2))
byte=$(od -An -tu1 -j "$middle" -N 1 tampered.exe | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
    dd of=tampered.exe bs=1 seek="$middle" conv=notrunc status=none
if verify tampered.exe; then fail "a changed byte still verifies"; else ok "a changed byte breaks it"; fi

# A wrong key password fails the step and leaves the executable untouched.
cp "$exe" wrong.exe
if sign wrong.exe wrong.txt >wrong.log 2>&1; then
    fail "signing with a wrong key password succeeded"
elif ! cmp -s wrong.exe unsigned.exe || [ -e wrong.exe.signed ]; then
    fail "a failed signing step left a changed or half-signed file behind"
else
    ok "a wrong key password fails and changes nothing"
fi

# Run as shipped: the signed executable still extracts its package whole.
WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    timeout 240 "$wine" signed.exe /e out.msp >wine.log 2>&1
status=$?
if [ "$status" -ne 0 ]; then
    cat wine.log
    fail "signed.exe /e out.msp exited with $status"
elif ! cmp out.msp "$package"; then
    fail "the extracted package differs from $package"
else
    ok "signed.exe /e out.msp extracts the package whole ($(stat -c %s out.msp) bytes)"
fi

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
