#!/usr/bin/env bash
# Runs a Windows test program, or the converter, under wine: wine-run.sh PROGRAM.exe [ARGUMENT...]
#
# Now and then wine fails to start a program at all: it exits non-zero in a few milliseconds
# without the program having written a byte, where the same run a moment later passes. Each
# program run here writes before it ends (a list of tests, the banner of a run, a table), so a
# failure with no output at all is taken for wine's and the run is made once more, with a line
# on standard error saying so. A program that ran and failed, or crashed after writing, fails
# as it is. Output is held until the program ends, to know whether there was any.
if [ "$#" -eq 0 ]; then
  echo "usage: wine-run.sh PROGRAM.exe [ARGUMENT...]" >&2
  exit 125
fi
out=$(mktemp) && err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  wine "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ]; then break; fi
  [ "$attempt" -eq 1 ] && echo "wine-run.sh: wine ended with status $status before $1 wrote anything; running it once more" >&2
done
cat "$out" && cat "$err" >&2
exit "$status"
