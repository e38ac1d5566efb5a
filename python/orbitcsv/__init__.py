"""The orbital-element blocks of minor planets in free text, as a table.

The same converter as the ``orbitcsv`` program, in four calls. Each takes a *source*: a file
name (``str`` or ``os.PathLike``), the text itself (``bytes``, ``bytearray``, ``memoryview``)
or a binary file object (anything with ``readinto`` or ``read``), and reads it once, front to
back, in pieces.

- ``convert(source, target=None)``: the table exactly as the program writes it, as ``bytes``,
  or written to ``target`` (a file name or a binary file object), returning the row count.
- ``records(source)``: an iterator of :class:`Record`, the eleven fields of each row as text.
- ``read_frame(source)``: a ``pandas.DataFrame`` of each block's elements, read by their labels.
- ``read_table(source)``: an ``astropy.table.QTable`` of the same, with units and the dates as
  ``Time``.
- ``convert_elements(source, target=None)``: the same elements as a CSV table, as
  ``python -m orbitcsv`` writes it.

The table keeps the columns of the minor-planet layout; the frame, the astropy table and the
elements table read every block by its labels, so that comets, the element files of
orbit-fitting programs and text copied with its blanks collapsed give the values they print.

Errors are ``OSError``s with the program's messages: a file that cannot be opened raises the
usual kind (``FileNotFoundError``, ``PermissionError``, ...) with "Cannot open input file NAME"
or "Cannot open output file NAME"; reading that fails part way raises :class:`ReadError`, and
writing :class:`WriteError`; a target that is the source file itself raises ``OSError`` "Output
file NAME is the input file" before anything is written. A ``KeyboardInterrupt`` (or whatever a
signal handler raises) arrives between the pieces read, and a file opened here is closed.
"""

from __future__ import annotations

import contextlib
import io
import os
import sys
from typing import TYPE_CHECKING, Any, Callable, Iterator, NamedTuple, Optional, Protocol, Tuple, Union, overload

from . import _core

if TYPE_CHECKING:
    import pandas
    from astropy.table import QTable

__version__: str = _core.__version__
__all__ = ["ReadError", "Record", "WriteError", "convert", "convert_elements", "records", "read_frame", "read_table"]


class Record(NamedTuple):
    """One row of the table: its eleven fields as text, in the program's names and order. Bytes
    that are not UTF-8 are kept as surrogates: ``field.encode("utf-8", "surrogateescape")`` gives
    them back."""

    name: str
    number: str
    magnitude_h: str
    magnitude_g: str
    mean_anomaly: str
    arg_perihelion: str
    long_node: str
    inclination: str
    eccentricity: str
    semimajor_axis: str
    epoch_mjd: str


class _SystemError(OSError):
    """An OSError whose str() is the program's message, with the system's ``errno`` and
    ``strerror`` (None where there was no reason from the system) and the ``filename`` (None for a
    standard stream or a file object with no name)."""

    def __init__(self, message: str, errno: Optional[int] = None, strerror: Optional[str] = None,
                 filename: Optional[str] = None) -> None:
        super().__init__(errno, strerror, filename)
        self.message = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> Tuple[Any, ...]:
        return type(self), (self.message, self.errno, self.strerror, self.filename)


class ReadError(_SystemError):
    """Reading the source failed part way ("Cannot read input file NAME", "Cannot read standard
    input"); rows converted before it stay in a target."""


class WriteError(_SystemError):
    """Writing the target failed ("Cannot write output file NAME", "Cannot write standard
    output"), a full disk (``errno.ENOSPC``) among the reasons."""


class SupportsRead(Protocol):
    """A binary file object: ``open(name, "rb")``, ``gzip.open(name)``, ``io.BytesIO``,
    ``sys.stdin.buffer``."""

    def read(self, size: int = ..., /) -> bytes: ...


class SupportsWrite(Protocol):
    """A binary file object open for writing."""

    def write(self, data: bytes, /) -> Any: ...


#: What the calls read: a file name, the text itself as bytes, or a binary file object.
Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, SupportsRead]
#: Where convert() and convert_elements() write: a file name or a binary file object.
Target = Union[str, "os.PathLike[str]", SupportsWrite]

#: The frame's values, read by their labels: H and G, the angles M, w (argument of perihelion),
#: Omega (longitude of the node) and i, the mean motion n, a, the perihelion distance q, e, the
#: perihelion time Tp and the epoch (MJDs, TT).
VALUE_COLUMNS: list[str] = list(_core.ELEMENT_NAMES)
#: The frame's columns, and the elements table's.
COLUMNS: list[str] = list(_core.ELEMENTS_COLUMNS)

_RECORDS_PER_BATCH = 1024


