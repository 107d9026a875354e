"""What the Python suites and bench/dask_scaling.py share: generated placed KMZ files, and
throwaway servers: PostgreSQL with PostGIS (as tests/gis/PostgisTest.cpp starts it: a Unix socket
in a temporary folder, an unprivileged user) and a Dask scheduler with worker processes on
loopback."""
import contextlib
import glob
import io
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile


BOX = """<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
<asset><up_axis>Z_UP</up_axis></asset>
<library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="pa" count="12">0 0 0 4 0 0 4 3 0 0 3 2</float_array>
<technique_common><accessor source="#pa" count="4" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<triangles count="2"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2 0 2 3</p></triangles>
</mesh></geometry></library_geometries>
<library_visual_scenes><visual_scene id="s"><node><instance_geometry url="#g"/></node>
</visual_scene></library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>
"""


def kmz_bytes(index, models):
    """A KMZ placing the box `models` times around Sion."""
    marks = "".join(
        f"<Placemark><name>m{index}-{k}</name><Model><altitudeMode>absolute</altitudeMode>"
        f"<Location><longitude>{7.3 + index * 1e-4}</longitude><latitude>{46.2 + k * 1e-4}"
        f"</latitude><altitude>500</altitude></Location><Link><href>box.dae</href></Link>"
        f"</Model></Placemark>" for k in range(models))
    kml = ('<?xml version="1.0"?><kml xmlns="http://www.opengis.net/kml/2.2"><Document>'
           + marks + "</Document></kml>")
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("doc.kml", kml)
        archive.writestr("box.dae", BOX)
    return out.getvalue()


class Missing(Exception):
    """What the server needs is not installed."""


@contextlib.contextmanager
def postgis_server():
    """Yields a libpq connection string to a fresh database with PostGIS."""
    found = [b for b in sorted(glob.glob("/usr/lib/postgresql/*/bin"), reverse=True)
             if glob.glob(f"/usr/share/postgresql/{b.split('/')[-2]}/extension/postgis.control")]
    try:
        import psycopg2
    except ImportError:
        raise Missing("python3-psycopg2 is not installed")
    if not found:
        raise Missing("PostgreSQL with PostGIS is not installed")
    folder = tempfile.mkdtemp(prefix="varnel-pg-")
    run_as = []
    if os.geteuid() == 0:
        nobody = pwd.getpwnam("nobody")
        os.chown(folder, nobody.pw_uid, nobody.pw_gid)
        run_as = ["runuser", "-u", "nobody", "--"]
    data = os.path.join(folder, "data")
    ctl = run_as + [f"{found[0]}/pg_ctl", "-w", "-m", "immediate", "-D", data, "-l",
                    os.path.join(folder, "log"), "-o",
                    f"-c listen_addresses='' -c unix_socket_directories='{folder}' "
                    "-c max_connections=60"]
    try:
        subprocess.run(run_as + [f"{found[0]}/initdb", "-A", "trust", "-U", "varnel", "-D", data],
                       check=True, capture_output=True)
        subprocess.run(ctl + ["start"], check=True, capture_output=True)
        dsn = f"host={folder} user=varnel dbname=postgres"
        with psycopg2.connect(dsn) as connection, connection.cursor() as cursor:
            cursor.execute("CREATE EXTENSION postgis")
        yield dsn
    finally:
        subprocess.run(ctl + ["stop"], capture_output=True)
        shutil.rmtree(folder, ignore_errors=True)


@contextlib.contextmanager
def dask_cluster(folder, workers):
    """Yields a Client of a scheduler and `workers` single-threaded worker processes, and the
    workers' processes (each its own process group, to kill with its nanny)."""
    if not shutil.which("dask-scheduler") or not shutil.which("dask-worker"):
        raise Missing("python3-distributed's dask-scheduler and dask-worker are not installed")
    from distributed import Client

    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    scheduler_file = os.path.join(folder, "scheduler.json")
    if os.path.exists(scheduler_file):  # an earlier cluster's, naming its address
        os.unlink(scheduler_file)
    log = open(os.path.join(folder, "cluster.log"), "w")
    start = lambda command: subprocess.Popen(command + ["--no-dashboard"], env=env, stdout=log,
                                             stderr=subprocess.STDOUT, start_new_session=True)
    processes = [start(["dask-scheduler", "--host", "127.0.0.1", "--port", "0",
                        "--scheduler-file", scheduler_file])]
    for k in range(workers):
        processes.append(start(["dask-worker", "--scheduler-file", scheduler_file, "--host",
                                "127.0.0.1", "--nworkers", "1", "--nthreads", "1",
                                "--name", f"w{k + 1}"]))
    try:
        for _ in range(300):
            if os.path.exists(scheduler_file):
                break
            time.sleep(0.1)
        with Client(scheduler_file=scheduler_file, timeout=30) as client:
            client.wait_for_workers(workers, timeout=60)
            yield client, processes[1:]
    finally:
        for process in processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        log.close()
