"""varnel.read and varnel.read_dataframe against what the tool writes for the same file."""
import os
import struct

import geopandas
import numpy as np
import pandas
import pytest

import varnel
from conftest import DATA, run_tool
from support import kmz_bytes

HOUSE = os.path.join(DATA, "demo", "house.dae")
KMZ = os.path.join(DATA, "fuzz-seeds", "gis", "site.kmz")
ZAE = os.path.join(DATA, "fuzz-seeds", "gis", "model.zae")


def parse_buffer(data):
    """The arrays of a multipatch buffer, read by the layout docs/multipatch-buffer.md gives."""
    parts, points = struct.unpack_from("<ii", data, 36)
    at = lambda kind, count, offset: np.frombuffer(data, kind, count, offset)
    xy = at("<f8", 2 * points, 44 + 8 * parts).reshape(points, 2)
    z_at = 44 + 8 * parts + 16 * points + 16
    extension = z_at + 8 * points
    flags, dimension, declared = struct.unpack_from("<Iii", data, extension + 12)
    offset = extension + 32
    normals = at("<f8", 3 * points, offset).reshape(points, 3) if flags & 1 else None
    offset += 24 * points if flags & 1 else 0
    stored = declared if dimension else 0
    texture = at("<f8", 2 * stored, offset).reshape(stored, 2)
    offset += 16 * stored
    return {"points": np.column_stack([xy, at("<f8", points, z_at)]), "normals": normals,
            "texture_points": texture, "part_offsets": np.append(at("<i4", parts, 44), points),
            "part_types": at("<i4", parts, 44 + 4 * parts),
            "part_materials": at("<i4", parts, offset),
            "texture_offsets": np.append(at("<i4", parts, offset + 4 * parts), stored)}


@pytest.mark.parametrize("path, tool_args, read_args", [
    (HOUSE, [], {}),
    (HOUSE, ["--place", "--origin", "9,45,100"], {"origin": [9, 45, 100]}),
    (KMZ, ["--place"], {}),
    (ZAE, [], {}),
])
def test_arrays_equal_the_buffer(tmp_path, path, tool_args, read_args):
    run_tool("buffer", path, *tool_args, "-o", tmp_path / "b.bin")
    expected = parse_buffer((tmp_path / "b.bin").read_bytes())
    model = varnel.read(path, **read_args)[0]
    for name, array in expected.items():
        got = getattr(model, name)
        assert (got is None) == (array is None), name
        if array is not None:
            np.testing.assert_array_equal(got, array, err_msg=name)
    assert (model.crs is None) == ("--place" not in tool_args)


def test_kmz_models_carry_placement_materials_and_diagnostics():
    models = varnel.read(KMZ)
    assert [m.name for m in models] == ["hall"]
    assert models[0].location == pytest.approx((7.25, 46.5, 10))
    textures = [m.texture for m in models[0].materials if m.texture is not None]
    assert textures and textures[0].dtype == np.uint8 and textures[0].ndim == 3
    assert any(d.kind == "kml" and "m%20copy.dae" in d.message for d in models[0].diagnostics)


@pytest.mark.parametrize("path", [HOUSE, KMZ, ZAE])
def test_bytes_equal_the_file(tmp_path, path):
    with open(path, "rb") as f:
        data = f.read()
    # A document in memory has no folder: it equals the file alone, without its textures beside
    # it. An archive brings its own.
    if path == HOUSE:
        path = tmp_path / "house.dae"
        path.write_bytes(data)
    from_file, from_bytes = varnel.read(path), varnel.read(data)
    assert len(from_file) == len(from_bytes)
    for a, b in zip(from_file, from_bytes):
        for name in ("points", "normals", "texture_points", "part_offsets", "part_types",
                     "part_materials"):
            np.testing.assert_array_equal(getattr(a, name), getattr(b, name), err_msg=name)
        assert [m.texture is None for m in a.materials] == [m.texture is None for m in b.materials]
        assert a.crs == b.crs and a.location == b.location


