# The frame: every value the double its text denotes, NaN where the text is not a number or the
# block is a comet's, numbers as whole numbers, and a note that says why a value is missing.
import ctypes
import io
import math
import re
import threading

import numpy as np
import orbitcsv
import pandas as pd
import pytest

from conftest import COMET, EROS, EXAMPLE, block, random_inputs

# What a number is: a decimal as element lines write them.
NUMBER = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?")
COMET_NOTE = "Comet block: the table does not read its T, q and z lines"


def test_columns_and_types():
    frame = orbitcsv.read_frame(EXAMPLE)
    assert list(frame.columns) == ["name", "number", "H", "G", "M", "w", "Omega", "i", "e", "a", "epoch", "note"]
    assert frame["number"].dtype == pd.Int64Dtype()
    assert all(frame[column].dtype == np.float64 for column in orbitcsv.VALUE_COLUMNS)
    assert frame["name"].dtype == object and frame["note"].dtype == object
    assert frame["name"].tolist() == ["Eros", "2026 WQ7", "", "Toutatis, revised", "Foderà"]
    assert frame["number"].tolist() == [433, pd.NA, pd.NA, 4179, 11021]
    assert frame.loc[0, "a"] == 1.4579614 and frame.loc[3, "epoch"] == 61025.8
    assert frame["note"].tolist() == ["", "", COMET_NOTE, "", ""]
    # The comet's values are all missing but its epoch.
    assert frame.loc[2, orbitcsv.VALUE_COLUMNS[:-1]].isna().all() and frame.loc[2, "epoch"] == 61026


def test_every_value_is_the_double_its_text_denotes():
    checked = 0
    for data in random_inputs(400, seed=7):
        frame = orbitcsv.read_frame(data)
        for (_, row), record in zip(frame.iterrows(), orbitcsv.records(data)):
            comet = row["note"] == COMET_NOTE
            for column, text in zip(orbitcsv.VALUE_COLUMNS, record[2:]):
                value = row[column]
                if NUMBER.fullmatch(text) and not (comet and column != "epoch"):
                    assert value == float(text) and math.copysign(1, value) == math.copysign(1, float(text)), (column, text)
                    checked += 1
                else:
                    assert math.isnan(value), (column, text)
    assert checked > 10000


def test_numbers_outside_the_usual_form_are_read_exactly():
    texts = ["0e400", "-0e999", "1e-5", "-0", ".5", "5.", "1.5E+3", "+7", "4e38", "1e400", "-1e400", "1e-400", "9999999999999999",
             "9007199254740993", "0.1000000000000000055", "123456789012.3456", "-.0000001e-300", "2.2250738585072011e-308"]
    lines = [EROS[0], EROS[1], EROS[2], EROS[3]]
    for text in texts:
        # The semimajor axis stands in columns 2 to 15, and is cut there.
        data = b"\n".join([*lines, b"a %-14s          304.28871" % text.encode(), *EROS[5:]]) + b"\n"
        value = orbitcsv.read_frame(data).loc[0, "a"]
        expected = float(text[:14])
        assert value == expected and math.copysign(1, value) == math.copysign(1, expected), text


@pytest.mark.parametrize(
    "designation, number",
    [(b"(433) Eros", 433), (b"( 433 ) Eros", 433), (b"(0433) Eros", 433), (b"(999999999999999999) Far", 999999999999999999),
     (b"(1000000000000000000) Too far", None), (b"2026 WQ7", None), (b"(-5) Minus", None), (b"(4 33) Gap", None),
     (b"() Empty", None), (b"(1e3) Exp", None)],
)
def test_the_number_is_a_whole_number_or_missing(designation, number):
    frame = orbitcsv.read_frame(b"\n".join(block(designation)) + b"\n")
    assert (frame.loc[0, "number"] is pd.NA) if number is None else frame.loc[0, "number"] == number


@pytest.mark.parametrize(
    "first, second, comet",
    [(b"T  2026 Oct. 27.7", b"q   0.39", True), (b"T 2026", b"q 1", True), (b"T\t2026", b"q 1", False),
     (b"t 2026", b"q 1", False), (b"T 2026", b"Q 1", False), (b"q 0.39", b"T 2026", False), (b"T2026", b"q 1", False)],
)
def test_comet_blocks_are_told_by_their_t_and_q_lines(first, second, comet):
    data = b"\n".join([*COMET[:2], first, second, *COMET[4:]]) + b"\n"
    note = orbitcsv.read_frame(data).loc[0, "note"]
    assert (note == COMET_NOTE) == comet, note


def test_a_comet_block_with_a_line_after_z_keeps_its_row_text():
    data = b"\n".join([*COMET[:5], b"+/-   0.0000012", *COMET[5:]]) + b"\n"
    frame = orbitcsv.read_frame(data)
    assert frame.loc[0, "note"] == COMET_NOTE
    (record,) = orbitcsv.records(data)
    assert record.semimajor_axis == "-0.0004811"


def test_the_note_names_the_columns_that_are_not_numbers():
    data = b"\n".join([*EROS[:4], b"a   unknown        Node   304.28871", b"e                  Incl.  10.82780", EROS[6]]) + b"\n"
    frame = orbitcsv.read_frame(data)
    assert frame.loc[0, "note"] == "Not numbers: Eccentricity empty, Semimajor axis “unknown”"
    assert math.isnan(frame.loc[0, "a"]) and math.isnan(frame.loc[0, "e"]) and frame.loc[0, "i"] == 10.8278


def test_names_show_bytes_that_are_not_utf8_as_replacement_characters():
    frame = orbitcsv.read_frame(b"\n".join(block(b"(2) Caf\xe9 \xc3\xa9")) + b"\n")
    assert frame.loc[0, "name"] == "Caf\ufffd é"


def test_an_input_without_blocks_gives_an_empty_frame_of_the_same_columns():
    frame = orbitcsv.read_frame(b"no blocks here\n")
    assert len(frame) == 0
    assert list(frame.columns) == orbitcsv.COLUMNS and frame["H"].dtype == np.float64


class _ArenaAllocator(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("alloc", ctypes.c_void_p), ("free", ctypes.c_void_p)]


def _arena_allocator():
    allocator = _ArenaAllocator()
    ctypes.pythonapi.PyObject_GetArenaAllocator(ctypes.byref(allocator))
    return allocator.alloc, allocator.free


class _PausingReader:
    """A binary file object over bytes that calls `pause` before its second read."""

    def __init__(self, data, pause):
        self._data = io.BytesIO(data)
        self._pause = pause
        self._reads = 0

    def read(self, size=-1):
        self._reads += 1
        if self._reads == 2:
            self._pause()
        return self._data.read(min(size, 4096))


def test_frames_made_in_two_threads_at_once_leave_the_interpreters_allocator_as_it_was():
    # The first frame ends while the second is still being made: the interpreter's own way of
    # taking memory must be back once both have ended, not the one the first left to the second.
    before = _arena_allocator()
    data = b"\n".join(EROS * 2000) + b"\n"
    first_reading, second_reading, first_done = threading.Event(), threading.Event(), threading.Event()
    frames = {}

    def first():
        frames["first"] = orbitcsv.read_frame(_PausingReader(data, lambda: (first_reading.set(), second_reading.wait())))
        first_done.set()

    def second():
        first_reading.wait()
        frames["second"] = orbitcsv.read_frame(_PausingReader(data, lambda: (second_reading.set(), first_done.wait())))

    threads = [threading.Thread(target=first), threading.Thread(target=second)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert len(frames["first"]) == len(frames["second"]) == 2000
    assert _arena_allocator() == before
