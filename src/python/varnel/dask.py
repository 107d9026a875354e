"""Converting many files on a Dask distributed cluster.

    outcome = varnel.dask.convert(paths, "PG:host=db dbname=gis", client=client, origin=...)
    python3 -m varnel.dask --scheduler tcp://HOST:8786 FILE... -o DEST

One task per chunk of files. Into PostGIS, a task replaces the rows of its files in one
transaction; into a GeoPackage or FlatGeobuf, it writes a part file of its own (moved into
place whole) on storage the workers share, and the parts are merged into the destination at the
end. Either way a task that runs again, after its worker died, replaces what it wrote before:
rows are keyed by file and model, never added twice.
"""
import argparse
import hashlib
import os
import sys
import tempfile
import threading
import uuid

# Files a task takes until they hold this many bytes, and at most this many: small files share a
# task (its overhead outweighs converting one), large ones have one each.
CHUNK_BYTES = 1 << 20
CHUNK_FILES = 16

# The columns each split gives, as `varnel convert` names them, with their PostgreSQL types.
_COLUMNS = {"name": "text", "source": "text", "node": "text", "material": "text",
            "color": "text", "transparency": "integer", "cull": "boolean", "texture": "text"}


def chunks(paths, chunk_bytes=CHUNK_BYTES, chunk_files=CHUNK_FILES):
    """The files in groups of at most `chunk_files` and about `chunk_bytes`, in order."""
    group, size = [], 0
    for path in paths:
        try:
            size += os.path.getsize(path)
        except OSError:
            pass  # the task names it as failed
        group.append(path)
        if size >= chunk_bytes or len(group) >= chunk_files:
            yield group
            group, size = [], 0
    if group:
        yield group


def _pg_dsn(dest):
    return dest[3:] if dest.startswith("PG:") else None


def frames_of(files, options):
    """Each file's outcome, and the rows of those that gave any (GeoDataFrames with `file` and
    `model` columns first)."""
    import varnel

    outcome, frames = {}, []
    for path in files:
        try:
            frame, models = varnel._frame(path, **options)
        except (OSError, varnel.ImportError) as error:
            outcome[path] = {"features": 0, "reason": str(error)}
            continue
        frame.insert(0, "model", models)
        frame.insert(0, "file", path)
        frames.append(frame)
        outcome[path] = {"features": len(frame), "reason": None}
    return outcome, frames


def _to_postgis(files, dsn, table, options):
    outcome, frames = frames_of(files, options)
    write_postgis(files, frames, dsn, table)
    return outcome


# A worker thread's connections, one a database, kept from task to task: a new connection costs
# more than converting a small file.
_connections = {}
# EPSG codes by CRS text: finding one takes pyproj longer than converting a small file.
_srids = {}


def _connection(dsn):
    import psycopg2

    key = (dsn, threading.get_ident())
    connection = _connections.get(key)
    if connection is None or connection.closed:
        connection = _connections[key] = psycopg2.connect(dsn)
    return connection


def _srid(crs):
    if crs is None:
        return 0
    if crs.srs not in _srids:
        _srids[crs.srs] = crs.to_epsg() or 0
    return _srids[crs.srs]


def write_postgis(files, frames, dsn, table):
    """Replaces the rows of `files` in `table` by `frames`, in one transaction."""
    import psycopg2
    from psycopg2.extras import execute_values

    connection = _connection(dsn)
    try:
        with connection, connection.cursor() as cursor:
            # Another run of this task (a retry while the first still ran) waits here, then
            # replaces what the first wrote.
            cursor.execute("SELECT pg_advisory_xact_lock(hashtext(f)) FROM "
                           "(SELECT unnest(%s::text[]) AS f ORDER BY 1) AS sorted", (list(files),))
            cursor.execute(f'DELETE FROM "{table}" WHERE file = ANY(%s)', (list(files),))
            for frame in frames:
                srid = _srid(frame.crs)
                fields = [c for c in frame.columns if c != "geometry"]
                rows = [values + (geometry.wkb, srid) for values, geometry in
                        zip(frame[fields].itertuples(index=False, name=None), frame.geometry)]
                columns = ", ".join(f'"{c}"' for c in fields)
                execute_values(cursor, f'INSERT INTO "{table}" ({columns}, geom) VALUES %s', rows,
                               template="(" + ", ".join(["%s"] * len(fields)) +
                               ", ST_SetSRID(ST_GeomFromWKB(%s), %s))")
    except psycopg2.Error:
        _connections.pop((dsn, threading.get_ident()), None)
        connection.close()
        raise


def _part_name(files):
    return hashlib.sha1("\0".join(files).encode()).hexdigest()[:20]


def _to_part(files, folder, driver, options):
    """Writes the files' rows into a part file of the chunk's own, moved into place whole."""
    import pandas

    outcome, frames = frames_of(files, options)
    if frames:
        extension = ".fgb" if driver == "FlatGeobuf" else ".gpkg"
        merged = pandas.concat(frames, ignore_index=True)
        final = os.path.join(folder, _part_name(files) + extension)
        handle, staged = tempfile.mkstemp(suffix=extension, dir=folder)
        os.close(handle)
        os.unlink(staged)  # the driver creates it
        try:
            merged.to_file(staged, driver=driver, layer="model")
            os.replace(staged, final)
        finally:
            if os.path.exists(staged):
                os.unlink(staged)
    return outcome


def convert_chunk(files, dest, table, parts, driver, options):
    """One task: the chunk's files into PostGIS or into their part file."""
    dsn = _pg_dsn(dest)
    if dsn is not None:
        return _to_postgis(files, dsn, table, options)
    return _to_part(files, parts, driver, options)


