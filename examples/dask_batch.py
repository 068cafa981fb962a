#!/usr/bin/env python3
"""Enlarges every picture of a folder with Kestrune interpolation on a Dask
cluster of local worker processes, one task per file:

    python3 examples/dask_batch.py photos/ big/ [--recursive] [--workers 2] [--report big.jsonl]

Each task runs kestrune.upscale_file in a worker, which writes its output all
or nothing (a temporary file renamed into place), so a failed, killed or
stopped task leaves no partial file and a rerun with --skip-existing resumes.
Outputs keep the input's name and format (PNG for formats the library only
reads) and the tree below the folder. One JSON line per input goes to the
report (standard output without --report), as kestrune-cli's --report writes
them; failures are reported per file and the others go on. Exit status 0 when
every input was written or skipped, 6 when some failed (as kestrune-cli's
batches). Any kestrune.upscale_file keyword can be given as --set NAME=VALUE.
"""
import argparse
import json
import os
import sys
import time
from pathlib import Path

READS = {".bmp", ".png", ".jpg", ".jpeg", ".pfm", ".tif", ".tiff", ".webp", ".heic", ".heif", ".avif", ".gif",
         ".pbm", ".pgm", ".ppm", ".pnm"}
WRITES = {".bmp", ".png", ".jpg", ".jpeg", ".pfm", ".tif", ".tiff", ".webp"}


def inputs(folder, recursive):
    """The folder's pictures by extension, hidden files left out, sorted."""
    walk = folder.rglob("*") if recursive else folder.glob("*")
    return sorted(p for p in walk if p.is_file() and p.suffix.lower() in READS
                  and not any(part.startswith(".") for part in p.relative_to(folder).parts))


def enlarge(src, dst, threads, options):
    """One file in a worker: a report line, never an exception."""
    import kestrune

    start = time.monotonic()
    line = {"input": src, "output": dst, "status": "written", "message": ""}
    try:
        kestrune.set_threads(threads)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        kestrune.upscale_file(src, dst, **options)
    except (OSError, ValueError, MemoryError) as error:
        line.update(status="failed", message=str(error))
    line["seconds"] = round(time.monotonic() - start, 3)
    return line


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", type=Path)
    parser.add_argument("output", type=Path)
    parser.add_argument("--recursive", action="store_true")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--threads", type=int, default=0,
                        help="Kestrune's threads per worker (default: the cores shared out)")
    parser.add_argument("--skip-existing", action="store_true")
    parser.add_argument("--report", type=Path, help="append the JSON lines here")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help="a kestrune.upscale_file keyword, e.g. iterations=8 or method=bicubic")
    args = parser.parse_args()

    options = {}
    for item in args.set:
        name, _, value = item.partition("=")
        options[name] = json.loads(value) if value[:1] in "-0123456789" else value
    threads = args.threads or max(1, (os.cpu_count() or 1) // args.workers)

    jobs, lines = [], []
    for src in inputs(args.input, args.recursive):
        rel = src.relative_to(args.input)
        dst = args.output / (rel if src.suffix.lower() in WRITES else rel.with_suffix(".png"))
        if args.skip_existing and dst.exists():
            lines.append({"input": str(src), "output": str(dst), "status": "skipped", "message": "", "seconds": 0})
        else:
            jobs.append((str(src), str(dst)))

    from distributed import Client, LocalCluster, as_completed

    report = open(args.report, "a") if args.report else sys.stdout
    for line in lines:
        print(json.dumps(line), file=report, flush=True)
    failed = 0
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        futures = client.map(enlarge, [s for s, _ in jobs], [d for _, d in jobs], threads=threads, options=options,
                             pure=False)
        for future in as_completed(futures):
            line = future.result()
            failed += line["status"] == "failed"
            print(json.dumps(line), file=report, flush=True)
    if report is not sys.stdout:
        report.close()
    print(f"dask_batch: {len(jobs) - failed} written, {len(lines)} skipped, {failed} failed", file=sys.stderr)
    return 6 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
