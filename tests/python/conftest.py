"""Shared by the Python suites: the built tool, the test data, generated KMZ files and a throwaway
PostGIS server (as tests/gis/PostgisTest.cpp starts one: Unix socket, unprivileged user)."""
import glob
import io
import os
import pwd
import shutil
import subprocess
import tempfile
import zipfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
TOOL = os.environ.get("VARNEL_TOOL", os.path.join(HERE, "..", "..", "build", "tools", "varnel"))

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


def run_tool(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, check=True)


@pytest.fixture(scope="session")
def postgis():
    """A libpq connection string to a fresh database with PostGIS; skipped without them."""
    found = [b for b in sorted(glob.glob("/usr/lib/postgresql/*/bin"), reverse=True)
             if glob.glob(f"/usr/share/postgresql/{b.split('/')[-2]}/extension/postgis.control")]
    try:
        import psycopg2
    except ImportError:
        pytest.skip("python3-psycopg2 is not installed")
    if not found:
        pytest.skip("PostgreSQL with PostGIS is not installed")
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
                    "-c max_connections=60 -c fsync=off"]
    subprocess.run(run_as + [f"{found[0]}/initdb", "-A", "trust", "-U", "varnel", "-D", data],
                   check=True, capture_output=True)
    subprocess.run(ctl + ["start"], check=True, capture_output=True)
    dsn = f"host={folder} user=varnel dbname=postgres"
    try:
        with psycopg2.connect(dsn) as connection, connection.cursor() as cursor:
            cursor.execute("CREATE EXTENSION postgis")
        yield dsn
    finally:
        subprocess.run(ctl + ["stop"], capture_output=True)
        shutil.rmtree(folder, ignore_errors=True)
