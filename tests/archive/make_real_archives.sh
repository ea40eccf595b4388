#!/usr/bin/env bash
# Makes patch archives the way operators do, with Debian's Info-ZIP zip and libarchive's bsdtar,
# for the tests that extract them natively and under wine64.
# Usage: tests/archive/make_real_archives.sh OUTDIR
#   info-zip.zip        zip -r of a tree: "data/", "data/a.dat", ... (no "./")
#   info-zip-doubled.zip  zip of "data//a.dat" as typed: the doubled separator is stored
#   bsdtar.zip          bsdtar --format zip -cf . of the same tree: "./", "./data/", "./data/a.dat"
#   korean-utf8.zip     bsdtar of a UTF-8 Korean file name: flag bit 11, UTF-8 bytes
#   korean-cp949.zip    zip of the same name in code page 949 bytes: no flag, CP949 bytes
#   no-cp949-form.zip   bsdtar, flagged UTF-8: "ok.dat" and a name code page 949 cannot write
#   bsdtar-cp949.zip    bsdtar of a CP949 file name: flagged as UTF-8 although it is not UTF-8
set -euo pipefail
out="${1:?usage: $0 OUTDIR}"
for tool in zip bsdtar; do
  command -v "$tool" >/dev/null || { echo "make_real_archives: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
mkdir -p "$out"
out="$(cd "$out" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-real-archives.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

korean_utf8=$'\xed\x95\x9c\xea\xb8\x80.dat'   # "한글.dat"
korean_cp949=$'\xc7\xd1\xb1\xdb.dat'          # the same name in code page 949
no_cp949=$'\xf0\x9f\x98\x80.dat'              # U+1F600, which code page 949 lacks

tree="$work/tree"
mkdir -p "$tree/data/sub" "$tree/empty"
printf 'first file\n' > "$tree/data/a.dat"
seq 1 40000 > "$tree/data/sub/numbers.txt"      # large enough to be deflated
head -c 70000 /dev/zero | tr '\0' 'z' > "$tree/top.bin"
(cd "$tree" && zip -q -r -X "$out/info-zip.zip" . && zip -q -X "$out/info-zip-doubled.zip" data//a.dat)
(cd "$tree" && bsdtar --format zip -cf "$out/bsdtar.zip" .)

mkdir -p "$work/utf8" "$work/cp949" "$work/mixed"
printf 'korean name\n' > "$work/utf8/$korean_utf8"
printf 'korean name\n' > "$work/cp949/$korean_cp949"
(cd "$work/utf8" && bsdtar --format zip -cf "$out/korean-utf8.zip" "$korean_utf8")
(cd "$work/cp949" && zip -q -X "$out/korean-cp949.zip" "$korean_cp949")
(cd "$work/cp949" && bsdtar --format zip -cf "$out/bsdtar-cp949.zip" "$korean_cp949")
printf 'no form\n' > "$work/mixed/$no_cp949"
printf 'ok\n' > "$work/mixed/ok.dat"
(cd "$work/mixed" && bsdtar --format zip -cf "$out/no-cp949-form.zip" "$no_cp949" ok.dat)
