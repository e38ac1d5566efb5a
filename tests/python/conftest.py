# What the module's tests share: the program to hold the module to, and inputs of every kind the
# scanner tells apart, made the same way on every run.
import csv
import io
import os
import random
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "circular.txt"

EROS = [
    b"(433) Eros",
    b"Epoch 2026 Dec. 17.0 TT = JDT 2461026.5",
    b"M 197.25843                    (2000.0)             P               Q",
    b"n   0.55976121     Peri.  178.88312    +0.41273645     -0.90984721",
    b"a   1.4579614      Node   304.28871    +0.85203301     +0.38772165",
    b"e   0.2228350      Incl.  10.82780     +0.32197486     +0.14762093",
    b"P   3.62           H   11.16       G   0.46      U     2",
]
COMET = [
    b"C/2026 K4 (Marlowe)",
    b"Epoch 2026 Dec. 17.0 TT = JDT 2461026.5",
    b"T                 2026 Oct. 27.73412 TT                        MPC",
    b"q   0.3914560      Peri.  308.49213",
    b"z  -0.0004811      Node    21.55871    Residuals from 412 observations",
    b"e   0.9001883      Incl.  139.11275        2026 Jan. 9 - Nov. 27",
    b"P                  H   13.2        G   4.0",
]


# Taken at the start, so that a relative name still holds in a test that changes directory.
PROGRAM = os.path.abspath(os.environ.get("ORBITCSV_PROGRAM", str(ROOT / "build" / "release" / "orbitcsv")))


def program():
    """The orbitcsv program the module is held to."""
    path = PROGRAM
    if not os.access(path, os.X_OK):
        pytest.skip(f"no orbitcsv program at {path} (set ORBITCSV_PROGRAM)")
    return path


