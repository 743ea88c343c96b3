#!/usr/bin/env bash
# Runs every case of a GoogleTest program in a process of its own, the cases
# taken from the program's own list at test time, so that a new case runs
# with no build edit.
#   run-each-case.sh SECONDS COMMAND...
# COMMAND runs the program (through its wrappers); the listing or the case's
# filter is appended to it. SECONDS bounds each case.
set -u
limit=$1
shift
command=("$@")

# Wine writes the program's lines with CR LF; its own notes go to stderr.
mapfile -t listing < <("${command[@]}" --gtest_list_tests 2>/dev/null | tr -d '\r')
cases=()
suite=
for line in "${listing[@]}"; do
  case $line in
    "  "*) name=${line#  }; cases+=("$suite${name%%  *}") ;;
    *.*) suite=${line%%  *} ;;
  esac
done
if [ ${#cases[@]} -eq 0 ]; then
  echo "run-each-case: the program listed no cases: ${command[*]}" >&2
  exit 1
fi

passed=0
skipped=0
failed=()
for c in "${cases[@]}"; do
  echo "=== $c"
  output=$(timeout -k 10 "$limit" "${command[@]}" --gtest_filter="$c" 2>&1)
  status=$?
  printf '%s\n' "$output"
  if [ $status -ne 0 ]; then
    [ $status -eq 124 ] && echo "run-each-case: $c did not end within $limit s"
    failed+=("$c")
  elif grep -q '\[  SKIPPED \] 1 test' <<<"$output"; then
    skipped=$((skipped + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "run-each-case: ${#cases[@]} cases, $passed passed, $skipped skipped, ${#failed[@]} failed"
for c in "${failed[@]}"; do echo "FAILED: $c"; done
[ ${#failed[@]} -eq 0 ]
