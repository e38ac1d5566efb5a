#!/usr/bin/env bash
# Fails when a Linux build of orbitcsv calls into the C library beyond ISO C and POSIX.1-2008,
# the interfaces every Unix-like system has: such a call builds here and breaks on macOS or a
# BSD. Fails too when it needs any shared library but the C library: what it uses of the C++
# library compiles inline, so it installs on any Linux with glibc and starts without loading
# the C++ runtime.
#
#   bash tests/portable-symbols.sh BINARY
set -euo pipefail
binary=${1:?usage: tests/portable-symbols.sh BINARY}

# What the program may take from the C library, and the hooks of the C runtime's start-up,
# exit and errno, which every C library has in its own form.
portable='
close dup2 fcntl fstat open read stat write
memchr memcmp memcpy memmove memset snprintf strlen strtod
__libc_start_main __cxa_finalize __cxa_atexit __errno_location __stack_chk_fail
'
status=0
while read -r symbol; do
  name=${symbol%%@*}
  if ! grep -qw -- "$name" <<<"$portable"; then
    echo "not on the list of ISO C and POSIX.1-2008 calls: $symbol (add it there if it is one)" >&2
    status=1
  fi
done < <(nm -D --undefined-only "$binary" | awk '{ print $NF }' | grep '@GLIBC_')
others=$(objdump -p "$binary" | awk '$1 == "NEEDED" && $2 !~ /^libc\.so/ { print $2 }')
if [ -n "$others" ]; then
  echo "needs shared libraries beyond the C library: $others" >&2
  status=1
fi
[ "$status" = 0 ] && echo "portable-symbols: $(nm -D --undefined-only "$binary" | grep -c '@GLIBC_') C library symbols, all ISO C or POSIX.1-2008; no other library"
exit "$status"
