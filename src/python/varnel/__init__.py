"""COLLADA documents, KMZ and ZAE archives as numpy arrays and GeoPandas frames.

    models = varnel.read("site.kmz")                  # one Model per placed model
    frame = varnel.read_dataframe("site.kmz", split="material")

A file that gives no model raises FileNotFoundError, IsADirectoryError or varnel.ImportError.
"""
import errno
import os
from dataclasses import dataclass, field

import numpy as np

from . import _varnel

# Not ImportError: `from varnel import *` must not hide Python's own.
__all__ = ["read", "read_dataframe", "Model", "Material", "Diagnostic"]


# Not the builtin ImportError: that one says a Python module failed to load, and a caller's
# `except ImportError` around an optional dependency must not swallow a bad document.
class ImportError(Exception):  # noqa: A001
    """A file gave no model. `kind`, `line` and `message` are those of the diagnostic that
    says why; `diagnostics` holds all of them."""

    def __init__(self, kind, line, message, diagnostics=()):
        where = f" (line {line})" if line else ""
        super().__init__(f"{kind}{where}: {message}")
        self.kind, self.line, self.message = kind, line, message
        self.diagnostics = list(diagnostics)


@dataclass(frozen=True)
class Diagnostic:
    kind: str  # "file-missing", "unknown-name", "kml", ... (varnel's DiagnosticKindName)
    line: int  # the document line, 0 when there is none
    message: str


@dataclass
class Material:
    name: str | None
    color: tuple | None  # (r, g, b), 0-255
    transparency: int | None  # percent
    cull: bool
    texture: np.ndarray | None  # pixels, height x width x channels, uint8
    texture_file: str | None  # the image file's name
    texture_of: int | None  # the material whose pixels it shows


@dataclass
class Model:
    """One model's multipatch: part i is points[part_offsets[i]:part_offsets[i + 1]]."""
    name: str
    source: str
    crs: str | None  # WKT of the placed coordinates; None when nothing places the model
    location: tuple | None  # (longitude, latitude, altitude) where it stands
    points: np.ndarray  # N x 3 float64
    normals: np.ndarray | None  # N x 3 float64
    texture_points: np.ndarray  # T x 2 float64
    part_offsets: np.ndarray  # P + 1 int64
    texture_offsets: np.ndarray  # P + 1 int64, into texture_points
    part_types: np.ndarray  # P int32: 6 triangle list, 2 outer ring, 3 inner ring, ...
    part_materials: np.ndarray  # P int32, -1 for none
    part_nodes: list  # P names of the scene node each part comes from
    materials: list = field(default_factory=list)
    diagnostics: list = field(default_factory=list)  # of the whole file


def _source(path_or_bytes):
    if isinstance(path_or_bytes, (bytes, bytearray, memoryview)):
        return bytes(path_or_bytes)
    return os.fspath(path_or_bytes)


def _call(function, path_or_bytes, extended, split, origin, a_srs, offset, t_srs, dem):
    source = _source(path_or_bytes)
    name = "<memory>" if isinstance(source, bytes) else source
    return source, function(source, name, bool(extended), split, list(origin or ()), a_srs or "",
                            list(offset or ()), t_srs or "", os.fspath(dem) if dem else "")


def _raise_for(source, diagnostics):
    said = [Diagnostic(*d) for d in diagnostics]
    first = said[0] if said else Diagnostic("empty-scene", 0, "no model gave output")
    path = source if isinstance(source, str) else None
    if first.kind == "file-missing":
        raise FileNotFoundError(errno.ENOENT, first.message, path)
    if first.kind == "folder":
        raise IsADirectoryError(errno.EISDIR, first.message, path)
    raise ImportError(first.kind, first.line, first.message, said)


