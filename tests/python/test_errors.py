# Failures carry the program's messages as OSErrors of the standard kinds; a file object's own
# errors pass through; nothing is written that the program would not write.
import errno
import io
import os
import re
import subprocess
import sys
import threading

import orbitcsv
import pytest

from conftest import EROS, native

BLOCKS = b"\n".join(EROS * 2000) + b"\n"
CALLS = [
    lambda source: orbitcsv.convert(source),
    lambda source: list(orbitcsv.records(source)),
    lambda source: orbitcsv.read_frame(source),
]


@pytest.mark.parametrize("call", CALLS)
def test_an_input_that_cannot_be_opened(call, tmp_path):
    missing = tmp_path / "missing.txt"
    with pytest.raises(FileNotFoundError, match=f"^Cannot open input file {re.escape(str(missing))}$") as raised:
        call(missing)
    assert raised.value.errno == errno.ENOENT
    with pytest.raises(IsADirectoryError, match=f"^Cannot open input file {re.escape(str(tmp_path))}$"):
        call(str(tmp_path))
    if os.geteuid() != 0:  # root reads anything
        locked = tmp_path / "locked.txt"
        locked.write_bytes(BLOCKS)
        locked.chmod(0)
        with pytest.raises(PermissionError, match="^Cannot open input file "):
            call(locked)


class FailingReader(io.RawIOBase):
    """Gives its bytes, then raises `error` instead of the rest."""

    def __init__(self, data, fail_at, error):
        self._data, self._at, self._fail_at, self._error = data, 0, fail_at, error
        self.name = "observations.txt"

    def readable(self):
        return True

    def readinto(self, buffer):
        if self._at >= self._fail_at:
            raise self._error
        count = min(len(buffer), self._fail_at - self._at)
        buffer[:count] = self._data[self._at : self._at + count]
        self._at += count
        return count


@pytest.mark.parametrize("call", CALLS)
def test_reading_that_fails_part_way(call):
    failure = OSError(errno.EIO, "Input/output error")
    with pytest.raises(OSError, match="^Cannot read input file observations.txt$") as raised:
        call(FailingReader(BLOCKS, 100000, failure))
    assert raised.value.errno == errno.EIO and raised.value.__cause__ is failure
    # Any other error of the file object's own passes through as it is.
    own = ValueError("the reader's own")
    with pytest.raises(ValueError) as raised:
        call(FailingReader(BLOCKS, 100000, own))
    assert raised.value is own


def test_the_rows_before_a_read_failure_stay_in_the_target(tmp_path):
    target = tmp_path / "out.csv"
    with pytest.raises(OSError, match="^Cannot read input file observations.txt$"):
        orbitcsv.convert(FailingReader(BLOCKS, 300000, OSError(errno.EIO, "gone")), target)
    written = target.read_bytes()
    assert written.endswith(b"\n") and native(BLOCKS).startswith(written) and written.count(b"\n") > 100


def test_standard_input_is_named_as_the_program_names_it():
    failing = FailingReader(BLOCKS, 10, OSError(errno.EIO, "gone"))
    failing.name = "<stdin>"
    with pytest.raises(OSError, match="^Cannot read standard input$"):
        orbitcsv.convert(failing)


def test_targets_that_cannot_be_written(tmp_path):
    source = tmp_path / "input.txt"
    source.write_bytes(BLOCKS)
    folder = tmp_path / "no such folder"
    with pytest.raises(FileNotFoundError, match=f"^Cannot open output file {re.escape(str(folder / 'out.csv'))}$"):
        orbitcsv.convert(source, folder / "out.csv")
    assert not folder.exists()
    # The input is never the output, whatever names it.
    os.link(source, tmp_path / "link.txt")
    for same in [source, str(source), tmp_path / "link.txt"]:
        with pytest.raises(OSError, match=f"^Output file {re.escape(str(same))} is the input file$"):
            orbitcsv.convert(source, same)
    assert source.read_bytes() == BLOCKS
    if os.path.exists("/dev/full"):
        with pytest.raises(OSError, match="^Cannot write output file /dev/full$"):
            orbitcsv.convert(source, "/dev/full")


def test_the_target_is_not_opened_when_the_input_cannot_be(tmp_path):
    target = tmp_path / "out.csv"
    target.write_bytes(b"kept")
    with pytest.raises(FileNotFoundError):
        orbitcsv.convert(tmp_path / "missing.txt", target)
    assert target.read_bytes() == b"kept"


def test_a_target_file_object_that_fails():
    class Full(io.RawIOBase):
        name = "full.csv"

        def writable(self):
            return True

        def write(self, data):
            raise OSError(errno.ENOSPC, "No space left on device")

    with pytest.raises(OSError, match="^Cannot write output file full.csv$") as raised:
        orbitcsv.convert(BLOCKS, Full())
    assert raised.value.errno == errno.ENOSPC


@pytest.mark.parametrize("source", [12, 1.5, None, ["text"], io.StringIO("text")])
def test_sources_of_other_types(source):
    with pytest.raises(TypeError):
        orbitcsv.convert(source)


def test_pandas_and_astropy_are_imported_only_when_asked_for():
    code = (
        "import sys, orbitcsv; orbitcsv.convert(b''); list(orbitcsv.records(b''));"
        "assert 'pandas' not in sys.modules and 'astropy' not in sys.modules, sorted(sys.modules)\n"
        "sys.modules['astropy'] = None\n"
        "try:\n    orbitcsv.read_table(b'')\nexcept ImportError as error:\n    print(error)\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert "read_table needs astropy: pip install astropy" in run.stdout


def test_the_gil_is_let_go_while_the_core_converts():
    data = b"\n".join(EROS * 300000) + b"\n"
    started, done = threading.Event(), threading.Event()

    def convert():
        started.set()
        orbitcsv.convert(data)
        done.set()

    worker = threading.Thread(target=convert)
    worker.start()
    started.wait()
    # Held throughout, the GIL would keep this thread waiting until the conversion ends.
    turns = 0
    while not done.is_set():
        turns += 1
    worker.join()
    assert turns > 1000
