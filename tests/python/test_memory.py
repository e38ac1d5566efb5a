# records() reads in constant memory: 256 MiB of element blocks, made as they are read, go
# through it with the peak resident memory of the process all but unmoved.
import subprocess
import sys

from conftest import ROOT

CHECK = r"""
import resource, sys
import orbitcsv

BLOCK = b"(433) Eros\nEpoch 2026 Dec. 17.0 TT = JDT 2461026.5\nM 197.25843\nn 0.55\na   1.4579614      Node   304.28871\ne   0.2228350      Incl.  10.82780\nP   3.62           H   11.16       G   0.46\n"

class Generated:
    # 256 MiB of blocks, never held whole.
    def __init__(self, size):
        self.left = size
        self.piece = BLOCK * (1 << 20 // len(BLOCK))

    def readinto(self, buffer):
        count = min(len(buffer), len(self.piece), self.left)
        buffer[:count] = self.piece[:count]
        self.left -= count
        return count

def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

rows = orbitcsv.records(Generated(16 << 20))
sum(1 for _ in rows)
before = peak()
count = sum(1 for _ in orbitcsv.records(Generated(256 << 20)))
print(count, peak() - before)
"""


def test_records_read_256_mib_in_constant_memory():
    run = subprocess.run([sys.executable, "-c", CHECK], capture_output=True, text=True, check=True, cwd=ROOT)
    rows, growth = map(int, run.stdout.split())
    assert rows > 1_400_000
    assert growth < 16 << 20, f"the peak grew by {growth} bytes"
