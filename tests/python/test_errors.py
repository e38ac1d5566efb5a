# Failures carry the program's messages as OSErrors of the standard kinds; a file object's own
# errors pass through; nothing is written that the program would not write.
import errno
import gzip
import io
import json
import os
import pickle
import re
import subprocess
import sys
import threading

import orbitcsv
import pytest

from conftest import EROS, EXAMPLE, native

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
    with pytest.raises(orbitcsv.ReadError, match="^Cannot read input file observations.txt$") as raised:
        call(FailingReader(BLOCKS, 100000, failure))
    error = raised.value
    assert isinstance(error, OSError) and error.__cause__ is failure
    assert (error.errno, error.strerror, error.filename) == (errno.EIO, "Input/output error", "observations.txt")
    kept = pickle.loads(pickle.dumps(error))
    assert (type(kept), str(kept), kept.errno, kept.filename) == (orbitcsv.ReadError, str(error), errno.EIO, "observations.txt")
    # A file the module reads itself fails with the system's reason (reading a process's memory
    # from its start gives EIO on Linux).
    if os.path.exists("/proc/self/mem"):
        for source in ["/proc/self/mem", open("/proc/self/mem", "rb")]:
            with pytest.raises(orbitcsv.ReadError, match="^Cannot read input file /proc/self/mem$") as raised:
                call(source)
            error = raised.value
            assert (error.errno, error.strerror, error.filename) == (errno.EIO, os.strerror(errno.EIO), "/proc/self/mem")
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
    with pytest.raises(orbitcsv.ReadError, match="^Cannot read standard input$") as raised:
        orbitcsv.convert(failing)
    assert raised.value.filename is None and raised.value.errno == errno.EIO


def test_targets_that_cannot_be_written(tmp_path):
    source = tmp_path / "input.txt"
    source.write_bytes(BLOCKS)
    folder = tmp_path / "no such folder"
    with pytest.raises(FileNotFoundError, match=f"^Cannot open output file {re.escape(str(folder / 'out.csv'))}$"):
        orbitcsv.convert(source, folder / "out.csv")
    assert not folder.exists()
    if os.path.exists("/dev/full"):
        for target in ["/dev/full", open("/dev/full", "wb")]:
            with pytest.raises(orbitcsv.WriteError, match="^Cannot write output file /dev/full$") as raised:
                orbitcsv.convert(source, target)
            error = raised.value
            assert (error.errno, error.strerror, error.filename) == (errno.ENOSPC, os.strerror(errno.ENOSPC), "/dev/full")


# Each way of naming the input file as the target: (source, target) made from the file's path.
SAME_FILE = {
    "the same name": (str, str),
    "a path": (lambda path: path, str),
    "a hard link": (str, lambda path: _link(path, os.link)),
    "a symbolic link": (str, lambda path: _link(path, os.symlink)),
    "a file object read, its name": (lambda path: open(path, "rb"), str),
    "an unbuffered file object read": (lambda path: open(path, "rb", buffering=0), str),
    "a file object read, a file object appended to": (lambda path: open(path, "rb"), lambda path: open(path, "ab")),
    "its name, a file object written in place": (str, lambda path: open(path, "r+b")),
    "gzip.open, the compressed file's name": (lambda path: gzip.open(str(path) + ".gz"), lambda path: _gzipped(path)),
}


def _link(path, make):
    link = path.with_name(path.name + "." + make.__name__)
    make(path, link)
    return link


def _gzipped(path):
    compressed = str(path) + ".gz"
    with gzip.open(compressed, "wb") as out:
        out.write(path.read_bytes())
    return compressed


@pytest.mark.parametrize("form", SAME_FILE)
@pytest.mark.parametrize("write", [orbitcsv.convert, orbitcsv.convert_elements])
def test_the_input_file_is_never_the_output(form, write, tmp_path):
    victim = tmp_path / "victim.txt"
    victim.write_bytes(BLOCKS)
    make_source, make_target = SAME_FILE[form]
    target = make_target(victim)
    files = sorted(tmp_path.iterdir())
    kept = {path: path.read_bytes() for path in files}
    source = make_source(victim)
    name = target.name if hasattr(target, "write") else target
    with pytest.raises(OSError, match=f"^Output file {re.escape(str(name))} is the input file$"):
        write(source, target)
    for opened in (source, target):
        if hasattr(opened, "close"):
            opened.close()
    assert sorted(tmp_path.iterdir()) == files and {path: path.read_bytes() for path in files} == kept
    # Devices and pipes are no files on disk that writing could destroy.
    assert write("/dev/null", "/dev/null") == 0


