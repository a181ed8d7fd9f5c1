#!/usr/bin/python3
"""The crash test.

Each write operation runs in a child process (crashdriver) under a preload
library that counts its write-like calls. A full run gives the count N; then,
for every K from 1 to N, the operation runs again and is killed before its
K-th call ("kill"), or has only half of that call's bytes land first ("cut",
a write torn by a power cut). After each trial the start-up recovery runs, and
every file must be whole: the store, the tree file, the state files and the
audio files are each as before the operation or as after it (consistently so),
no journal and no temporary file is left, and the tag reads (mutagen as an
independent reader) as the old or the new one over every audio byte in place.
An audio book saved on a new copy (M4B, Opus) is the old file or the new one,
byte for byte.
The places file and the resume point are each as a start after the run that
was killed leaves them, or as one after the whole operation does.

A kill cannot show a journal synced too late (the page cache survives it; a
power cut does not), so the full run of each operation also has the preload
library watch the order of calls: nothing else may change while a journal
has bytes that are not synced yet.
"""

import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from mutagen.id3 import ID3

STORE = "data/Narrabel.nbm"
TREE = "data/Narrabel.tv"
STATE = ["data/Narrabel.hst", "data/Narrabel.rsm", "data/Narrabel.nbh"]
PLACES = ["data/Narrabel.places", "data/Narrabel.rsm"]
LEFTOVER = re.compile(r"(-journal|\.journal|\.tmp|-log|^Narrabel\.[a-z]+\.[A-Za-z0-9]{6})$")

# (label, driver operation, where the audio files live, how they are checked)
CASES = [
    ("store add", "add", "disk", "store"),
    ("store delete", "delete", "disk", "store"),
    ("store rewrite of two records", "rewrite", "disk", "store"),
    ("store repoint", "repoint", "disk", "store"),
    ("store compact", "compact", "disk", "store"),
    ("store import", "import", "disk", "store"),
    ("tree save", "tree", "disk", "store"),
    ("state-file saves", "state", "disk", "store"),
    ("rename with repoint", "rename", "disk", "rename"),
    ("places log folded at start", "places-fold", "disk", "places"),
    ("places log: a place noted", "places-note", "disk", "places"),
    ("tag grow in place", "tag-grow", "disk", "tag"),
    ("tag shrink in place", "tag-shrink", "disk", "tag"),
    ("tag rewrite in place", "tag-same", "disk", "tag"),
    ("tag grow on tmpfs", "tag-grow", "tmpfs", "tag"),
    ("tag shrink on tmpfs", "tag-shrink", "tmpfs", "tag"),
    ("tag grow, unaligned length", "tag-grow-unaligned", "disk", "tag"),
    ("tag shrink, unaligned length", "tag-shrink-unaligned", "disk", "tag"),
    ("tag grow by narrabel-tag", "tag-grow-tool", "disk", "tag"),
    ("M4B tag save (new copy)", "tag-m4b", "disk", "book"),
    ("Opus tag save (new copy)", "tag-opus", "disk", "book"),
]


def snapshot(root, books):
    """The data folder and the audio folder as {"data/..." or "books/...": (bytes, mode)}.

    Every trial has folders of its own, all named with the same length, so the
    paths the files hold are masked to compare the files across trials."""
    files = {}
    masks = [(books.encode(), b"#" * len(books.encode())), (root.encode(), b"@" * len(root.encode()))]
    for base, prefix in ((os.path.join(root, "data"), "data/"), (books, "books/")):
        for folder, _, names in os.walk(base):
            for name in names:
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    data = f.read()
                if prefix == "data/":
                    for text, mask in masks:
                        data = data.replace(text, mask)
                files[prefix + os.path.relpath(path, base)] = (data, os.stat(path).st_mode & 0o7777)
    return files


def trial_name(what, k):
    """Folder names of one length, so that the paths stored in the files have one length."""
    return f"{what:_<4}-{k:06d}"


