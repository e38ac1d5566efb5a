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

Errors are ``OSError``s with the program's messages ("Cannot open input file NAME", ...).
"""

import contextlib
import io
import os
import stat
import sys
from collections import namedtuple

from . import _core

__version__ = _core.__version__
__all__ = ["Record", "convert", "convert_elements", "records", "read_frame", "read_table"]

#: One row of the table: its eleven fields as text, in the program's names and order. Bytes that
#: are not UTF-8 are kept as surrogates: ``field.encode("utf-8", "surrogateescape")`` gives them.
Record = namedtuple(
    "Record",
    [
        "name",
        "number",
        "magnitude_h",
        "magnitude_g",
        "mean_anomaly",
        "arg_perihelion",
        "long_node",
        "inclination",
        "eccentricity",
        "semimajor_axis",
        "epoch_mjd",
    ],
)

#: The frame's values, read by their labels: H and G, the angles M, w (argument of perihelion),
#: Omega (longitude of the node) and i, the mean motion n, a, the perihelion distance q, e, the
#: perihelion time Tp and the epoch (MJDs, TT).
VALUE_COLUMNS = list(_core.ELEMENT_NAMES)
#: The frame's columns, and the elements table's.
COLUMNS = ["line", "name", "number", "designation", *VALUE_COLUMNS, "center", "note"]

_RECORDS_PER_BATCH = 1024


def _with_message(error, message):
    """An error of the same kind as `error` (and its errno), saying `message`."""
    kind = type(error) if isinstance(error, OSError) else OSError
    try:
        worded = kind(message)
    except TypeError:  # an OSError subclass that wants other arguments
        worded = OSError(message)
    worded.errno = getattr(error, "errno", None)
    return worded


def _write_error(error, output_name):
    """The program's words for a failure to write the output named `output_name` (None for
    standard output)."""
    return _with_message(error, "Cannot write standard output" if output_name is None else f"Cannot write output file {output_name}")


def _name_of(file):
    """What messages call a file object: its name, when it has one."""
    name = getattr(file, "name", None)
    if isinstance(name, (str, bytes, os.PathLike)):
        return os.fsdecode(name)
    return f"<{type(file).__name__}>"


class _Input:
    """An open source and the conversion that reads it; closes what it opened."""

    def __init__(self, source):
        self.conversion = _core.Conversion()
        self.file = None  # a file this opened, closed with it
        self.identity = None  # (device, inode) of a named regular file, for the output check
        self.name = None  # for messages; None for standard input
        if isinstance(source, (str, os.PathLike)):
            self.name = os.fsdecode(os.fspath(source))
            try:
                self.file = open(source, "rb", buffering=0)
            except OSError as error:
                raise _with_message(error, f"Cannot open input file {self.name}") from error
            status = os.fstat(self.file.fileno())
            if stat.S_ISREG(status.st_mode):
                self.identity = (status.st_dev, status.st_ino)
            self.conversion.from_handle(_handle(self.file))
        elif isinstance(source, (bytes, bytearray, memoryview)):
            self.conversion.from_buffer(_contiguous(source))
        elif callable(getattr(source, "readinto", None)) or callable(getattr(source, "read", None)):
            if isinstance(source, io.TextIOBase):
                raise TypeError("orbitcsv reads bytes: open the file in binary mode ('rb')")
            name = getattr(source, "name", None)
            self.name = None if name in ("<stdin>", 0) else _name_of(source)
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

    def read_error(self, error):
        message = "Cannot read standard input" if self.name is None else f"Cannot read input file {self.name}"
        return _with_message(error, message)

    def run(self, work, output_name=None):
        """work(conversion), with its failures worded as the program words them: reading the
        input, and writing the output named `output_name`. An OSError that a file object raises
        is one of those failures; any other error it raises passes through unchanged."""
        try:
            return work(self.conversion)
        except _core.ReadError as error:
            raise self.read_error(error) from None
        except _core.WriteError as error:
            raise _write_error(error, output_name) from None
        except OSError as error:
            if self.conversion.failed_while_writing:
                raise _write_error(error, output_name) from error
            raise self.read_error(error) from error

    def close(self):
        if self.file is not None:
            self.file.close()
            self.file = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _contiguous(data):
    view = memoryview(data)
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    return view


def _handle(file):
    """The platform's handle of an open file: its descriptor, or on Windows its HANDLE."""
    if sys.platform == "win32":
        import msvcrt

        return msvcrt.get_osfhandle(file.fileno())
    return file.fileno()


def convert(source, target=None):
    """The table of `source` exactly as the orbitcsv program writes it (LF line ends).

    With no target, returns it as bytes. With a target, a file name or a binary file object,
    writes it there and returns the number of rows. A named target is opened only once the
    source is open, and never when it is the source file itself.
    """
    return _write(source, target, elements=False)


def convert_elements(source, target=None):
    """The elements table of `source`: one row per block of the table, its values read by their
    labels, in the columns of :func:`read_frame` (numbers as the shortest text that reads back to
    the same value, empty where missing). As :func:`convert` for the target and the result.
    """
    return _write(source, target, elements=True)


def _write(source, target, elements):
    with _Input(source) as given:
        if target is None:
            return given.run(lambda conversion: conversion.table(None, elements))
        if isinstance(target, (str, os.PathLike)):
            return _convert_to_file(given, target, elements)
        if not hasattr(target, "write"):
            raise TypeError(f"a target is a file name or a binary file object, not {type(target).__name__}")
        if isinstance(target, io.TextIOBase):
            raise TypeError("orbitcsv writes bytes: open the target in binary mode ('wb')")
        name = None if getattr(target, "name", None) in ("<stdout>", 1) else _name_of(target)
        return given.run(lambda conversion: conversion.table(target.write, elements), name)


def _convert_to_file(given, target, elements):
    name = os.fsdecode(os.fspath(target))
    if given.identity is not None:
        try:
            status = os.stat(target)
        except OSError:
            status = None
        if status is not None and (status.st_dev, status.st_ino) == given.identity:
            raise OSError(f"Output file {name} is the input file")
    try:
        output = open(target, "wb", buffering=0)
    except OSError as error:
        raise _with_message(error, f"Cannot open output file {name}") from error
    try:
        rows = given.run(lambda conversion: conversion.table(_handle(output), elements), name)
    except BaseException:
        with contextlib.suppress(OSError):
            output.close()
        raise
    try:
        output.close()  # where a full disk may show only now
    except OSError as error:
        raise _with_message(error, f"Cannot write output file {name}") from error
    return rows


class _Records:
    """The iterator records() returns: batches of rows converted as they are asked for."""

    def __init__(self, source):
        self._given = _Input(source)
        self._batch = iter(())
        self._ended = False

    def __iter__(self):
        return self

    def __next__(self):
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

    def close(self):
        """Stops reading, and closes the input if it was opened by name."""
        self._ended = True
        self._batch = iter(())
        self._given.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def records(source):
    """An iterator of the table's rows as :class:`Record`s, in constant memory.

    Each field is the text the program writes (names and numbers apart, values as they stand).
    The source is opened at once, so a missing file fails here rather than at the first row.
    """
    return _Records(source)


def _columns(source):
    with _Input(source) as given:
        return given.run(lambda conversion: conversion.columns())


def read_frame(source):
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
_UNITS = {"H": "mag", "G": None, "M": "deg", "w": "deg", "Omega": "deg", "i": "deg", "n": "deg / d", "a": "AU",
          "q": "AU", "e": None}


def read_table(source):
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

    def texts(objects):
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
