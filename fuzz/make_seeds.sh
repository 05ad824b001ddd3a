#!/usr/bin/env bash
# Rebuilds fuzz/seeds from the unit tests' own messages: the fake transport
# writes every packet it delivers (ORLIN_DUMP_RECV), and each fuzzer keeps the
# smallest set of them that covers what they all cover (-merge=1).
#
#   fuzz/make_seeds.sh TEST_BUILD_DIR FUZZ_BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tests="${1:?a build directory with tests/bin/orlin_tests}"
fuzz="${2:?a build directory with fuzz/fuzz_onrecv (scripts/fuzz.sh builds one)}"
dump="$(mktemp -d)"
trap 'rm -rf "$dump"' EXIT
(cd "$tests/tests/bin" && ORLIN_DUMP_RECV="$dump" ./orlin_tests --gtest_filter='-BadInput*' >/dev/null)
# Base64 texts of the chunks, one per file.
mkdir -p "$dump/b64"
{ grep -aho '"data":"[A-Za-z0-9+/=]\{4,\}"' "$dump"/* 2>/dev/null || true; } | sed 's/^"data":"//; s/"$//' | sort -u | head -50 |
  while read -r t; do printf '%s' "$t" >"$dump/b64/$(printf '%s' "$t" | md5sum | cut -c1-16)"; done
for t in "" "=" "QQ==" "QUI=" "QUJD" "QR==" "Q===" "AAAA////" "+/+/" "ab=c" "YWJj ZA=="; do
  printf '%s' "$t" >"$dump/b64/$(printf 'x%s' "$t" | md5sum | cut -c1-16)"
done
for t in onrecv envelope base64; do
  src="$dump"; [ "$t" = base64 ] && src="$dump/b64"
  rm -rf "$root/fuzz/seeds/$t"; mkdir -p "$root/fuzz/seeds/$t"
  "$fuzz/fuzz/fuzz_$t" -merge=1 -max_len=65536 -artifact_prefix="$dump/" "$root/fuzz/seeds/$t" "$src" >/dev/null 2>&1
  echo "$t: $(ls "$root/fuzz/seeds/$t" | wc -l) seeds"
done
