"""The catalogue and the converter: one task per file, on a dask.distributed cluster (a
LocalCluster by default, or a running scheduler's address) or in this process."""

from __future__ import annotations

import hashlib
import json
import os
import sqlite3
import sys
import time
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any, Optional

from ._document import Document
from ._errors import NitfError
from ._pictures import write_png, write_tiff

SCHEMA = """
CREATE TABLE IF NOT EXISTS files (path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER,
  sha256 TEXT, ok INTEGER, fhdr TEXT, fver TEXT, ftitle TEXT, fdt TEXT, ostaid TEXT,
  images INTEGER, graphics INTEGER, texts INTEGER, des INTEGER, header TEXT, thumbnail TEXT);
CREATE TABLE IF NOT EXISTS images (path TEXT, idx INTEGER, iid1 TEXT, irep TEXT, ic TEXT,
  rows INTEGER, columns INTEGER, bands INTEGER, nbpp INTEGER, pvtype TEXT, header TEXT);
CREATE TABLE IF NOT EXISTS tres (path TEXT, segment TEXT, idx INTEGER, tag TEXT,
  status TEXT, area TEXT, tre TEXT);
CREATE TABLE IF NOT EXISTS footprints (path TEXT, idx INTEGER, feature TEXT);
CREATE TABLE IF NOT EXISTS errors (path TEXT, code INTEGER, message TEXT);
"""
TABLES = ("files", "images", "tres", "footprints", "errors")
THUMBNAIL = 256


def walk(root: str) -> list[str]:
    """Every regular file below ``root``, sorted."""
    out = []
    for folder, _, names in os.walk(root):
        out += [os.path.join(folder, n) for n in names if os.path.isfile(os.path.join(folder, n))]
    return sorted(out)


def _stamp(path: str) -> tuple[int, int, str]:
    st = os.stat(path)
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(1 << 20), b""):
            digest.update(piece)
    return st.st_size, st.st_mtime_ns, digest.hexdigest()


def _fit(width: int, height: int, side: int) -> tuple[int, int]:
    scale = min(1.0, side / max(width, height, 1))
    return max(1, round(width * scale)), max(1, round(height * scale))


def record(path: str, known: Optional[tuple[int, int, str]],
           thumbnails: Optional[str]) -> dict[str, Any]:
    """One file's rows, or {"unchanged": True} when size, time and hash are as known."""
    stamp = _stamp(path)
    if known is not None and tuple(known) == stamp:
        return {"path": path, "unchanged": True}
    rows: dict[str, list[tuple[Any, ...]]] = {t: [] for t in TABLES}
    size, mtime, sha = stamp
    try:
        with Document(path) as doc:
            header = dict(doc.header.items())
            counts = [len(doc.images), len(doc.graphics), len(doc.texts), len(doc.des)]
            segments = [("file", 0, doc.tres)]
            for image in doc.images:
                h = dict(image.header.items())
                rows["images"].append((path, image.index, h.get("IID1", "").rstrip(),
                                       h.get("IREP", "").rstrip(), h.get("IC", ""),
                                       int(h.get("NROWS") or 0), int(h.get("NCOLS") or 0),
                                       int(h.get("NBANDS") or 0), int(h.get("NBPP") or 0),
                                       h.get("PVTYPE", "").rstrip(), json.dumps(h)))
                segments.append(("image", image.index, image.tres))
            segments += [("graphic", g.index, g.tres) for g in doc.graphics]
            segments += [("text", t.index, t.tres) for t in doc.texts]
            for kind, index, tres in segments:
                rows["tres"] += [(path, kind, index, t["tag"], t["status"], t.get("area", ""),
                                  json.dumps(t)) for t in tres]
            for feature in doc.footprints:
                if feature["geometry"] is not None:
                    rows["footprints"].append((path, feature["properties"]["index"],
                                               json.dumps(feature)))
            thumbnail = None
            if thumbnails:
                try:
                    width, height = doc.canvas
                    picture = doc.render(size=_fit(width, height, THUMBNAIL))
                    thumbnail = os.path.join(thumbnails, sha + ".png")
                    write_png(thumbnail, picture)
                except NitfError as e:  # the headers are still worth their rows
                    rows["errors"].append((path, e.code, "thumbnail: " + str(e)))
            rows["files"].append((path, size, mtime, sha, 1, header.get("FHDR"),
                                  header.get("FVER"), header.get("FTITLE", "").rstrip(),
                                  header.get("FDT"), header.get("OSTAID", "").rstrip(),
                                  *counts, json.dumps(header), thumbnail))
    except NitfError as e:
        rows = {t: [] for t in TABLES}
        rows["files"].append((path, size, mtime, sha, 0) + (None,) * 11)
        rows["errors"].append((path, e.code, str(e)))
    return {"path": path, "rows": rows}


def convert(path: str, root: str, out: str, to: str) -> dict[str, Any]:
    """The composed picture (png) or every image's samples (tif) of one file under ``out``."""
    target = os.path.join(out, os.path.relpath(path, root))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    written = []
    try:
        with Document(path) as doc:
            if to == "png":
                write_png(target + ".png", doc.render())
                written.append(target + ".png")
            else:
                for image in doc.images:
                    name = f"{target}.{image.index}.tif"
                    write_tiff(name, image.read())
                    written.append(name)
    except NitfError as e:
        return {"path": path, "error": (e.code, str(e)), "written": written}
    return {"path": path, "written": written}


