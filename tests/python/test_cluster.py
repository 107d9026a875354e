"""varnel.dask.convert on a real scheduler and two worker processes on loopback, into a real
PostGIS, with one worker killed in the middle of the run."""
import os
import signal
import threading
import time

from support import kmz_bytes

FILES = 1000
BROKEN = {17, 400, 901}  # not archives: named as failed


def models_of(index):
    return 2 if index % 3 == 0 else 1


def test_a_killed_worker_loses_and_duplicates_nothing(tmp_path, postgis, cluster):
    import psycopg2
    import varnel.dask

    client, workers = cluster
    paths = []
    for i in range(FILES):
        path = tmp_path / f"site-{i:04d}.kmz"
        path.write_bytes(b"not an archive" if i in BROKEN else kmz_bytes(i, models_of(i)))
        paths.append(str(path))
    outcome = {}
    run = threading.Thread(target=lambda: outcome.update(varnel.dask.convert(
        paths, "PG:" + postgis, client=client, table="sites", progress=False, chunk_files=10)))
    run.start()
    connection = psycopg2.connect(postgis)
    connection.autocommit = True
    cursor = connection.cursor()
    rows = 0
    while run.is_alive() and rows == 0:
        time.sleep(0.05)
        cursor.execute("SELECT to_regclass('sites') IS NOT NULL")
        if cursor.fetchone()[0]:
            cursor.execute("SELECT count(*) FROM sites")
            rows = cursor.fetchone()[0]
    assert run.is_alive(), "the run ended before a worker could be killed"
    os.killpg(workers[0].pid, signal.SIGKILL)
    run.join(timeout=300)
    assert not run.is_alive()

    good = [i for i in range(FILES) if i not in BROKEN]
    assert len(outcome) == FILES
    assert {p for p, o in outcome.items() if o["reason"]} == {paths[i] for i in BROKEN}
    assert all("archive" in outcome[paths[i]]["reason"] for i in BROKEN)
    assert all(outcome[paths[i]]["features"] == models_of(i) for i in good)
    cursor.execute("SELECT file, model, count(*) FROM sites GROUP BY file, model")
    row_sets = {(file, model): count for file, model, count in cursor.fetchall()}
    assert row_sets == {(paths[i], k): 1 for i in good for k in range(models_of(i))}
    cursor.execute("SELECT DISTINCT ST_SRID(geom), GeometryType(geom) FROM sites")
    assert cursor.fetchall() == [(32632, "MULTIPOLYGON")]
    assert len(client.scheduler_info()["workers"]) == 1

    # What a retry does to a task that had committed: its files' rows replaced, not added.
    varnel.dask.convert(paths[:30], "PG:" + postgis, client=client, table="sites", progress=False)
    cursor.execute("SELECT file, model, count(*) FROM sites GROUP BY file, model")
    assert {(file, model): count for file, model, count in cursor.fetchall()} == row_sets
    connection.close()

    # Into part files on shared storage, merged at the end (FlatGeobuf takes no appends).
    import geopandas

    merged = tmp_path / "sites.fgb"
    varnel.dask.convert(paths[:30], str(merged), client=client, progress=False, chunk_files=4)
    frame = geopandas.read_file(merged)
    assert sorted(zip(frame.file, frame.model)) == sorted(k for k in row_sets if k[0] in paths[:30])
