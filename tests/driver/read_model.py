#!/usr/bin/python3
"""A model read through the GDAL driver from Python, as GDAL scripts and GeoPandas read it: the
triangles and the extent `varnel info` gives. Exits 77 (skipped) without Debian's python3-gdal.

Usage: read_model.py PLUGIN_DIR VARNEL_TOOL SCRATCH_DIR"""
import json
import os
import subprocess
import sys

plugins, tool, scratch = sys.argv[1:4]
os.environ["GDAL_DRIVER_PATH"] = plugins
try:
    from osgeo import gdal
except ImportError:
    sys.exit(77)
gdal.UseExceptions()

# Two instances of a quad of two triangles, the second raised and moved east.
DOCUMENT = """<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
<asset><up_axis>Z_UP</up_axis></asset>
<library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="pa" count="12">0 0 0 4 0 0 4 3 0 0 3 2</float_array>
<technique_common><accessor source="#pa" count="4" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<triangles count="2"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2 0 2 3</p></triangles>
</mesh></geometry></library_geometries>
<library_visual_scenes><visual_scene id="s"><node><instance_geometry url="#g"/></node>
<node><translate>10 0 5</translate><instance_geometry url="#g"/></node></visual_scene>
</library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>
"""
os.makedirs(scratch, exist_ok=True)
path = os.path.join(scratch, "quads.dae")
with open(path, "w") as f:
    f.write(DOCUMENT)

info = json.loads(subprocess.run([tool, "info", path], capture_output=True, text=True,
                                 check=True).stdout)
assert {t for t, n in info["partTypes"].items() if n} == {"6"}, info  # triangle lists alone: three points a triangle
triangles, extent = info["points"] // 3, info["extent"]

dataset = gdal.OpenEx(path, gdal.OF_VECTOR, open_options=["GEOMETRY=TIN"])
assert dataset.GetDriver().ShortName == "Varnel"
layer = dataset.GetLayer(0)
got, box = 0, None
for feature in layer:
    geometry = feature.GetGeometryRef()
    got += geometry.GetGeometryCount()
    e = geometry.GetEnvelope3D()  # min x, max x, min y, max y, min z, max z
    e = [e[0], e[2], e[4], e[1], e[3], e[5]]
    box = e if box is None else [min(box[i], e[i]) for i in range(3)] + [max(box[i], e[i]) for i in range(3, 6)]
assert got == triangles == 4, (got, triangles)
assert box == extent, (box, extent)

try:
    import geopandas
except ImportError:
    geopandas = None
if geopandas is not None:
    import fiona  # GeoPandas 0.12 reads through Fiona, which opens only the drivers it lists
    fiona.supported_drivers["Varnel"] = "r"
    frame = geopandas.read_file(path)
    assert len(frame) == 1 and list(frame.total_bounds) == [extent[0], extent[1], extent[3], extent[4]]
print(f"{triangles} triangles, extent {extent}" + ("; GeoPandas agrees" if geopandas else ""))
