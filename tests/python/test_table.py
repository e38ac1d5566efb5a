# The astropy table: units, masked values, the epoch as Time, and an ECSV file that keeps them.
import numpy as np
import orbitcsv
import pytest

from conftest import EXAMPLE

u = pytest.importorskip("astropy.units")
QTable = pytest.importorskip("astropy.table").QTable
Time = pytest.importorskip("astropy.time").Time


def check_table(table):
    assert table.colnames == orbitcsv.COLUMNS
    assert table["a"].unit == u.au and table["H"].unit == u.mag
    for angle in ["M", "w", "Omega", "i"]:
        assert table[angle].unit == u.deg
    assert table["a"][0] == 1.4579614 * u.au and table["i"][0] == 10.8278 * u.deg
    assert isinstance(table["epoch"], Time) and table["epoch"].format == "mjd" and table["epoch"].scale == "tt"
    assert table["epoch"][3].mjd == 61025.8
    # The comet's values are masked, all but its epoch; the unnamed rows have no number.
    assert list(np.ma.getmaskarray(table["a"])) == [False, False, True, False, False]
    assert list(np.ma.getmaskarray(table["e"])) == [False, False, True, False, False]
    assert not table["epoch"].mask.any()
    assert list(np.ma.getmaskarray(table["number"])) == [False, True, True, False, False]
    assert table["number"][0] == 433 and table["name"][4] == "Foderà"
    assert table["note"][2].startswith("Comet block")


def test_units_masks_and_the_epoch_as_time():
    check_table(orbitcsv.read_table(EXAMPLE))


def test_an_ecsv_file_keeps_them(tmp_path):
    path = tmp_path / "elements.ecsv"
    orbitcsv.read_table(EXAMPLE).write(path, format="ascii.ecsv")
    check_table(QTable.read(path, format="ascii.ecsv"))


def test_a_missing_epoch_is_masked():
    data = EXAMPLE.read_bytes().replace(b"JDT 2461026.25", b"JDT 1e400")
    table = orbitcsv.read_table(data)
    assert list(table["epoch"].mask) == [False, False, False, True, False]
