#!/usr/bin/env bash
# The emulator script with a scripted stand-in for the Wine loader: a test
# program that wrote not a byte is started once more, and nothing else is;
# each restart leaves a note for scripts/check.sh; a test program's run
# passes only with a verdict that counts a test case, filtered or not; its
# listing, its help and every other program are judged by their exit code.
# Usage: check-wine-run.sh <wine-run.in>
set -u
template=${1:?wine-run.in}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# Each start of the stand-in takes the next line of $work/script:
# "<stdout text> <stderr text> <exit code>", "_" for a space, "-" for nothing.
cat >"$work/loader" <<'LOADER'
#!/bin/sh
here=$(dirname "$0")
n=$(($(cat "$here/starts" 2>/dev/null || echo 0) + 1))
echo "$n" >"$here/starts"
set -- $(sed -n "${n}p" "$here/script")
[ "$1" = - ] || printf '%s\n' "$1" | tr _ ' '
[ "$2" = - ] || printf '%s\n' "$2" | tr _ ' ' >&2
exit "$3"
LOADER
chmod +x "$work/loader"
# A test program's image holds its framework's greeting; a benchmark's does not.
printf 'MZ\0Running main() from gmock_main.cc\0' >"$work/test.exe"
printf 'MZ\0figures\0' >"$work/bench.exe"
sed -e "s|@WINE_LOADER@|$work/loader|" -e "s|@WINE_PREFIX@|$work/prefix|" "$template" >"$work/wine-run"

failures=0
# name | script lines | arguments | expected exit code | expected starts | expected restart notice (1/0)
# The program is test.exe, or the one named by $program.
check() {
  local name=$1 lines=$2 args=$3 rc=$4 starts=$5 notice=$6
  printf '%b' "$lines" >"$work/script"
  rm -f "$work/starts" "$work/restarts"
  # shellcheck disable=SC2086
  WINE_RUN_RESTARTS=$work/restarts sh "$work/wine-run" "$work/${program:-test.exe}" $args >"$work/out" 2>"$work/err"
  local got=$? ran
  ran=$(cat "$work/starts")
  local said=0 noted=0
  grep -q '^wine-run: the program ended with .* before writing anything; starting it once more$' "$work/err" && said=1
  # The note scripts/check.sh reports: the program and its test cases, once.
  [ "$(cat "$work/restarts" 2>/dev/null)" = "test.exe ${args#--gtest_filter=}" ] && noted=1
  if [ "$got" != "$rc" ] || [ "$ran" != "$starts" ] || [ "$said" != "$notice" ] || [ "$noted" != "$notice" ]; then
    echo "FAILED $name: exit $got (want $rc), started $ran times (want $starts), notice $said and note $noted (want $notice)"
    sed 's/^/  | /' "$work/out" "$work/err" "$work/restarts" 2>/dev/null
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

passed='[__PASSED__]_1_test.'
check "silent start, then the test passes" "- - 5\nRunning_main() - 0\n" "--gtest_filter=A.B" 1 2 1
check "silent start, then a pass with its verdict" "- - 5\n$passed - 0\n" "--gtest_filter=A.B" 0 2 1
check "silent twice: the second verdict counts" "- - 5\n- - 7\n- - 9\n" "--gtest_filter=A.B" 7 2 1
check "a test that failed is not run again" "[__FAILED__]_1_test - 1\n$passed - 0\n" "--gtest_filter=A.B" 1 1 0
check "a crash with output is not run again" "[_RUN______]_A.B - 3\n$passed - 0\n" "--gtest_filter=A.B" 3 1 0
check "output on the error stream only is not run again" "- wine:_crashed 3\n$passed - 0\n" "--gtest_filter=A.B" 3 1 0
check "0 without a verdict fails" "Running_main() - 0\n" "--gtest_filter=A.B" 1 1 0
# A filter may select any number of test cases; a verdict that counts none
# is no verdict.
for verdict in '[__PASSED__]_4_tests.' '[__PASSED__]_12_tests.' '[__SKIPPED_]_2_tests,_listed_below:'; do
  check "a run of several cases with its verdict: $verdict" "$verdict - 0\n" "--gtest_filter=A.*" 0 1 0
done
for verdict in '[__PASSED__]_0_tests.' '[__FAILED__]_0_tests,_listed_below:' '[__PASSED__]_tests.'; do
  check "a verdict that counts no test fails: $verdict" "$verdict - 0\n" "--gtest_filter=A.*" 1 1 0
done
check "a silent program outside a test case is left alone" "- - 5\n$passed - 0\n" "--other" 5 1 0
# Run by hand, a test program runs all its cases; a crash that ends it with 0
# before its verdict is no pass either.
check "the whole program with its verdict" "[__PASSED__]_37_tests. - 0\n" "" 0 1 0
check "the whole program ending with 0 silently fails" "- - 0\n" "" 1 1 0
check "the whole program ending with 0 without a verdict fails" "Running_main() - 0\n" "--gtest_repeat=2" 1 1 0
check "the whole program that failed keeps its code" "[__FAILED__]_1_test - 1\n" "" 1 1 0
# What a test program prints without running a case, and other programs.
check "ctest's listing of the cases" "A. - 0\n" "--gtest_list_tests" 0 1 0
check "a listing of the cases a filter selects" "A. - 0\n" "--gtest_list_tests --gtest_filter=A.*" 0 1 0
check "the help" "Usage - 0\n" "--help" 0 1 0
program=bench.exe check "another program ending with 0 silently" "- - 0\n" "" 0 1 0
program=bench.exe check "another program's own code" "figures - 3\n" "200 4" 3 1 0
exit $((failures != 0))