def run(tasks: Sequence[tuple[Callable[..., Any], tuple[Any, ...]]], scheduler: Optional[str],
        workers: int, serial: bool, what: str) -> Iterator[Any]:
    """Each task's result as it completes, with progress on standard error."""
    total = len(tasks)
    shown = sys.stderr.isatty()

    def progress(done: int) -> None:
        if shown:
            print(f"\r{what}: {done}/{total}", end="" if done < total else "\n",
                  file=sys.stderr, flush=True)

    if serial:
        for n, (fn, args) in enumerate(tasks, 1):
            yield fn(*args)
            progress(n)
        return
    from distributed import Client, LocalCluster, as_completed

    cluster = None
    if scheduler is None:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None)
    client = Client(scheduler or cluster)
    try:
        futures = [client.submit(fn, *args, pure=False) for fn, args in tasks]
        for n, future in enumerate(as_completed(futures), 1):
            yield future.result()
            progress(n)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def catalog(root: str, db: str, scheduler: Optional[str] = None, workers: int = 2,
            thumbnails: Optional[str] = None, serial: bool = False) -> dict[str, int]:
    """Records every file below ``root`` into the SQLite file ``db``; returns counts of
    files seen, recorded (new or changed), unchanged, failed and removed."""
    root = os.path.abspath(root)
    if thumbnails:
        thumbnails = os.path.abspath(thumbnails)
        os.makedirs(thumbnails, exist_ok=True)
    con = sqlite3.connect(db)
    con.executescript(SCHEMA)
    known = {p: (s, m, h) for p, s, m, h in con.execute("SELECT path, size, mtime_ns, sha256 FROM files")}
    paths = walk(root)
    counts = {"files": len(paths), "recorded": 0, "unchanged": 0, "failed": 0, "removed": 0}
    tasks = [(record, (p, known.get(p), thumbnails)) for p in paths]
    # A commit syncs the database file: one a second, not one per file. A run cut short
    # loses at most that second's files, which the next run records again.
    last_commit = time.monotonic()
    for result in run(tasks, scheduler, workers, serial, "catalog"):
        if result.get("unchanged"):
            counts["unchanged"] += 1
            continue
        _replace(con, result["path"], result["rows"])
        if time.monotonic() - last_commit >= 1.0:
            con.commit()
            last_commit = time.monotonic()
        counts["recorded"] += 1
        counts["failed"] += not result["rows"]["files"][0][4]
    gone = set(known) - set(paths)
    for path in sorted(p for p in gone if p.startswith(root + os.sep)):
        _replace(con, path, {t: [] for t in TABLES})
        counts["removed"] += 1
    con.commit()
    con.close()
    return counts


def _replace(con: sqlite3.Connection, path: str, rows: dict[str, list[tuple[Any, ...]]]) -> None:
    for table in TABLES:
        con.execute(f"DELETE FROM {table} WHERE path = ?", (path,))
        for row in rows[table]:
            con.execute(f"INSERT INTO {table} VALUES ({','.join('?' * len(row))})", row)


def convert_tree(root: str, out: str, to: str, scheduler: Optional[str] = None,
                 workers: int = 2, serial: bool = False) -> list[dict[str, Any]]:
    """Renders (png) or extracts (tif) every file below ``root`` into ``out``."""
    root, out = os.path.abspath(root), os.path.abspath(out)
    tasks = [(convert, (p, root, out, to)) for p in walk(root)]
    return list(run(tasks, scheduler, workers, serial, "convert"))


def main(argv: Optional[Iterable[str]] = None) -> int:
    import argparse

    parser = argparse.ArgumentParser(prog="python3 -m kvntfu")
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("catalog", "convert"):
        sub = commands.add_parser(name)
        sub.add_argument("dir")
        if name == "catalog":
            sub.add_argument("--db", required=True, help="the SQLite file")
            sub.add_argument("--thumbnails", help="a folder for one PNG per file")
        else:
            sub.add_argument("out")
            sub.add_argument("--to", choices=("png", "tif"), default="png")
        sub.add_argument("--scheduler", help="a running scheduler's address (tcp://host:8786)")
        sub.add_argument("--workers", type=int, default=2, help="of the LocalCluster (2)")
        sub.add_argument("--serial", action="store_true", help="in this process, no cluster")
    a = parser.parse_args(list(argv) if argv is not None else None)
    if a.command == "catalog":
        counts = catalog(a.dir, a.db, a.scheduler, a.workers, a.thumbnails, a.serial)
        print(" ".join(f"{k} {v}" for k, v in counts.items()))
        return 0
    results = convert_tree(a.dir, a.out, a.to, a.scheduler, a.workers, a.serial)
    failed = [r for r in results if "error" in r]
    for r in failed:
        print(f"{r['path']}: {r['error'][1]}", file=sys.stderr)
    print(f"converted {len(results) - len(failed)}, failed {len(failed)}")
    return 0