TEXT_GIVEN_AS_NAME = [EXAMPLE.read_text(encoding="utf-8"), "(433) Eros\r\nEpoch", "observations\0.txt", "x" * 70000]


@pytest.mark.parametrize("text", TEXT_GIVEN_AS_NAME, ids=["a file's text", "lines", "a zero byte", "longer than a path"])
@pytest.mark.parametrize("call", [*CALLS, lambda source: orbitcsv.read_table(source)])
def test_text_given_as_a_str_is_refused_with_what_to_do(call, text):
    with pytest.raises(TypeError, match=r"reads a file name, bytes or a binary file.*pass text\.encode\(\)$"):
        call(text)


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

    with pytest.raises(orbitcsv.WriteError, match="^Cannot write output file full.csv$") as raised:
        orbitcsv.convert(BLOCKS, Full())
    error = raised.value
    assert (error.errno, error.strerror, error.filename) == (errno.ENOSPC, "No space left on device", "full.csv")


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


# Run in a process of its own, each call interrupted half a second into reading a source that
# never ends: it prints, for each, how long the KeyboardInterrupt took to arrive, how many
# descriptors it left open and what a named target held.
INTERRUPTED = r"""
import json, os, signal, sys, threading, time
import orbitcsv
# Loaded now, so that each signal lands in a call's reading rather than in a first import.
import astropy.table, astropy.time, astropy.units, astropy.utils.masked, numpy, pandas

fifo, target, blocks = sys.argv[1], sys.argv[2], sys.argv[3].encode()
writer = os.open(fifo, os.O_RDWR)  # held open for writing: the FIFO's reader waits for more
calls = {
    "convert": orbitcsv.convert,
    "convert to a file": lambda source: orbitcsv.convert(source, target),
    "records": lambda source: list(orbitcsv.records(source)),
    "read_frame": orbitcsv.read_frame,
    "read_table": orbitcsv.read_table,
}
sources = {
    "/dev/zero": lambda: "/dev/zero",
    "a FIFO": lambda: fifo,
    "open('/dev/zero', 'rb')": lambda: open("/dev/zero", "rb"),
    "open(FIFO, 'rb')": lambda: open(fifo, "rb"),
}


class HandlersOwn(Exception):
    pass


def raise_own(number, frame):
    raise HandlersOwn()


signal.signal(signal.SIGUSR1, raise_own)
results = []
for signal_number, raised in [(signal.SIGINT, KeyboardInterrupt), (signal.SIGUSR1, HandlersOwn)]:
    for call_name, call in calls.items():
        for source_name, make in sources.items():
            if "FIFO" in source_name:
                os.write(writer, blocks)
            open_before = len(os.listdir("/proc/self/fd"))
            source = make()
            sent = []

            def interrupt():
                time.sleep(0.5)
                sent.append(time.monotonic())
                os.kill(os.getpid(), signal_number)

            timer = threading.Thread(target=interrupt)
            timer.start()
            try:
                call(source)
                delay = None
            except raised:
                delay = time.monotonic() - sent[0]
            timer.join()
            if not isinstance(source, str):
                source.close()
            held = open(target, "rb").read().decode() if call_name == "convert to a file" else None
            left_open = len(os.listdir("/proc/self/fd")) - open_before
            results.append([signal.Signals(signal_number).name, call_name, source_name, delay, left_open, held])
print(json.dumps(results))
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/fd") or not hasattr(os, "mkfifo"), reason="needs Linux's /proc and FIFOs")
def test_a_signal_stops_every_call_within_a_tenth_of_a_second(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    target = tmp_path / "out.csv"
    blocks = b"\n".join(EROS * 2) + b"\n"
    run = subprocess.run([sys.executable, "-c", INTERRUPTED, str(fifo), str(target), blocks.decode()],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    results = json.loads(run.stdout)
    assert len(results) == 2 * 5 * 4
    late = [result[:4] for result in results if result[3] is None or result[3] >= 0.1]
    assert not late, late
    assert not [result[:3] for result in results if result[4] != 0], "descriptors left open"
    # A named target keeps the rows written before the signal, as whole lines.
    header = native(b"").decode()
    for signal_name, call, source, _, _, held in results:
        if call == "convert to a file":
            assert held == (native(blocks).decode() if "FIFO" in source else header), (signal_name, source)
