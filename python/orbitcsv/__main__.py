"""python -m orbitcsv [--ecsv] [input [output]]

Writes the elements table of the input, its blocks read by their labels, as the orbitcsv program
writes its table: the input file or standard input, the output file or standard output, a
one-line summary on standard error, status 0, or 2 with the program's message when a file
cannot be opened, read or written. With --ecsv, the astropy table in ECSV, with its units.
"""

from __future__ import annotations

import os
import sys
from typing import BinaryIO, List, Optional, Union

from . import _core, _handle, _message, _write_error, convert_elements, read_table

_FAILED = 2


def _same_file(input_name: str, output_name: str) -> bool:
    """Whether writing the output would destroy the input: the same file, however it is named."""
    try:
        with open(input_name, "rb", buffering=0) as given:
            return _core.writes_over(_handle(given.fileno()), os.fsencode(output_name))
    except OSError:
        return False


def _write_ecsv(source: Union[str, BinaryIO], input_name: Optional[str], output_name: Optional[str]) -> int:
    table = read_table(source)
    if output_name is not None and input_name is not None and _same_file(input_name, output_name):
        raise OSError(_message("OUTPUT_IS_INPUT", output_name))
    try:
        table.write(sys.stdout if output_name is None else output_name, format="ascii.ecsv", overwrite=True)
        if output_name is None:
            sys.stdout.flush()
    except OSError as error:
        raise _write_error(error, output_name, output_name) from error
    return len(table)


def main(arguments: List[str]) -> int:
    ecsv = bool(arguments) and arguments[0] == "--ecsv"
    if ecsv:
        arguments = arguments[1:]
    if arguments and arguments[0] in ("-h", "--help"):
        print((__doc__ or "").strip())
        return 0
    input_name = arguments[0] if arguments else None
    output_name = arguments[1] if len(arguments) > 1 else None
    source: Union[str, BinaryIO] = sys.stdin.buffer if input_name is None else input_name
    try:
        if ecsv:
            rows = _write_ecsv(source, input_name, output_name)
        else:
            rows = convert_elements(source, sys.stdout.buffer if output_name is None else output_name)
    except OSError as error:
        print(error, file=sys.stderr)
        return _FAILED
    print(_core.summary(rows), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
