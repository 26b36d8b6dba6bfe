#!/bin/sh
# Re-creates sample.msp, the patch package a build embeds when it is not
# given one: it targets the two Quorvane 4.1 products of the sample texts
# (patchinfo-1031.txt, patchinfo-1033.txt) and brings version 4.1.7.3 to
# 4.1.20.0. Runs the fixture maker under Wine; see its notes for what it needs.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../tests/fixtures/make_package.sh" "$here/sample.msp" \
    "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41};{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}" \
    "4.1.20.0;4.1.7.3," \
    "2=Quorvane 4.1 Service Pack 2" \
    "3=Quorvane 4.1" \
    "4=Quorvane Software" \
    "6=Fixes installation errors and improves the stability of Quorvane 4.1." \
    "9={B5C0A7E2-41D3-4F6A-9E8B-2C7D1F0A3E95}"