def _message(key: str, name: Optional[str] = None) -> str:
    """The program's message `key`, with `name` where the file's name goes."""
    text = _core.MESSAGES[key]
    return text if name is None else text.replace("%s", name, 1)


def _with_message(error: OSError, message: str) -> OSError:
    """An error of the same kind as `error` (and its errno), saying `message`."""
    try:
        worded = type(error)(message)
    except TypeError:  # an OSError subclass that wants other arguments
        worded = OSError(message)
    worded.errno = error.errno
    return worded


def _write_error(error: OSError, output_name: Optional[str], filename: Optional[str] = None) -> WriteError:
    """The program's words for a failure to write the output named `output_name` (None for
    standard output), with the system's reason; `filename` is the file's name where it has one."""
    message = _message("CANNOT_WRITE_STDOUT") if output_name is None else _message("CANNOT_WRITE_OUTPUT", output_name)
    return WriteError(message, error.errno, error.strerror, filename)


def _name_of(file: object) -> str:
    """What messages call a file object: its name, when it has one."""
    name = _filename_of(file)
    return f"<{type(file).__name__}>" if name is None else name


def _filename_of(file: object) -> Optional[str]:
    """A file object's file name, when it has one (not a descriptor, as a raw standard stream's)."""
    name = getattr(file, "name", None)
    if isinstance(name, (str, bytes, os.PathLike)):
        return os.fsdecode(name)
    return None


def _handle_of(file: object) -> Optional[int]:
    """The platform's handle of the file a file object reads or writes, when it has one (gzip's
    is the compressed file's; io.BytesIO has none)."""
    fileno = getattr(file, "fileno", None)
    if not callable(fileno):
        return None
    try:
        descriptor = fileno()
    except (OSError, ValueError):  # io.UnsupportedOperation, or a closed file
        return None
    return _handle(descriptor) if isinstance(descriptor, int) else None


def _longest_path() -> int:
    try:
        return os.pathconf("/", "PC_PATH_MAX")
    except (AttributeError, OSError, ValueError):  # Windows has no pathconf
        return 32767


def _refuse_text(source: str) -> None:
    """A str is a file name; text read in text mode, given by mistake, is refused with what to do."""
    if "\n" in source or "\0" in source or len(source) > _longest_path():
        raise TypeError(
            "orbitcsv reads a file name, bytes or a binary file, and this str is text, not a file name: "
            "to convert text, pass text.encode()"
        )


class _Input:
    """An open source and the conversion that reads it; closes what it opened."""

    def __init__(self, source: Any) -> None:
        self.conversion = _core.Conversion()
        self.file: Optional[io.FileIO] = None  # a file this opened, closed with it
        self.handle: Optional[int] = None  # the open file read, where there is one, for the output check
        self.name: Optional[str] = None  # for messages; None for standard input
        self.filename: Optional[str] = None  # the file's name, for errors; None where it has none
        if isinstance(source, str):
            _refuse_text(source)
        if isinstance(source, (str, os.PathLike)):
            self.name = self.filename = os.fsdecode(os.fspath(source))
            try:
                self.file = open(source, "rb", buffering=0)
            except OSError as error:
                raise _with_message(error, _message("CANNOT_OPEN_INPUT", self.name)) from error
            self.handle = _handle(self.file.fileno())
            self.conversion.from_handle(self.handle)
        elif isinstance(source, (bytes, bytearray, memoryview)):
            self.conversion.from_buffer(_contiguous(source))
        elif callable(getattr(source, "readinto", None)) or callable(getattr(source, "read", None)):
            if isinstance(source, io.TextIOBase):
                raise TypeError("orbitcsv reads bytes: open the file in binary mode ('rb')")
            name = getattr(source, "name", None)
            self.name = None if name in ("<stdin>", 0) else _name_of(source)
            self.filename = None if self.name is None else _filename_of(source)
            self.handle = _handle_of(source)
            # readinto1 takes what a pipe holds now, where readinto would wait to fill the buffer.
            readinto = getattr(source, "readinto1", None)
            if not callable(readinto):
                readinto = getattr(source, "readinto", None)
            if callable(readinto):
                self.conversion.from_reader(readinto, None)
            else:
                self.conversion.from_reader(None, source.read)
        else:
            try:
                view = memoryview(source)
            except TypeError:
                raise TypeError(
                    "a source is a file name, bytes or a binary file object, "
                    f"not {type(source).__name__}"
                ) from None
            self.conversion.from_buffer(_contiguous(view))

    def read_error(self, error: OSError) -> ReadError:
        message = _message("CANNOT_READ_STDIN") if self.name is None else _message("CANNOT_READ_INPUT", self.name)
        return ReadError(message, error.errno, error.strerror, self.filename)

    def refuse_to_overwrite(self, target: Union[int, bytes], name: str) -> None:
        """Raises when writing to `target` (an open file's handle, or a file name as bytes) would
        destroy the file this reads: the same file, however it is reached."""
        if self.handle is not None and _core.writes_over(self.handle, target):
            raise OSError(_message("OUTPUT_IS_INPUT", name))

    def run(self, work: Callable[[Any], Any], output_name: Optional[str] = None, output_filename: Optional[str] = None) -> Any:
        """work(conversion), with its failures worded as the program words them: reading the
        input, and writing the output named `output_name` (a file named `output_filename`). The
        core tells which failed, an OSError of a file object's the cause; any other error, or
        one a signal handler raises, passes through unchanged."""
        try:
            return work(self.conversion)
        except _core.ReadFailure as error:
            raise self.read_error(error) from error.__cause__
        except _core.WriteFailure as error:
            raise _write_error(error, output_name, output_filename) from error.__cause__

    def close(self) -> None:
        if self.file is not None:
            self.file.close()
            self.file = None

    def __enter__(self) -> _Input:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _contiguous(data: Any) -> memoryview:
    view = memoryview(data)
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    return view