def native(data):
    """The program's table of `data` (bytes), read from standard input."""
    return subprocess.run([program()], input=data, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout


def table_rows(table):
    """The rows of a table, each its fields as text (bytes that are not UTF-8 as surrogates)."""
    text = table.decode("utf-8", "surrogateescape")
    return list(csv.reader(io.StringIO(text, newline="")))[1:]


def block(designation, *, lines=EROS):
    return [designation, *lines[1:]]


def _random_line(pick):
    """A line of one of the kinds the scanner tells apart."""
    kind = pick.randrange(17)
    if kind == 0:
        return pick.choice([b"(433) Eros", b"(1) Ceres", b"2026 WQ7", b"C/2026 K4 (Marlowe)", b'(4179) Toutatis, "revised"',
                            b"( 433 )", b"Eros (433)", b"(11021) Foder\xc3\xa0", b"\xef\xbb\xbf2026 WQ7", b"=HYPERLINK(1)",
                            b"(7) Iris\xff\xfe", b"(99999999999999999999) Long"])
    if kind in (1, 2):
        return pick.choice([EROS[1], b"Epoch 2026 Dec. 17.0 TT = JDT 2461026.25", b"Epoch JDT=TT", b"Epoch TT = JDT",
                            b"Epoch 2026 TT = JDT -1e3", b"Epoch TT = JDT 1D5", b"Epoch 2026 TT = JD 1", b"epoch 2026 TT = JDT 1",
                            b"Epoch\t2026 TT = JDT 1", b"Epoch 2026 TT = JDT 24%d.%s" % (pick.randrange(100000), pick.choice([b"5", b"0", b"25"]))])
    if kind in (3, 4, 5, 6):
        return pick.choice(EROS[2:] + COMET[2:])
    if kind == 7:
        return pick.choice([b"Id. 1898 DQ", b"Id", b"Ida"])
    if kind == 8:
        return pick.choice([b"", b" ", b"\t", b"\x1a", b"\r"])
    if kind == 9:
        return b"x" * pick.choice([129, 130, 131, 132, 200, 262, 263, 400])
    if kind == 10:
        return b"Observations of the night, with residuals:  0.1-  0.2+"
    if kind == 11:
        return b"z\0" + pick.choice(EROS)
    if kind == 12:
        return pick.choice(EROS)[: pick.randrange(60)]
    if kind == 13:
        return bytes(pick.randrange(256) for _ in range(pick.randrange(40)))
    if kind == 14:
        return pick.choice(EROS[2:])[:20] + b',"' + pick.choice([b"", b'"', b",", b"\r"])
    if kind == 15:
        value = pick.choice([b"0e400", b"-0e999", b"1e-5", b"-0", b".5", b"5.", b"1.5E+3", b"+7", b"4e38", b"x1", b"+-1", b"1e",
                             b"e5", b".", b"1.2.3", b"9999999999999999", b"1e400", b"-1e-400", b"0.1000000000000000055"]).ljust(11)
        return pick.choice([b"a   %s    Node   304.28871" % value, b"e   %s    Incl.  %s" % (value, value),
                            b"P   3.62           H   %s G   %s" % (value, value)])
    return b"(%d) %s" % (pick.randrange(100000), pick.choice([b"Vesta", b"Halvorsen", b"Ito", b"Jos\xc3\xa9"]))


def random_inputs(count, seed=2026):
    """`count` inputs of blocks among every kind of line, with LF or CR LF line ends."""
    pick = random.Random(seed)
    inputs = []
    for _ in range(count):
        lines = []
        for _ in range(pick.randrange(60)):
            if pick.randrange(4) == 0:
                lines += block(pick.choice([EROS[0], _random_line(pick)]), lines=pick.choice([EROS, EROS, COMET]))
            else:
                lines.append(_random_line(pick))
        end = pick.choice([b"\n", b"\n", b"\n", b"\r\n"])
        text = end.join(lines)
        if pick.randrange(3):
            text += end
        inputs.append(text)
    return inputs


def element_list(blocks, line_end=b"\n"):
    """Blocks one after another, as orbit computations print them."""
    lines = []
    for k in range(blocks):
        lines += [b"(%d) Minor %d" % (k + 1, k), b"Epoch 2026 Dec. 17.0 TT = JDT 24610%02d.5" % (k % 100), *EROS[2:]]
    return line_end.join(lines) + line_end


def corpus_inputs():
    """The fuzz corpora and the example."""
    files = [EXAMPLE, *sorted((ROOT / "fuzz" / "corpus").glob("*/*"))]
    return [(str(path.relative_to(ROOT)), path.read_bytes()) for path in files]


class ShortReads:
    """A binary file object over bytes with only read(), which gives at most the sizes asked for,
    in turn (the last over and over)."""

    def __init__(self, data, sizes):
        self._data = memoryview(data)
        self._sizes = sizes
        self._at = 0
        self._reads = 0
        self.name = "short reads"

    def _next_size(self, wanted):
        size = self._sizes[min(self._reads, len(self._sizes) - 1)]
        self._reads += 1
        return min(wanted, size, len(self._data) - self._at)

    def read(self, size=-1):
        count = self._next_size(size if size >= 0 else len(self._data))
        chunk = bytes(self._data[self._at : self._at + count])
        self._at += count
        return chunk


class ShortReadsInto(ShortReads):
    """The same with readinto(), as raw files have."""

    def readinto(self, buffer):
        count = self._next_size(len(buffer))
        buffer[:count] = self._data[self._at : self._at + count]
        self._at += count
        return count


@pytest.fixture(scope="session")
def inputs():
    """(label, bytes) for at least 2,000 inputs."""
    made = corpus_inputs()
    made += [(f"random input {k}", data) for k, data in enumerate(random_inputs(2000))]
    made += [(f"element list of {n}", element_list(n, end)) for n, end in [(1, b"\n"), (700, b"\r\n"), (6000, b"\n")]]
    made += [("long lines", b"\n".join([b"y" * 300, *EROS, b"z" * 131, *EROS]) + b"\n")]
    return made
