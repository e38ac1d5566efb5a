# The module against the program: for every input, the table of convert() is the program's table
# byte for byte, whether the input comes as bytes, a file name or a file object, and records()
# gives the fields of the program's rows.
import io
import re
import shutil
import subprocess
import sys

import orbitcsv
import pytest

from conftest import EROS, EXAMPLE, ROOT, ShortReads, ShortReadsInto, native, table_rows


def test_tables_and_records_are_the_programs(inputs, tmp_path):
    differ = []
    for label, data in inputs:
        expected = native(data)
        path = tmp_path / "input.txt"
        path.write_bytes(data)
        got = {
            "bytes": orbitcsv.convert(data),
            "bytearray": orbitcsv.convert(bytearray(data)),
            "path": orbitcsv.convert(path),
            "file object": orbitcsv.convert(io.BytesIO(data)),
        }
        differ += [f"{label} as {how}" for how, table in got.items() if table != expected]
        fields = [[f"{r.name} {r.number}", *r[2:]] for r in orbitcsv.records(data)]
        if fields != table_rows(expected):
            differ.append(f"{label}: records")
    assert differ == [], differ[:10]
    assert len(inputs) >= 2000


@pytest.mark.parametrize("reader", [ShortReads, ShortReadsInto])
def test_short_reads_at_every_offset_of_a_block_give_the_same_table(reader):
    data = b"Prose before\n" + b"\n".join(EROS) + b"\nprose after\n" + b"\r\n".join(EROS) + b"\r\n"
    expected = native(data)
    for first in range(1, len(data) + 1):
        assert orbitcsv.convert(reader(data, [first, 3, 1, 7, len(data)])) == expected, f"first read of {first}"
    assert orbitcsv.convert(reader(data, [1])) == expected


def test_records_keep_every_byte_of_the_fields():
    data = b"\n".join([b"(7) Iris\xff\xfe \xc3\xa9", *EROS[1:5], b"e   0.22\xe9          Incl.  10.82780", EROS[6]]) + b"\n"
    (record,) = orbitcsv.records(data)
    assert record.name.encode("utf-8", "surrogateescape") == b"Iris\xff\xfe \xc3\xa9"
    assert record.eccentricity.encode("utf-8", "surrogateescape") == b"0.22\xe9"
    assert record._fields == ("name", "number", "magnitude_h", "magnitude_g", "mean_anomaly", "arg_perihelion",
                              "long_node", "inclination", "eccentricity", "semimajor_axis", "epoch_mjd")


def test_a_table_written_to_a_target_is_the_programs(tmp_path):
    data = b"\n".join(EROS * 3) + b"\n"
    target = tmp_path / "out.csv"
    assert orbitcsv.convert(data, target) == 3
    assert target.read_bytes() == native(data)
    written = io.BytesIO()
    assert orbitcsv.convert(data, written) == 3
    assert written.getvalue() == native(data)


def test_records_stop_reading_when_closed(tmp_path):
    path = tmp_path / "input.txt"
    path.write_bytes(b"\n".join(EROS * 5000) + b"\n")
    with orbitcsv.records(path) as rows:
        assert next(rows).name == "Eros"
    assert list(rows) == []


def _module(*arguments, data=None):
    """python -m orbitcsv with the arguments: (status, standard output, standard error)."""
    run = subprocess.run([sys.executable, "-m", "orbitcsv", *map(str, arguments)], input=data, capture_output=True)
    return run.returncode, run.stdout, run.stderr.decode()


def test_the_module_as_a_command_writes_the_elements_table(tmp_path):
    data = EXAMPLE.read_bytes()
    expected = orbitcsv.convert_elements(data)
    assert expected.startswith(b"line,name,number,designation,H,G,M,w,Omega,i,n,a,q,e,Tp,epoch,center,note\n")
    assert _module(data=data) == (0, expected, "5 records written.\n")
    assert _module(EXAMPLE) == (0, expected, "5 records written.\n")
    target = tmp_path / "elements.csv"
    assert _module(EXAMPLE, target, "ignored") == (0, b"", "5 records written.\n")
    assert target.read_bytes() == expected
    # The program's messages and status, and nothing written.
    missing = tmp_path / "missing.txt"
    assert _module(missing, target) == (2, b"", f"Cannot open input file {missing}\n")
    assert _module(target, target) == (2, b"", f"Output file {target} is the input file\n")
    assert target.read_bytes() == expected
    assert _module(EXAMPLE, tmp_path) == (2, b"", f"Cannot open output file {tmp_path}\n")
    status, _, message = _module(EXAMPLE, "/dev/full")
    assert (status, message) == (2, "Cannot write output file /dev/full\n")


def test_the_command_writes_the_astropy_table_as_ecsv(tmp_path):
    QTable = pytest.importorskip("astropy.table").QTable
    target = tmp_path / "elements.ecsv"
    assert _module("--ecsv", EXAMPLE, target) == (0, b"", "5 records written.\n")
    table = QTable.read(target, format="ascii.ecsv")
    assert table.colnames == orbitcsv.COLUMNS and str(table["a"].unit) == "AU" and table["Tp"][2].mjd == 61340.73412
    status, written, message = _module("--ecsv", data=EXAMPLE.read_bytes())
    assert (status, message) == (0, "5 records written.\n") and written == target.read_bytes()
    assert _module("--ecsv", target, target)[::2] == (2, f"Output file {target} is the input file\n")


def test_the_readmes_python_examples_run_from_a_clone(tmp_path, monkeypatch, capsys):
    pytest.importorskip("astropy")
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    examples = re.findall(r"^```python\n(.*?)^```$", readme, re.DOTALL | re.MULTILINE)
    (tmp_path / "examples").mkdir()
    shutil.copy(EXAMPLE, tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    for code in examples:
        exec(compile(code, "README.md", "exec"), {})
    assert (tmp_path / "circular.csv").read_bytes() == native(EXAMPLE.read_bytes())
    assert (tmp_path / "circular-elements.csv").read_bytes() == orbitcsv.convert_elements(EXAMPLE)
    assert capsys.readouterr().out.startswith("Eros 1.4579614\n")