def _handle(descriptor: int) -> int:
    """The platform's handle of an open file descriptor: the descriptor, or on Windows its HANDLE."""
    if sys.platform == "win32":
        import msvcrt

        return msvcrt.get_osfhandle(descriptor)
    return descriptor


@overload
def convert(source: Source, target: None = None) -> bytes: ...
@overload
def convert(source: Source, target: Target) -> int: ...
def convert(source: Source, target: Optional[Target] = None) -> Union[bytes, int]:
    """The table of `source` exactly as the orbitcsv program writes it (LF line ends).

    With no target, returns it as bytes. With a target, a file name or a binary file object,
    writes it there and returns the number of rows. A named target is opened only once the
    source is open, and no target is written when it is the file the source reads.
    """
    return _write(source, target, elements=False)


@overload
def convert_elements(source: Source, target: None = None) -> bytes: ...
@overload
def convert_elements(source: Source, target: Target) -> int: ...
def convert_elements(source: Source, target: Optional[Target] = None) -> Union[bytes, int]:
    """The elements table of `source`: one row per block of the table, its values read by their
    labels, in the columns of :func:`read_frame` (numbers as the shortest text that reads back to
    the same value, empty where missing). As :func:`convert` for the target and the result.
    """
    return _write(source, target, elements=True)


def _write(source: object, target: object, elements: bool) -> Union[bytes, int]:
    with _Input(source) as given:
        if target is None:
            table: bytes = given.run(lambda conversion: conversion.table(None, elements))
            return table
        if isinstance(target, (str, os.PathLike)):
            return _convert_to_file(given, target, elements)
        write = getattr(target, "write", None)
        if not callable(write):
            raise TypeError(f"a target is a file name or a binary file object, not {type(target).__name__}")
        if isinstance(target, io.TextIOBase):
            raise TypeError("orbitcsv writes bytes: open the target in binary mode ('wb')")
        name = None if getattr(target, "name", None) in ("<stdout>", 1) else _name_of(target)
        handle = _handle_of(target)
        if handle is not None:
            given.refuse_to_overwrite(handle, _name_of(target))
        rows: int = given.run(lambda conversion: conversion.table(write, elements), name, _filename_of(target))
        return rows


def _convert_to_file(given: _Input, target: Union[str, os.PathLike[str]], elements: bool) -> int:
    name = os.fsdecode(os.fspath(target))
    given.refuse_to_overwrite(os.fsencode(target), name)
    try:
        output = open(target, "wb", buffering=0)
    except OSError as error:
        raise _with_message(error, _message("CANNOT_OPEN_OUTPUT", name)) from error
    try:
        rows: int = given.run(lambda conversion: conversion.table(_handle(output.fileno()), elements), name, name)
    except BaseException:
        with contextlib.suppress(OSError):
            output.close()
        raise
    try:
        output.close()  # where a full disk may show only now
    except OSError as error:
        raise _write_error(error, name, name) from error
    return rows


class _Records(Iterator[Record]):
    """The iterator records() returns: batches of rows converted as they are asked for."""

    def __init__(self, source: Source) -> None:
        self._given = _Input(source)
        self._batch: Iterator[Record] = iter(())
        self._ended = False

    def __iter__(self) -> _Records:
        return self

    def __next__(self) -> Record:
        for record in self._batch:
            return record
        if not self._ended:
            try:
                batch = self._given.run(lambda conversion: conversion.records(_RECORDS_PER_BATCH, Record))
            except BaseException:
                self.close()
                raise
            if batch:
                self._batch = iter(batch)
                return next(self._batch)
        self.close()
        raise StopIteration

    def close(self) -> None:
        """Stops reading, and closes the input if it was opened by name."""
        self._ended = True
        self._batch = iter(())
        self._given.close()

    def __enter__(self) -> _Records:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def records(source: Source) -> Iterator[Record]:
    """An iterator of the table's rows as :class:`Record`s, in constant memory.

    Each field is the text the program writes (names and numbers apart, values as they stand).
    The source is opened at once, so a missing file fails here rather than at the first row.
    """
    return _Records(source)


