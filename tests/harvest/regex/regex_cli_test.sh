#!/usr/bin/env bash
# Checks quarry-regex's output: one line of pairs per match (-1 -1 for a group that took no
# part), "no match", --all stepping past empty matches, --dump, --start, --flags, --max-steps,
# and a subject read whole from standard input, NUL bytes included. Usage: regex_cli_test.sh
# PATH-TO-TOOL
set -euo pipefail
tool=$1
failures=0

check() {
  local expected=$1
  shift
  local actual
  actual=$(timeout 10 "$tool" "$@")
  if [ "$actual" != "$expected" ]; then
    printf 'quarry-regex %s\n  expected: %q\n  actual:   %q\n' "$*" "$expected" "$actual"
    failures=$((failures + 1))
  fi
}

check_stdin() {
  local input=$1 expected=$2
  shift 2
  local actual
  actual=$(printf "$input" | "$tool" "$@")
  if [ "$actual" != "$expected" ]; then
    printf 'quarry-regex %s < %s\n  expected: %q\n  actual:   %q\n' "$*" "$input" "$expected" \
      "$actual"
    failures=$((failures + 1))
  fi
}

check "0 1 -1 -1" '(a)|b' b
check "no match" x abc
check $'0 0\n1 3\n3 3\n4 4' --all 'a*' baab
check $'1 2 1 2\n3 4 3 4' --all '(a)' xaxa
check "no match" --all x abc
check $'Str("ab")\n1 3' --dump ab xab
check "2 4" --start 1 ab abab
check "2 3" --flags 16 a aba
check $'2 3\n0 1' --all --flags 16 a aba
check "0 3" --flags 0x08 ABC abc
# A match that ends before its search began must not make --all search the same place again.
check $'0 1 0 1\n0 1 0 1\n1 2 1 2\n2 3 2 3' --all '(?<=(a))(?1)' aaa
# Nested repeats end at once (this took minutes); a back-reference keeps the memo out, and
# --max-steps ends the exponential search after the matches found before it.
thirty=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa
check "no match" '(a*)*b' $thirty
check "0 31 0 30" '(a*)*b' ${thirty}b
check "step limit reached" --max-steps 100000 '(a*)*\1b' $thirty
check $'0 1 -1 -1\nstep limit reached' --all --max-steps 100000 'x|(a*)*\1b' x$thirty
check "0 1 -1 -1" --max-steps 100 'x|(a*)*\1b' x$thirty
check_stdin 'xxab\n' "2 4" ab
check_stdin 'a\0a' $'0 1\n2 3' --all a
check_stdin 'a\0b' "0 3" 'a\x00b'

if "$tool" >/dev/null 2>&1; then
  echo "quarry-regex without a pattern should fail"
  failures=$((failures + 1))
fi
for bad in -1 many 99999999999999999999; do
  if "$tool" --max-steps "$bad" a a >/dev/null 2>&1; then
    echo "quarry-regex --max-steps $bad should fail"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))
