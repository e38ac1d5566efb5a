"""The Python module's speed and memory against the program and against what a user writes today.

    python3 bench/python.py ORBITCSV_PROGRAM FILE...   (bench/run passes its inputs; the module
                                                        must be importable, as PYTHONPATH gives it)

For each file, in turn and ORBITCSV_BENCH_ROUNDS times (default 3) after a warm-up, each in a
process of its own with its modules imported before the clock starts:
  native:     orbitcsv FILE > /dev/null
  read_frame: orbitcsv.read_frame(FILE)
  peer:       orbitcsv FILE | pandas.read_csv, value columns made numbers (pandas.to_numeric)
  records:    every orbitcsv.records(FILE) iterated
  convert:    orbitcsv.convert(FILE), the table as bytes
Prints the medians with MB/s, the ratio to the native program and to the peer, and the peak
resident memory each added to its process (the largest over the rounds); for read_frame also the
frame's own size (DataFrame.memory_usage(deep=True)). Last, what a first touch of fresh memory
costs on this machine, which a table of hundreds of megabytes pays in full.
"""

import json
import os
import statistics
import subprocess
import sys
import time

ROUNDS = int(os.environ.get("ORBITCSV_BENCH_ROUNDS", "3"))
VALUE_COLUMNS = ["Magnitude H", "Magnitude G", "Mean anomaly", "Arg. perihelion", "Long. node", "Inclination",
                 "Eccentricity", "Semimajor axis", "Epoch (MJD)"]

# Run in a process of its own: imports, then the timed call; prints seconds, the peak resident
# memory added by the call, and what it made.
CHILD = r"""
import json, resource, subprocess, sys, time
import orbitcsv, pandas
what, program, path = sys.argv[1:4]
def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
before = peak()
frame_bytes = 0
started = time.perf_counter()
if what == "read_frame":
    frame = orbitcsv.read_frame(path)
    made = len(frame)
elif what == "peer":
    run = subprocess.Popen([program, path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    frame = pandas.read_csv(run.stdout)
    run.wait()
    for column in VALUE_COLUMNS:
        frame[column] = pandas.to_numeric(frame[column], errors="coerce")
    made = len(frame)
elif what == "records":
    made = sum(1 for _ in orbitcsv.records(path))
elif what == "convert":
    made = len(orbitcsv.convert(path))
seconds = time.perf_counter() - started
if what == "read_frame":
    frame_bytes = int(frame.memory_usage(deep=True).sum())
print(json.dumps({"seconds": seconds, "peak": peak() - before, "made": made, "frame": frame_bytes}))
""".replace("VALUE_COLUMNS", repr(VALUE_COLUMNS))

TOUCH = r"""
import time, numpy
count = 256 << 17  # 256 MiB of doubles
started = time.perf_counter()
numpy.ones(count)
print(time.perf_counter() - started)
"""


def child(what, program, path):
    run = subprocess.run([sys.executable, "-c", CHILD, what, program, path], capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def native(program, path):
    started = time.perf_counter()
    with open(os.devnull, "wb") as nowhere:
        subprocess.run([program, path], stdout=nowhere, stderr=subprocess.DEVNULL, check=True)
    return {"seconds": time.perf_counter() - started, "peak": 0, "made": 0, "frame": 0}


def mib(value):
    return f"{value / 2**20:.1f} MiB"


def main():
    program, *files = sys.argv[1:]
    ways = ["native", "read_frame", "peer", "records", "convert"]
    print(f"The Python module (orbitcsv {__import__('orbitcsv').__version__}, Python {sys.version.split()[0]}, "
          f"pandas {__import__('pandas').__version__}), {ROUNDS} rounds in turn after a warm-up, files in the page cache")
    print()
    print(f"{'input':16} {'way':11} {'seconds':>8} {'MB/s':>6} {'/native':>8} {'/peer':>6} {'peak added':>11}  made")
    for path in files:
        size = os.path.getsize(path)
        with open(path, "rb") as warm:
            while warm.read(1 << 24):
                pass
        results = {way: [] for way in ways}
        for round_ in range(ROUNDS + 1):
            for way in ways:
                result = native(program, path) if way == "native" else child(way, program, path)
                if round_ > 0:
                    results[way].append(result)
        seconds = {way: statistics.median(r["seconds"] for r in runs) for way, runs in results.items()}
        for way in ways:
            runs = results[way]
            peak = max(r["peak"] for r in runs)
            made = runs[-1]["made"]
            note = ""
            if way == "read_frame":
                frame = runs[-1]["frame"]
                note = f"{made} rows; the frame {mib(frame)}, the peak {mib(peak - frame)} beyond it"
            elif way == "peer":
                note = f"{made} rows"
            elif way == "records":
                note = f"{made} records"
            elif way == "convert":
                note = f"{made} bytes"
            print(f"{os.path.basename(path):16} {way:11} {seconds[way]:8.3f} {size / seconds[way] / 1e6:6.0f}"
                  f" {seconds[way] / seconds['native']:8.2f} {seconds[way] / seconds['peer']:6.2f}"
                  f" {mib(peak) if way != 'native' else '':>11}  {note}")
    touch = statistics.median(float(subprocess.run([sys.executable, "-c", TOUCH], capture_output=True, text=True,
                                                   check=True).stdout) for _ in range(3))
    print()
    print(f"A first touch of fresh memory here: {touch / 256 * 1000:.2f} ms a MiB (numpy.ones of 256 MiB, median of 3)")


if __name__ == "__main__":
    main()