def _columns(source: Source) -> Any:
    with _Input(source) as given:
        return given.run(lambda conversion: conversion.columns())


def read_frame(source: Source) -> pandas.DataFrame:
    """A pandas DataFrame of the elements of each block, read by their labels: one row for each
    row of the table, in the same order.

    Columns: ``line`` (Int64: the input line, from 1, of the block's epoch line), ``name``,
    ``number`` (Int64: the number in parentheses before a minor planet's name), ``designation``
    (missing ones None and NA), then floats, NaN where the block prints no value: ``H`` and
    ``G``, ``M``, ``w``, ``Omega`` and ``i`` in degrees, ``n`` in degrees a day, ``a`` and ``q``
    in au (values printed in km are converted), ``e``, ``Tp`` (the perihelion time) and
    ``epoch`` as MJDs in TT; ``center`` ("Sun", "Earth", "Moon" or "Barycentre": what the orbit
    is about); and ``note``, which says which printed values could not be read and why, and
    when a name would be taken for a formula; empty when there is nothing to say.
    """
    import numpy as np
    import pandas as pd

    lines, values, numbers, number_missing, centers, names, designations, notes = _columns(source)
    missing = np.zeros(len(lines), dtype=bool)
    center_names = np.array(_core.CENTER_NAMES, dtype=object)
    # Frames made from the arrays share their memory, and concat(copy=False) keeps it so. The
    # notes come last: concatenated, the object columns would be copied into one block.
    frame = pd.concat(
        [
            pd.DataFrame(
                {
                    "line": pd.arrays.IntegerArray(lines, missing),
                    "name": names,
                    "number": pd.arrays.IntegerArray(numbers, number_missing),
                    "designation": designations,
                },
                copy=False,
            ),
            pd.DataFrame(values, columns=VALUE_COLUMNS, copy=False),
        ],
        axis=1,
        copy=False,
    )
    frame.insert(len(frame.columns), "center", center_names[centers])
    frame.insert(len(frame.columns), "note", notes)
    return frame


#: The units of the astropy table's values; the two dates are Time.
_UNITS: dict[str, Optional[str]] = {"H": "mag", "G": None, "M": "deg", "w": "deg", "Omega": "deg", "i": "deg", "n": "deg / d", "a": "AU",
          "q": "AU", "e": None}


def read_table(source: Source) -> QTable:
    """An astropy QTable of the elements read by their labels, with units.

    The columns of read_frame: ``H`` in magnitudes, angles (M, w, Omega, i) in degrees, ``n`` in
    degrees a day, ``a`` and ``q`` in au, G and e without unit, ``Tp`` and ``epoch`` as
    ``astropy.time.Time`` (MJD, TT); values and texts that are missing are masked.
    """
    try:
        import astropy.units as u
        from astropy.table import MaskedColumn, QTable
        from astropy.time import Time
        from astropy.utils.masked import Masked
    except ImportError as error:
        raise ImportError(
            "orbitcsv.read_table needs astropy: pip install astropy "
            "(on Debian and Ubuntu: apt install python3-astropy)"
        ) from error
    import numpy as np

    lines, values, numbers, number_missing, centers, names, designations, notes = _columns(source)

    def texts(objects: Any) -> Any:
        missing = np.array([text is None for text in objects], dtype=bool)
        filled = np.array(["" if text is None else text for text in objects], dtype=str) if len(objects) else np.array([], dtype=str)
        return MaskedColumn(filled, mask=missing)

    table = QTable()
    table["line"] = lines
    table["name"] = texts(names)
    table["number"] = MaskedColumn(numbers, mask=number_missing)
    table["designation"] = texts(designations)
    for column, row in zip(VALUE_COLUMNS, values.T):
        missing = np.isnan(row)
        unit = _UNITS.get(column)
        if column in ("Tp", "epoch"):
            # Time takes no NaN: a missing date is a masked one.
            date = Time(np.where(missing, 0.0, row), format="mjd", scale="tt")
            if missing.any():
                date[missing] = np.ma.masked
            table[column] = date
        elif unit is None:
            table[column] = MaskedColumn(row, mask=missing)
        else:
            table[column] = Masked(row * u.Unit(unit), mask=missing)
    table["center"] = np.array(_core.CENTER_NAMES)[centers] if len(centers) else np.array([], dtype=str)
    table["note"] = notes.astype(str) if len(notes) else np.array([], dtype=str)
    return table
