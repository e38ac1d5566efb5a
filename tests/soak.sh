#!/usr/bin/env bash
# Soak: 2 GiB of generated circular text streamed through a pipe, generator | orbitcsv | tail.
# The summary must count exactly the blocks the generator wrote, the table must end with a
# whole row, and orbitcsv's peak resident memory must be no larger than for 10 MiB. How deep
# into the 256 KiB read buffer a pipe's reads reach depends on timing, so up to that much more
# is allowed; growth with the input would show as far more.
#
#   bash tests/soak.sh BUILD_DIR     (a build with orbitcsv and bench/orbitcsv-make-input)
set -euo pipefail

build=${1:?usage: tests/soak.sh BUILD_DIR}
orbitcsv=$build/orbitcsv
generate=$build/bench/orbitcsv-make-input
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
NOISE_KIB=320

# Streams SIZE of dense input; prints the generator's block count, orbitcsv's count and its peak KiB.
stream() {
  "$generate" dense "$1" 2>"$work/blocks" |
    /usr/bin/time -f %M -o "$work/rss" "$orbitcsv" 2>"$work/summary" | tail -c 200 >"$work/tail"
  [ "$(tail -c 1 "$work/tail" | od -An -c | tr -d ' ')" = '\n' ] || { echo "soak: the table ends inside a row" >&2; exit 1; }
  echo "$(cut -d' ' -f1 "$work/blocks") $(cut -d' ' -f1 "$work/summary") $(cat "$work/rss")"
}

read -r small_blocks small_records small_rss < <(stream 10M)
read -r blocks records rss < <(stream 2G)
echo "soak: 10 MiB: $small_records of $small_blocks blocks, peak $small_rss KiB; 2 GiB: $records of $blocks blocks, peak $rss KiB"
[ "$small_records" = "$small_blocks" ] && [ "$records" = "$blocks" ] || { echo "soak: record count is not the block count" >&2; exit 1; }
[ "$rss" -le $((small_rss + NOISE_KIB)) ] || { echo "soak: memory grew with the input" >&2; exit 1; }