def plain(values):
    return [None if v is None or (isinstance(v, float) and np.isnan(v)) else v for v in values]


@pytest.mark.parametrize("path, args, options", [
    (HOUSE, [], {}),
    (HOUSE, ["--origin", "9,45,100", "--split", "material"], {"origin": [9, 45, 100], "split": "material"}),
    (HOUSE, ["--split", "node"], {"split": "node"}),
    (KMZ, ["-t_srs", "EPSG:4978", "--split", "part"], {"t_srs": "EPSG:4978", "split": "part"}),
])
def test_dataframe_equals_the_converted_geopackage(tmp_path, path, args, options):
    out = tmp_path / "out.gpkg"
    run_tool("convert", path, *args, "--textures", tmp_path, "-o", out)
    written = geopandas.read_file(out)
    frame = varnel.read_dataframe(path, **options)
    assert list(frame.columns) == list(written.columns)
    assert len(frame) == len(written)
    # Textures are written beside a converted file only; the frame names none.
    for column in frame.columns.drop(["geometry", "texture"], errors="ignore"):
        assert plain(frame[column].tolist()) == plain(written[column].tolist()), column
    assert all(a.equals_exact(b, 0) for a, b in zip(frame.geometry, written.geometry))
    # GDAL writes an unplaced layer's CRS as "Undefined geographic SRS".
    assert frame.crs == written.crs or frame.crs is None and "Undefined" in written.crs.name


# Two visits of one node name, and a polygon with a hole: a node split keys by visit, a part
# split keeps the hole with its ring.
VISITS_AND_HOLE = b"""<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
<asset><up_axis>Z_UP</up_axis></asset>
<library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="pa" count="24">0 0 0 9 0 0 9 9 0 0 9 0 3 3 0 6 3 0 6 6 0 3 6 0</float_array>
<technique_common><accessor source="#pa" count="8" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<polygons count="2"><input semantic="VERTEX" source="#v" offset="0"/><ph><p>0 1 2 3</p><h>7 6 5 4</h></ph>
<p>0 1 2</p></polygons>
</mesh></geometry></library_geometries>
<library_visual_scenes><visual_scene id="s"><node name="n"><instance_geometry url="#g"/></node>
<node name="n"><translate>20 0 0</translate><instance_geometry url="#g"/></node></visual_scene>
</library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>
"""


@pytest.mark.parametrize("source, split", [
    (HOUSE, "material"), (HOUSE, "node"), (VISITS_AND_HOLE, "node"), (VISITS_AND_HOLE, "part")])
def test_read_splits_as_convert_does(source, split):
    models = varnel.read(source, split=split, extended=True)
    frame = varnel.read_dataframe(source, split=split, extended=True)
    assert len(models) == len(frame)
    assert sum(len(m.points) for m in models) == len(varnel.read(source, extended=True)[0].points)


@pytest.mark.parametrize("source, error, kind", [
    ("/nonexistent/house.dae", FileNotFoundError, None),
    (DATA, IsADirectoryError, None),
    (os.path.join(DATA, "demo", "brick.png"), varnel.ImportError, "not-xml"),
    (b"<?xml version='1.0'?><root/>", varnel.ImportError, "not-collada"),
    (b"PK\x03\x04 truncated", varnel.ImportError, "archive"),
    (b"<kml xmlns='http://www.opengis.net/kml/2.2'><Document/></kml>", varnel.ImportError, "kml"),
    (kmz_bytes(0, 0), varnel.ImportError, "kml"),
])
def test_errors(source, error, kind):
    for read in (varnel.read, varnel.read_dataframe):
        with pytest.raises(error) as raised:
            read(source)
        if kind:
            assert raised.value.kind == kind and raised.value.message
            assert not isinstance(raised.value, ImportError)  # not Python's own


def test_bad_arguments_are_value_errors():
    with pytest.raises(ValueError):
        varnel.read(HOUSE, split="bogus")
    with pytest.raises(ValueError):
        varnel.read(HOUSE, origin=[9])