def create_table(dsn, table, split):
    import psycopg2

    fields = ["name", "source"] + {"node": ["node"], "material": list(_COLUMNS)[3:],
                                   "part": list(_COLUMNS)[3:]}.get(split, [])
    columns = ", ".join(f'"{f}" {_COLUMNS[f]}' for f in fields)
    connection = psycopg2.connect(dsn)
    try:
        with connection, connection.cursor() as cursor:
            cursor.execute("SELECT pg_advisory_xact_lock(hashtext(%s))", (table,))
            cursor.execute(f'CREATE TABLE IF NOT EXISTS "{table}" (fid bigserial PRIMARY KEY, '
                           f'file text NOT NULL, model integer NOT NULL, {columns}, geom geometry)')
            cursor.execute(f'CREATE INDEX IF NOT EXISTS "{table}_file" ON "{table}" (file, model)')
    finally:
        connection.close()


def _merge(parts, dest, driver):
    """The part files into `dest`, written beside it and moved into place whole. A FlatGeobuf
    cannot be appended to: the parts meet in a GeoPackage first, copied into it at the end."""
    from osgeo import gdal

    gdal.UseExceptions()
    files = sorted(os.path.join(parts, f) for f in os.listdir(parts)
                   if f.endswith((".gpkg", ".fgb")))
    if not files:
        return
    stem = os.path.join(os.path.dirname(os.path.abspath(dest)), "." + os.path.basename(dest))
    staged = {"GPKG": stem + ".merging.gpkg", "FlatGeobuf": stem + ".merging.fgb"}
    for path in staged.values():
        if os.path.exists(path):
            os.unlink(path)
    for i, part in enumerate(files):
        gdal.VectorTranslate(staged["GPKG"], part, format="GPKG", layerName="model",
                             accessMode=None if i == 0 else "append")
    if driver == "FlatGeobuf":
        gdal.VectorTranslate(staged[driver], staged["GPKG"], format=driver, layerName="model")
        os.unlink(staged["GPKG"])
    os.replace(staged[driver], dest)


def _driver(dest):
    return "FlatGeobuf" if dest.lower().endswith(".fgb") else "GPKG"


def convert(paths, dest, *, client=None, table="model", parts=None, progress=True,
            chunk_bytes=CHUNK_BYTES, chunk_files=CHUNK_FILES, **options):
    """Converts `paths` on the cluster of `client` (the default client when None) into `dest`:
    "PG:<libpq connection>" (table `table`), a .gpkg or a .fgb. Part files go to `parts`, a
    folder every worker and this process share (default: `dest` + ".parts"). `options` are
    read_dataframe's. Returns {path: {"features": n, "reason": None or why it gave nothing}}."""
    from distributed import default_client, progress as show_progress, wait

    client = client or default_client()
    paths = [os.fspath(p) for p in paths]
    split = options.get("split", "model")
    dsn = _pg_dsn(dest)
    driver = _driver(dest)
    if dsn is not None:
        create_table(dsn, table, split)
    else:
        parts = parts or dest + ".parts"
        os.makedirs(parts, exist_ok=True)
    groups = list(chunks(paths, chunk_bytes, chunk_files))
    run = uuid.uuid4().hex[:8]
    futures = [client.submit(convert_chunk, group, dest, table, parts, driver, options,
                             key=f"varnel-{run}-{_part_name(group)}")
               for group in groups]
    if progress:
        show_progress(futures)
    wait(futures)
    outcome = {}
    for group, future in zip(groups, futures):
        if future.status == "finished":
            outcome.update(future.result())
        else:
            reason = f"the task failed: {future.exception()!r}"
            outcome.update({path: {"features": 0, "reason": reason} for path in group})
    if dsn is None:
        _merge(parts, dest, driver)
    return {path: outcome[path] for path in paths}


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m varnel.dask",
                                     description="Convert files on a Dask cluster.")
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("-o", dest="dest", required=True,
                        help="a .gpkg, a .fgb or PG:<connection>")
    parser.add_argument("--scheduler", help="tcp://HOST:8786 (default: a local cluster)")
    parser.add_argument("--table", default="model", help="PostGIS table (default model)")
    parser.add_argument("--parts", help="folder for part files, shared by every worker")
    parser.add_argument("--split", default="model", choices=["model", "node", "material", "part"])
    parser.add_argument("--extended", action="store_true")
    parser.add_argument("--origin", help="LON,LAT[,ALT[,HEADING]]")
    parser.add_argument("-a_srs", dest="a_srs")
    parser.add_argument("--offset", help="X,Y[,Z]")
    parser.add_argument("-t_srs", dest="t_srs")
    parser.add_argument("--dem")
    parser.add_argument("--files-per-task", type=int, default=CHUNK_FILES)
    args = parser.parse_args(argv)
    from distributed import Client

    numbers = lambda text: [float(v) for v in text.split(",")] if text else None
    options = {"split": args.split, "extended": args.extended, "origin": numbers(args.origin),
               "a_srs": args.a_srs, "offset": numbers(args.offset), "t_srs": args.t_srs,
               "dem": args.dem}
    with Client(args.scheduler) as client:
        outcome = convert(args.files, args.dest, client=client, table=args.table,
                          parts=args.parts, chunk_files=args.files_per_task, **options)
    failed = {p: o["reason"] for p, o in outcome.items() if o["reason"]}
    for path, reason in failed.items():
        print(f"varnel.dask: {path}: {reason}", file=sys.stderr)
    features = sum(o["features"] for o in outcome.values())
    print(f"varnel.dask: {len(outcome) - len(failed)} of {len(outcome)} files converted, "
          f"{features} features", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    # Tasks must name their function as workers import it, not as __main__.
    from varnel.dask import main as _main

    sys.exit(_main())
