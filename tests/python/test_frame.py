# The frame: every block's elements read by their labels, one row per row of the table, with
# numbers as whole numbers and a note that says what could not be read.
import csv
import ctypes
import io
import json
import math
import random
import re
import threading
from decimal import Decimal

import numpy as np
import orbitcsv
import pandas as pd
import pytest

from conftest import COMET, EROS, EXAMPLE, block, corpus_inputs, element_list, random_inputs

# What a number is: a decimal as element lines write them.
NUMBER = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?")
# Where the table reads each value of the minor-planet layout: the line after the epoch line (0
# the first) and the columns, both ends included.
TABLE_COLUMNS = {"H": (4, 20, 30), "G": (4, 39, 48), "M": (0, 2, 15), "w": (1, 26, 35), "Omega": (2, 26, 35),
                 "i": (3, 26, 35), "e": (3, 2, 15), "a": (2, 2, 15)}


def test_columns_and_types():
    frame = orbitcsv.read_frame(EXAMPLE)
    assert list(frame.columns) == orbitcsv.COLUMNS == [
        "line", "name", "number", "designation", "H", "G", "M", "w", "Omega", "i", "n", "a", "q", "e", "Tp", "epoch",
        "center", "note"]
    assert frame["line"].dtype == frame["number"].dtype == pd.Int64Dtype()
    assert all(frame[column].dtype == np.float64 for column in orbitcsv.VALUE_COLUMNS)
    assert frame["line"].tolist() == [18, 34, 45, 57, 65]
    assert frame["name"].tolist() == ["Eros", None, "Marlowe", "Toutatis", "Foderà"]
    assert frame["designation"].tolist() == [None, "2026 WQ7", "C/2026 K4", None, None]
    assert frame["number"].tolist() == [433, pd.NA, pd.NA, 4179, 11021]
    assert frame.loc[0, "a"] == 1.4579614 and frame.loc[0, "n"] == 0.55976121 and frame.loc[3, "epoch"] == 61390.75
    assert frame["center"].tolist() == ["Sun"] * 5 and frame["note"].tolist() == [""] * 5
    # The comet's perihelion distance, time and angles; no semimajor axis or mean anomaly, as
    # none is printed.
    comet = frame.loc[2]
    assert (comet["q"], comet["e"], comet["w"], comet["Tp"]) == (0.391456, 1.0001883, 308.49213, 61340.73412)
    assert comet[["M", "n", "a"]].isna().all()


def test_the_frame_is_the_elements_table_read_back(inputs):
    differ = []
    for label, data in inputs[::7]:
        frame = orbitcsv.read_frame(data)
        table = pd.read_csv(io.BytesIO(orbitcsv.convert_elements(data)), float_precision="round_trip", encoding_errors="replace",
                            keep_default_na=False, na_values={
            column: [""] for column in ["number", *orbitcsv.VALUE_COLUMNS]}, dtype={"name": object, "designation": object})
        if list(table.columns) != orbitcsv.COLUMNS or len(table) != len(frame):
            differ.append(label)
            continue
        for column in ["line", "number", *orbitcsv.VALUE_COLUMNS]:
            if not np.array_equal(frame[column].to_numpy(dtype=float, na_value=np.nan), table[column].to_numpy(dtype=float),
                                  equal_nan=True):
                differ.append(f"{label}: {column}")
        for column in ["name", "designation", "center", "note"]:
            if frame[column].fillna("").tolist() != table[column].tolist():
                differ.append(f"{label}: {column}")
    assert differ == [], differ[:10]


