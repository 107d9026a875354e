#!/usr/bin/python3
"""How varnel.dask.convert scales: files per second into PostGIS with 1 and 2 worker processes,
the overhead of a task, and how many workers one PostGIS keeps busy (docs/performance.md).

    PYTHONPATH=build/python bench/dask_scaling.py [FILES]

Starts its own PostgreSQL and Dask processes (tests/python/support.py) on this machine and
generates FILES placed KMZ files (default 2000; a third of them place two models).
"""
import multiprocessing
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
import support  # noqa: E402
import varnel.dask  # noqa: E402

CHUNK = 10  # files a task in the runs that are not about chunking


def timed(function, *args, **kwargs):
    start = time.perf_counter()
    result = function(*args, **kwargs)
    return time.perf_counter() - start, result


def insert_share(arguments):
    """Inserts prepared frames, as a task's writing half does: PostGIS's side alone."""
    dsn, table, chunks = arguments
    for files, frames in chunks:
        varnel.dask.write_postgis(files, frames, dsn, table)


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    folder = tempfile.mkdtemp(prefix="varnel-bench-")
    paths = []
    for i in range(count):
        path = os.path.join(folder, f"site-{i:05d}.kmz")
        with open(path, "wb") as f:
            f.write(support.kmz_bytes(i, 2 if i % 3 == 0 else 1))
        paths.append(path)
    chunks = list(varnel.dask.chunks(paths, chunk_files=CHUNK))
    rows = sum(2 if i % 3 == 0 else 1 for i in range(count))
    print(f"{count} placed KMZ files, {rows} models, {len(chunks)} tasks of {CHUNK} files; "
          f"{os.cpu_count()} cores")

    with support.postgis_server() as dsn:
        dest = "PG:" + dsn
        # One process, no Dask: what a task does, split into converting and writing.
        varnel.dask.create_table(dsn, "inline", "model")
        converting = writing = 0
        prepared = []
        for files in chunks:
            seconds, (_, frames) = timed(varnel.dask.frames_of, files, {})
            converting += seconds
            writing += timed(varnel.dask.write_postgis, files, frames, dsn, "inline")[0]
            prepared.append((files, frames))
        print(f"inline: converting {count / converting:.0f} files/s, writing "
              f"{count / writing:.0f} files/s, both {count / (converting + writing):.0f} files/s")

        # PostGIS alone, from two writers at once: the rate it takes rows at on this machine.
        varnel.dask.create_table(dsn, "ingest", "model")
        shares = [(dsn, "ingest", prepared[k::2]) for k in range(2)]
        with multiprocessing.get_context("spawn").Pool(2) as pool:
            seconds = timed(pool.map, insert_share, shares)[0]
        print(f"PostGIS alone, 2 writers: {count / seconds:.0f} files/s")

        for workers in (1, 2):
            with support.dask_cluster(folder, workers) as (client, _):
                # Nothing to do: the scheduler's and workers' cost of a task.
                seconds = timed(client.gather, client.map(lambda x: x, range(500)))[0]
                print(f"{workers} worker(s): empty task {1000 * seconds / 500:.1f} ms each")
                for chunk in (1, CHUNK):
                    seconds = timed(varnel.dask.convert, paths, dest, client=client,
                                    table=f"w{workers}c{chunk}", progress=False,
                                    chunk_files=chunk)[0]
                    print(f"{workers} worker(s), {chunk} file(s) a task: "
                          f"{count / seconds:.0f} files/s ({seconds:.1f} s)")
                seconds = timed(varnel.dask.convert, paths,
                                os.path.join(folder, f"out{workers}.gpkg"), client=client,
                                progress=False, chunk_files=CHUNK)[0]
                print(f"{workers} worker(s), GeoPackage parts merged: {count / seconds:.0f} files/s")


if __name__ == "__main__":
    main()