def _subset(model, parts, name):
    """The model's parts `parts` (ascending) as a model of their own."""
    offsets, textures = model.part_offsets, model.texture_offsets
    points = np.concatenate([np.arange(offsets[p], offsets[p + 1]) for p in parts])
    texture = np.concatenate([np.arange(textures[p], textures[p + 1]) for p in parts])
    sizes = np.array([offsets[p + 1] - offsets[p] for p in parts])
    texture_sizes = np.array([textures[p + 1] - textures[p] for p in parts])
    return Model(name, model.source, model.crs, model.location, model.points[points],
                 None if model.normals is None else model.normals[points],
                 model.texture_points[texture.astype(np.int64)],
                 np.concatenate([[0], np.cumsum(sizes)]).astype(np.int64),
                 np.concatenate([[0], np.cumsum(texture_sizes)]).astype(np.int64),
                 model.part_types[parts], model.part_materials[parts],
                 [model.part_nodes[p] for p in parts], model.materials, model.diagnostics)


def _split(model, split, keys):
    """As `convert` splits: `keys` (from the module, by convert's rule) name each part's group:
    a node visit, a material, or a ring with its holes."""
    if split == "model" or len(keys) == 0:
        return [model]
    groups = {}
    for part, key in enumerate(keys.tolist()):
        groups.setdefault(key, []).append(part)

    def named(parts):
        if split == "node":
            return model.part_nodes[parts[0]] or model.name
        material = int(model.part_materials[parts[0]])
        if split == "material" and material >= 0:
            return model.materials[material].name or model.name
        return model.name
    return [_subset(model, np.array(parts), named(parts)) for parts in groups.values()]


def read(path_or_bytes, *, extended=False, split="model", origin=None, a_srs=None, offset=None,
         t_srs=None, dem=None):
    """The models of a COLLADA document, KMZ, ZAE or KML file (a path), or of the bytes of a
    .dae, .kmz or .zae. Placed (origin, a_srs with offset, t_srs, dem) as `varnel convert`
    places them; `split` splits each model as convert does. Returns a list of Model."""
    source, (raw_models, diagnostics) = _call(_varnel.read, path_or_bytes, extended, split,
                                              origin, a_srs, offset, t_srs, dem)
    if not raw_models:
        _raise_for(source, diagnostics)
    said = [Diagnostic(*d) for d in diagnostics]
    models = []
    for raw in raw_models:
        materials = [Material(m["name"], m["color"], m["transparency"], m["cull"], m["texture"],
                              m["texture_file"], m["texture_of"]) for m in raw["materials"]]
        model = Model(raw["name"], raw["source"], raw["crs"], raw["location"], raw["points"],
                      raw["normals"], raw["texture_points"], raw["part_offsets"],
                      raw["texture_offsets"], raw["part_types"], raw["part_materials"],
                      list(raw["part_nodes"]), materials, said)
        models.extend(_split(model, split.lower(), raw["split_keys"]))
    return models


_crs_objects = {}


def _crs(wkt):
    """pyproj's CRS of `wkt`, kept: parsing one takes longer than reading a small file."""
    if wkt is None:
        return None
    if wkt not in _crs_objects:
        import pyproj

        _crs_objects[wkt] = pyproj.CRS.from_wkt(wkt)
    return _crs_objects[wkt]


def _frame(path_or_bytes, extended=False, split="model", origin=None, a_srs=None, offset=None,
           t_srs=None, dem=None):
    """The frame of read_dataframe and, for each row, the index of its model in the file."""
    import geopandas
    import pandas

    source, (names, geometries, records, models, crs, diagnostics) = _call(
        _varnel.features, path_or_bytes, extended, split, origin, a_srs, offset, t_srs, dem)
    if not geometries:
        _raise_for(source, diagnostics)
    columns = {name: [row[i] for row in records] for i, name in enumerate(names)}
    frame = geopandas.GeoDataFrame(
        pandas.DataFrame(columns),
        geometry=geopandas.GeoSeries.from_wkb(geometries, crs=_crs(crs)))
    frame.attrs["diagnostics"] = [Diagnostic(*d) for d in diagnostics]
    return frame, models


def read_dataframe(path_or_bytes, *, extended=False, split="model", origin=None, a_srs=None,
                   offset=None, t_srs=None, dem=None):
    """A GeoDataFrame of the features `varnel convert` writes for the file (MultiPolygon Z
    geometries, its fields, its CRS); the diagnostics are in `frame.attrs["diagnostics"]`."""
    return _frame(path_or_bytes, extended, split, origin, a_srs, offset, t_srs, dem)[0]