def _minor_planet_rows(data):
    """(row of the frame, the table's record, the five element lines, the epoch line) for every
    block of the minor-planet layout, its labels where the columns put them, among lines of a
    piece each."""
    lines = [line.rstrip(b"\r") for line in data.split(b"\n")]
    frame = orbitcsv.read_frame(data)
    for (_, row), record in zip(frame.iterrows(), orbitcsv.records(data)):
        at = row["line"] - 1
        rows = lines[at + 1 : at + 6]
        if len(rows) == 5 and all(len(line) < 131 for line in lines[at : at + 6]) and \
                [line[:2] for line in rows[:4]] == [b"M ", b"n ", b"a ", b"e "] and \
                [rows[1][19:24], rows[2][19:23], rows[3][19:24]] == [b"Peri.", b"Node", b"Incl."]:
            yield row, record, rows, lines[at]


def test_labels_and_columns_agree_on_blocks_of_the_minor_planet_layout():
    checked = 0
    fields = dict(zip(["H", "G", "M", "w", "Omega", "i", "e", "a"], range(2, 10)))
    for _, data in corpus_inputs() + [("list", element_list(300))]:
        for row, record, rows, epoch_line in _minor_planet_rows(data):
            for column, (line, first, last) in TABLE_COLUMNS.items():
                text, where = record[fields[column]], rows[line]
                # A number that stands within its columns, blanks or the line's ends about it.
                within = (first >= len(where) or where[first:first + 1].isspace() or where[first - 1:first].isspace()) and \
                         (last + 1 >= len(where) or where[last + 1:last + 2].isspace())
                if within and NUMBER.fullmatch(text):
                    assert row[column] == float(text), (column, text, where)
                    checked += 1
            jdt = re.match(rb"\s*([0-9.]+)", epoch_line.split(b"JDT", 1)[1]).group(1).decode()
            assert row["epoch"] == float(Decimal(jdt) - Decimal("2400000.5")), epoch_line
    assert checked > 2000


def test_numbers_outside_the_usual_form_are_read_exactly():
    texts = ["0e400", "-0e999", "1e-5", "-0", ".5", "5.", "1.5E+3", "+7", "4e38", "1e400", "-1e400", "1e-400", "9999999999999999",
             "9007199254740993", "0.1000000000000000055", "123456789012.3456", "-.0000001e-300", "2.2250738585072011e-308"]
    lines = [EROS[0], EROS[1], EROS[2], EROS[3]]
    for text in texts:
        # Read whole, where the table cuts the semimajor axis at its fifteenth column.
        data = b"\n".join([*lines, b"a %-14s          Node   304.28871" % text.encode(), *EROS[5:]]) + b"\n"
        value = orbitcsv.read_frame(data).loc[0, "a"]
        assert value == float(text) and math.copysign(1, value) == math.copysign(1, float(text)), text


@pytest.mark.parametrize(
    "designation, number",
    [(b"(433) Eros", 433), (b"( 433 ) Eros", 433), (b"(0433) Eros", 433), (b"(999999999999999999) Far", 999999999999999999),
     (b"(1000000000000000000) Too far", None), (b"2026 WQ7", None), (b"(-5) Minus", None), (b"(4 33) Gap", None),
     (b"() Empty", None), (b"(1e3) Exp", None)],
)
def test_the_number_is_a_whole_number_or_missing(designation, number):
    frame = orbitcsv.read_frame(b"\n".join(block(designation)) + b"\n")
    assert (frame.loc[0, "number"] is pd.NA) if number is None else frame.loc[0, "number"] == number


def test_the_note_says_which_values_could_not_be_read():
    data = b"\n".join([*EROS[:4], b"a   unknown        Node   304.28871", b"e                  Incl.  10.82780", EROS[6]]) + b"\n"
    frame = orbitcsv.read_frame(data)
    assert frame.loc[0, "note"] == "Not read: a “unknown” (not a number), e (no value)"
    assert math.isnan(frame.loc[0, "a"]) and math.isnan(frame.loc[0, "e"]) and frame.loc[0, "i"] == 10.8278
    # A name a spreadsheet would run is noted too; a missing epoch is missing.
    data = b"\n".join([b"(1) =cmd", b"Epoch 2026 Dec. 17.0 TT = JDT 1e400", *EROS[2:]]) + b"\n"
    frame = orbitcsv.read_frame(data)
    assert frame.loc[0, "note"] == ("Not read: JDT “1e400” (no Julian date after it); Name or number begins with =, +, - or @,"
                                    " which a spreadsheet may take for a formula")
    assert math.isnan(frame.loc[0, "epoch"])


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


