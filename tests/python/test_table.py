# The astropy table: units, masked values, the epoch as Time, and an ECSV file that keeps them.
import re

import numpy as np
import orbitcsv
import pytest

from conftest import EXAMPLE

u = pytest.importorskip("astropy.units")
QTable = pytest.importorskip("astropy.table").QTable
Time = pytest.importorskip("astropy.time").Time


def check_table(table):
    assert table.colnames == orbitcsv.COLUMNS
    assert table["a"].unit == table["q"].unit == u.au and table["H"].unit == u.mag and table["n"].unit == u.deg / u.day
    for angle in ["M", "w", "Omega", "i"]:
        assert table[angle].unit == u.deg
    assert table["a"][0] == 1.4579614 * u.au and table["i"][0] == 10.8278 * u.deg
    for date in ["Tp", "epoch"]:
        assert isinstance(table[date], Time) and table[date].format == "mjd" and table[date].scale == "tt"
    assert table["epoch"][3].mjd == 61390.75 and table["Tp"][2].mjd == 61340.73412
    # The comet prints no semimajor axis, the minor planets no perihelion distance or time; the
    # unnamed rows have no number, the numbered ones no designation.
    assert list(np.ma.getmaskarray(table["a"])) == [False, False, True, False, False]
    assert list(np.ma.getmaskarray(table["q"])) == [True, True, False, True, True]
    assert list(table["Tp"].mask) == [True, True, False, True, True] and not table["epoch"].mask.any()
    assert list(np.ma.getmaskarray(table["number"])) == [False, True, True, False, False]
    assert list(np.ma.getmaskarray(table["designation"])) == [True, False, False, True, True]
    assert table["number"][0] == 433 and table["name"][4] == "Foderà" and table["designation"][2] == "C/2026 K4"
    assert list(table["center"]) == ["Sun"] * 5 and table["line"][0] == 18


def test_units_masks_and_the_epoch_as_time():
    check_table(orbitcsv.read_table(EXAMPLE))


def test_an_ecsv_file_keeps_them(tmp_path):
    path = tmp_path / "elements.ecsv"
    orbitcsv.read_table(EXAMPLE).write(path, format="ascii.ecsv")
    check_table(QTable.read(path, format="ascii.ecsv"))


def test_a_missing_epoch_is_masked():
    data = EXAMPLE.read_bytes().replace(b"JDT 2461391.25", b"JDT 1e400")
    table = orbitcsv.read_table(data)
    assert list(table["epoch"].mask) == [False, False, False, True, False]


MONTHS = ["Jan.", "Feb.", "Mar.", "Apr.", "May", "June", "July", "Aug.", "Sept.", "Oct.", "Nov.", "Dec."]


def test_the_example_prints_the_dates_of_its_julian_dates():
    # Each date printed on an epoch or T line is the day its value gives as Time, so that a
    # user comparing the two sees the same day.
    table = orbitcsv.read_table(EXAMPLE)
    lines = EXAMPLE.read_text(encoding="utf-8").splitlines()
    printed = re.compile(r"^(?:Epoch|T) +(\d{4}) (\S+) (\d+(?:\.\d+)?) TT")
    checked = 0
    for index, row in enumerate(table):
        for column, line in [("epoch", row["line"]), ("Tp", row["line"] + 1)]:
            if table[column].mask[index]:
                continue
            year, month, day = printed.match(lines[line - 1]).groups()
            start = Time(f"{year}-{MONTHS.index(month) + 1:02d}-01", scale="tt")
            assert abs((table[column][index] - start).jd - (float(day) - 1)) < 1e-6, lines[line - 1]
            checked += 1
    assert checked == 6 and table["epoch"][0].iso == "2026-12-17 00:00:00.000"
