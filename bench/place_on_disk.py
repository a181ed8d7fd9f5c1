#!/usr/bin/python3
"""How your place survives the program's end, measured on the real program.

Run it as the tests run (a private home, offscreen Qt, the private null sink):

    scripts/with-test-sink.sh /usr/bin/python3 bench/place_on_disk.py writes build/narrabel
    scripts/with-test-sink.sh /usr/bin/python3 bench/place_on_disk.py ends build/narrabel

writes: the program plays a long book with 5,000 places kept (the most the
    places file holds); the bytes it writes while it plays are read from
    /proc/PID/io over two minutes of listening: write_bytes (what reaches the
    disk, counted a page at a time) and wchar (what the program hands to
    write calls). Give the program of another version to compare.
ends: the program plays a long book from a random place and is ended at a
    random moment, by SIGKILL or by SIGTERM (a logout), TRIALS times each; then
    a new start reads what was left. For each end: how old the place on disk
    was (the time since the places log was last written), and how far behind
    where listening stood Resume then starts (the resume point keeps its
    designed 2.5 s lead). Worst and median of each.
"""

import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

BOOK_SECONDS = 1800


def make_book(folder):
    path = os.path.join(folder, "long book.mp3")
    if not os.path.exists(path):
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        f"sine=frequency=220:duration={BOOK_SECONDS}", "-b:a", "32k", path],
                       check=True)
    return path


class Home:
    """A home of its own: documents folder, data folder and the program's environment."""

    def __init__(self, root, name):
        self.path = os.path.join(root, name)
        shutil.rmtree(self.path, ignore_errors=True)
        self.data = os.path.join(self.path, "Documents", "Narrabel")
        os.makedirs(self.data)
        self.env = dict(os.environ, HOME=self.path, QT_QPA_PLATFORM="offscreen",
                        XDG_CONFIG_HOME=os.path.join(self.path, ".config"),
                        XDG_DATA_HOME=os.path.join(self.path, ".local", "share"),
                        DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus")

    def file(self, name):
        return os.path.join(self.data, name)

    def start(self, program, args):
        return subprocess.Popen([program] + args, env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)


def log_records(path):
    """The whole records of a places log: (position, path), oldest first."""
    records = []
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return records
    for line in data.split(b"\n"):
        if not line.endswith(b"\r"):
            break
        line = line[:-1]
        crc, _, body = line.partition(b"\t")
        if len(crc) != 8 or int(crc, 16) != zlib.crc32(body):
            break
        position, _, rest = body.partition(b"\t")
        records.append((int(position), rest.partition(b"\t")[2].decode()))
    return records


def read_io(pid):
    values = {}
    with open(f"/proc/{pid}/io") as f:
        for line in f:
            key, _, value = line.partition(":")
            values[key] = int(value)
    return values


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def writes(args, root, book):
    home = Home(root, "writes")
    # 5,000 places, paths as long as a real library's.
    with open(home.file("Narrabel.places"), "wb") as f:
        for i in range(5000):
            f.write(f"{i * 1000}\t2024-01-02T03:04:05\t/home/listener/Audiobooks/Author {i % 300}/"
                    f"Book {i % 40}/CD{i % 9 + 1}/Part {i:04d} - A Title Of Some Length.mp3"
                    "\r\n".encode())
    size = os.path.getsize(home.file("Narrabel.places"))
    process = home.start(args.program, [book, "60000"])
    try:
        # Start-up and the first seconds of playing are not listening yet.
        time.sleep(args.settle)
        if process.poll() is not None:
            sys.exit("the program ended: " + process.stderr.read().decode())
        first = read_io(process.pid)
        time.sleep(args.seconds)
        last = read_io(process.pid)
    finally:
        stop(process)
    minutes = args.seconds / 60
    disk = (last["write_bytes"] - first["write_bytes"]) / minutes
    calls = (last["wchar"] - first["wchar"]) / minutes
    print(f"{args.program}: places file {size} bytes; over {args.seconds:.0f} s of listening: "
          f"{disk / 1024:.1f} KiB to the disk per minute (write_bytes), "
          f"{calls / 1024:.1f} KiB through write calls per minute (wchar)")


def ends(args, root, book):
    rng = random.Random(args.seed)
    print(f"seed {args.seed}")
    results = {"SIGKILL": [], "SIGTERM": []}
    for trial in range(args.trials):
        for name, sig in (("SIGKILL", signal.SIGKILL), ("SIGTERM", signal.SIGTERM)):
            home = Home(root, f"ends-{name}")
            log = home.file("Narrabel.places-log")
            start = rng.randrange(0, (BOOK_SECONDS - 120) * 1000)
            process = home.start(args.program, [book, str(start)])
            if not wait_for(lambda: log_records(log), 30):
                stop(process)
                sys.exit("the program never noted a place: " + process.stderr.read().decode())
            time.sleep(rng.uniform(1.0, args.longest))
            records = log_records(log)
            written = os.stat(log).st_mtime_ns / 1e9
            ended = time.time()
            process.send_signal(sig)
            process.wait(30)
            if sig == signal.SIGKILL:
                records = log_records(log)  # an append may have come meanwhile
                written = os.stat(log).st_mtime_ns / 1e9
            # Where listening stood: the last place noted, and the time since.
            stood = records[-1][0] + (ended - written) * 1000
            # A new start reads what was left (and folds the log); Resume goes to the
            # resume point.
            again = home.start(args.program, [])
            wait_for(lambda: not os.path.exists(log), 30)
            time.sleep(0.5)
            stop(again)
            with open(home.file("Narrabel.rsm"), "rb") as f:
                resume = int(f.read().split(b"\r\n")[1])
            results[name].append((ended - written, (stood - resume) / 1000))
            print(f"{name:7} trial {trial + 1:2}: the place on disk was {ended - written:5.2f} s "
                  f"old; Resume starts {(stood - resume) / 1000:5.2f} s before where listening "
                  f"stood")
    for name, rows in results.items():
        ages = [r[0] for r in rows]
        behind = [r[1] for r in rows]
        print(f"{name}: {len(rows)} ends; age of the place on disk: worst {max(ages):.2f} s, "
              f"median {statistics.median(ages):.2f} s; Resume behind where listening stood: "
              f"worst {max(behind):.2f} s, median {statistics.median(behind):.2f} s "
              f"(2.5 s of it the resume point's lead)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["writes", "ends"])
    parser.add_argument("program")
    parser.add_argument("--seconds", type=float, default=120, help="writes: listening measured")
    parser.add_argument("--settle", type=float, default=15, help="writes: start-up left out")
    parser.add_argument("--trials", type=int, default=20, help="ends: of each kind")
    parser.add_argument("--longest", type=float, default=20, help="ends: longest wait")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    # On a real disk: tmpfs writes never reach a storage layer to be counted.
    root = tempfile.mkdtemp(prefix="narrabel-place-", dir="/var/tmp")
    try:
        book = make_book(root)
        (writes if args.what == "writes" else ends)(args, root, book)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