def _python_shortest(value):
    """Python's repr of a float, without the ".0" of a whole number: how the elements table
    writes numbers."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def test_the_elements_table_writes_each_number_as_its_shortest_text():
    pick = random.Random(11)
    lines = []
    for k in range(3000):
        digits = "".join(pick.choice("0123456789") for _ in range(pick.randrange(1, 19)))
        point = pick.randrange(len(digits) + 1)
        text = (pick.choice(["", "-"]) + digits[:point] + "." + digits[point:]).rstrip(".") or "0"
        if pick.randrange(4) == 0:
            text += "e%d" % pick.randrange(-30, 30)
        unit = pick.choice(["", "km"])
        lines += [b"(%d) X" % k, EROS[1], b"M %s" % text.encode(), b"n 1", b"a %s%s" % (text.encode(), unit.encode()),
                  b"e 0.%d" % k, EROS[6]]
    data = b"\n".join(lines) + b"\n"
    rows = list(csv.reader(io.StringIO(orbitcsv.convert_elements(data).decode())))[1:]
    frame = orbitcsv.read_frame(data)
    m, a = orbitcsv.COLUMNS.index("M"), orbitcsv.COLUMNS.index("a")
    for row, (_, values) in zip(rows, frame.iterrows()):
        for column in (m, a):
            assert row[column] == _python_shortest(values[orbitcsv.COLUMNS[column]]), row


# Columns of the frame and the labels of the answer keys beside the real texts in tests/corpus,
# which were written by reading each block by eye.
_KEY_LABELS = {"M": "M", "n": "n", "a": "a", "e": "e", "q": "q", "w": "peri", "Omega": "node", "i": "incl", "H": "H",
               "G": "G"}


@pytest.mark.parametrize("corpus", ["real-2", "real-mixed"])
def test_real_blocks_give_the_values_their_answer_keys_read(corpus):
    folder = EXAMPLE.parents[1] / "tests" / "corpus"
    key = json.loads((folder / f"{corpus}-key.json").read_text())
    text = (folder / f"{corpus}.txt").read_bytes()
    lines = text.split(b"\n")
    frame = orbitcsv.read_frame(text)
    rows = {row["line"]: row for _, row in frame.iterrows()}
    blocks = [entry for entry in key if entry["line"] in rows]
    assert len(blocks) == len(frame) > 10
    for entry in blocks:
        row = rows[entry["line"]]
        near = b"\n".join(lines[max(0, entry["line"] - 4):entry["line"] + 5])
        for column, label in _KEY_LABELS.items():
            printed = entry.get(label)
            if printed is None or printed.encode() not in near:
                assert printed is not None or math.isnan(row[column]), (entry["line"], column)
                continue
            value = float(printed) / (orbitcsv._core.KM_PER_AU if entry["units"].get(label) == "km" else 1)
            assert row[column] == pytest.approx(value, rel=1e-12), (entry["line"], column)
        assert row["epoch"] == pytest.approx(float(entry["epoch_jd"]) - 2400000.5, abs=1e-8)
        if entry.get("T_jd"):
            assert row["Tp"] == pytest.approx(float(entry["T_jd"]) - 2400000.5, abs=1e-8), entry["line"]
        assert (row["number"] if row["number"] is not pd.NA else None) == (int(entry["number"]) if entry["number"] else None)
        shown = {row["name"], row["designation"]} - {None}
        assert shown == {text for text in (entry["name"], entry["designation"]) if text}, entry["line"]