def tag_of(data):
    """(title, comment) as mutagen reads them, and where the audio starts."""
    with tempfile.NamedTemporaryFile(suffix=".mp3") as f:
        f.write(data)
        f.flush()
        tags = ID3(f.name)
    size = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    comments = tags.getall("COMM")
    return (str(tags["TIT2"].text[0]), comments[0].text[0] if comments else None), size


class Case:
    def __init__(self, args, label, op, where, kind, shm):
        self.args, self.label, self.op, self.kind = args, label, op, kind
        self.slug = re.sub(r"[^a-z0-9]+", "-", label.lower()).strip("-")
        self.root = os.path.join(args.work, self.slug)
        self.shm = os.path.join(shm, self.slug) if where == "tmpfs" else None
        self.tool = op.endswith("-tool")

    def dirs(self, name):
        root = os.path.join(self.root, name)
        books = os.path.join(self.shm, name) if self.shm else os.path.join(root, "books")
        for d in (root, books):
            shutil.rmtree(d, ignore_errors=True)
        os.makedirs(root)
        os.makedirs(books, exist_ok=True)
        return root, books

    def drive(self, verb, root, books, env=None):
        cmd = [self.args.driver, verb, self.op, root, books]
        return subprocess.run(cmd, env=env, capture_output=True, timeout=120)

    def copy_old(self, name):
        """A trial's folders as the set-up left the template's, its own paths put in."""
        root, books = self.dirs(name)
        shutil.rmtree(books)
        shutil.copytree(self.old_books, books)
        shutil.copytree(os.path.join(self.old_root, "data"), os.path.join(root, "data"))
        swaps = [(self.old_books.encode(), books.encode()), (self.old_root.encode(), root.encode())]
        for name in os.listdir(os.path.join(root, "data")):
            path = os.path.join(root, "data", name)
            with open(path, "rb") as f:
                data = f.read()
            changed = data
            for old, new in swaps:
                changed = changed.replace(old, new)
            if changed != data:
                with open(path, "wb") as f:
                    f.write(changed)
        return root, books

    def env(self, k, mode, report=None):
        env = dict(os.environ, LD_PRELOAD=self.args.preload, NARRABEL_FAULT_AT=str(k),
                   NARRABEL_FAULT_MODE=mode)
        if report:
            env["NARRABEL_FAULT_REPORT"] = report
        return env

    def prepare(self):
        root, books = self.dirs(trial_name("old", 0))
        r = self.drive("setup", root, books)
        if r.returncode != 0:
            raise RuntimeError(f"{self.label}: set-up failed: {r.stderr.decode()}")
        self.old = snapshot(root, books)
        self.old_root, self.old_books = root, books
        root, books = self.copy_old(trial_name("new", 0))
        report = os.path.join(self.root, "count")
        r = self.drive("op", root, books, self.env(0, "kill", report))
        if r.returncode != 0:
            raise RuntimeError(f"{self.label}: full run failed: {r.stderr.decode()}")
        with open(report) as f:
            lines = f.read().splitlines()
        self.calls = int(lines[0])
        self.order = [line[len("order: "):] for line in lines[1:] if line.startswith("order: ")]
        self.how = r.stdout.decode().strip()
        self.new = snapshot(root, books)
        if self.kind == "places":
            # What a start makes of each: the log folded in, the last place resumed.
            self.new_recovered = self.recovered(root, books)
            root, books = self.copy_old(trial_name("orec", 0))
            self.old_recovered = self.recovered(root, books)
            return
        for state in (self.old, self.new):
            self.check_names(state, [])
        if self.kind == "book":
            self.book = next(rel for rel in self.old if rel.startswith("books/"))
            if self.old[self.book] == self.new.get(self.book):
                raise RuntimeError(f"{self.label}: the full run did not save the new tag")
        if self.kind == "tag":
            self.old_tag, self.old_audio = self.tag_and_audio(self.old["books/t.mp3"][0])
            self.new_tag, self.new_audio = self.tag_and_audio(self.new["books/t.mp3"][0])
            if self.old_audio != self.new_audio or self.old_tag == self.new_tag:
                raise RuntimeError(f"{self.label}: the full run did not save the new tag")

    @staticmethod
    def tag_and_audio(data):
        tag, size = tag_of(data)
        return tag, data[size:]

    def recovered(self, root, books):
        failure = self.recover(root, books)
        if failure:
            raise RuntimeError(f"{self.label}: {failure}")
        return snapshot(root, books)

    def recover(self, root, books):
        if self.tool:
            home = os.path.join(root, "home")
            os.makedirs(home, exist_ok=True)
            env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
            env.pop("XDG_DOCUMENTS_DIR", None)
            cmd = [self.args.tool, "read", os.path.join(books, "t.mp3")]
        else:
            env, cmd = None, [self.args.driver, "recover", root]
        r = subprocess.run(cmd, env=env, capture_output=True, timeout=120)
        if r.returncode not in (0, 1):
            return f"recovery failed ({r.returncode}): {r.stderr.decode()}"
        if self.tool:
            shutil.rmtree(os.path.join(root, "home"), ignore_errors=True)
        return None

    def check_names(self, state, problems):
        for rel in state:
            if LEFTOVER.search(os.path.basename(rel)):
                problems.append(f"left behind: {rel}")

    def old_or_new(self, state, rel, problems):
        """Which of the two the file is: 'old', 'new', 'both' (equal), or None (a fault)."""
        now, old, new = state.get(rel), self.old.get(rel), self.new.get(rel)
        is_old, is_new = now == old, now == new
        if is_old and is_new:
            return "both"
        if is_old or is_new:
            return "old" if is_old else "new"
        problems.append(f"{rel} is neither as before nor as after the operation")
        return None

    def check(self, state):
        problems = []
        self.check_names(state, problems)
        if self.kind in ("store", "rename"):
            which = self.old_or_new(state, STORE, problems)
            # The tree file may be gone (it is built again from the store), but
            # one that is there must be the one of the store's state.
            tree = state.get(TREE)
            if tree is not None and which:
                expected = [self.old.get(TREE), self.new.get(TREE)] if which == "both" else \
                    [(self.old if which == "old" else self.new).get(TREE)]
                if tree not in expected:
                    problems.append(f"the tree file does not match the store ({which})")
            for rel in STATE:
                seen = self.old_or_new(state, rel, problems)
                if self.kind == "rename" and seen and which and "both" not in (seen, which) \
                        and seen != which:
                    problems.append(f"{rel} is {seen} while the store is {which}")
            if self.kind == "rename":
                a = "books/a.mp3" in state
                renamed = "books/renamed.mp3" in state
                if a == renamed:
                    problems.append("the audio file is under both names or under none")
                elif which and which != "both" and (which == "old") != a:
                    problems.append(f"the store is {which} but the file is "
                                    f"{'not ' if not renamed else ''}renamed")
        if self.kind == "book":
            # A file written anew and renamed over the old one: either whole.
            now = state.get(self.book)
            if now is None:
                problems.append("the audio file is gone")
            elif now[0] not in (self.old[self.book][0], self.new[self.book][0]):
                problems.append("the audio file is neither as before nor as after the save")
            elif now[1] != self.old[self.book][1]:
                problems.append(f"the file's mode changed to {now[1]:o}")
            for rel in set(self.old) | set(state):
                if rel != self.book and state.get(rel) != self.old.get(rel):
                    problems.append(f"{rel} changed")
        if self.kind == "places":
            seen = {tuple(state.get(rel) for rel in PLACES)}
            expected = {tuple(s.get(rel) for rel in PLACES)
                        for s in (self.old_recovered, self.new_recovered)}
            if not seen <= expected:
                problems.append("the places file and the resume point are neither as a start "
                                "after the old run leaves them nor as one after the new")
        if self.kind == "tag":
            now = state.get("books/t.mp3")
            if now is None:
                problems.append("the audio file is gone")
            else:
                data, mode = now
                if data not in (self.old["books/t.mp3"][0], self.new["books/t.mp3"][0]):
                    problems.append("the audio file is neither as before nor as after the save")
                if mode != self.old["books/t.mp3"][1]:
                    problems.append(f"the file's mode changed to {mode:o}")
                try:
                    tag, audio = self.tag_and_audio(data)
                    if tag not in (self.old_tag, self.new_tag):
                        problems.append(f"mutagen reads a tag that is neither: {tag!r:.80}")
                    if audio != self.old_audio:
                        problems.append("audio bytes are not in place behind the tag")
                except Exception as e:  # mutagen refuses the tag
                    problems.append(f"mutagen cannot read the tag: {e}")
            for rel in set(self.old) | set(state):
                if rel.startswith("data/") and state.get(rel) != self.old.get(rel):
                    problems.append(f"{rel} changed")
        return problems

    def trial(self, k, mode):
        root, books = self.copy_old(trial_name(mode, k))
        r = self.drive("op", root, books, self.env(k, mode))
        problems = []
        completed = r.returncode == 0
        if r.returncode not in (0, -9):
            problems.append(f"the child ended with {r.returncode}: {r.stderr.decode()[:200]}")
        failure = self.recover(root, books)
        if failure:
            problems.append(failure)
        problems += self.check(snapshot(root, books))
        shutil.rmtree(root, ignore_errors=True)
        if self.shm:
            shutil.rmtree(books, ignore_errors=True)
        return self.label, mode, k, completed, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--preload", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", default="", help="run the cases whose label contains this")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    shm_root = "/dev/shm" if os.path.isdir("/dev/shm") else None
    shm = tempfile.mkdtemp(prefix="narrabel-crash-", dir=shm_root) if shm_root else None
    started = time.monotonic()
    try:
        cases = []
        for label, op, where, kind in CASES:
            if args.only not in label:
                continue
            if where == "tmpfs" and not shm:
                print(f"{label}: skipped (no tmpfs at /dev/shm)")
                continue
            cases.append(Case(args, label, op, where, kind, shm))
        for case in cases:
            case.prepare()
        jobs = [(c, k, mode) for c in cases for mode in ("kill", "cut")
                for k in range(1, c.calls + 1)]
        results = {}
        failures = [f"{c.label}, the order of calls: {o}" for c in cases for o in c.order]
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            for label, mode, k, completed, problems in pool.map(
                    lambda j: j[0].trial(j[1], j[2]), jobs):
                counts = results.setdefault((label, mode), [0, 0, 0])
                counts[0] += 1
                counts[1] += completed
                counts[2] += bool(problems)
                for p in problems:
                    failures.append(f"{label}, {mode} before call {k}: {p}")
    finally:
        if shm:
            shutil.rmtree(shm, ignore_errors=True)

    print(f"{'operation':32} {'calls':>5} {'kill':>6} {'cut':>6} {'violations':>10} "
          f"{'order':>5}  saved")
    total = bad = 0
    for case in cases:
        kill = results.get((case.label, "kill"), [0, 0, 0])
        cut = results.get((case.label, "cut"), [0, 0, 0])
        total += kill[0] + cut[0]
        bad += kill[2] + cut[2] + len(case.order)
        print(f"{case.label:32} {case.calls:>5} {kill[0]:>6} {cut[0]:>6} {kill[2] + cut[2]:>10}"
              f" {len(case.order):>5}  {case.how}")
    print(f"{total} trials, {bad} with violations, {time.monotonic() - started:.0f} s")
    for f in failures[:40]:
        print(f)
    if len(failures) > 40:
        print(f"... and {len(failures) - 40} more")
    shutil.rmtree(args.work, ignore_errors=True)
    return 1 if bad or not total else 0


if __name__ == "__main__":
    sys.exit(main())
