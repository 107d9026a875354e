#!/usr/bin/env python3
"""Writes the documents bench/compare.sh measures.

  make_documents.py mesh TRIANGLES OUT.dae   one textured mesh with normals, TRIANGLES triangles
  make_documents.py city NODES OUT.dae       NODES nodes, each instancing one of a few buildings
  make_documents.py placed MODELS OUT_DIR    MODELS placemarks on the earth, each showing one of a
                                             few building documents (KML files of 5,000 each)

Values come from a fixed seed, so every run writes the same bytes.
"""
import random
import struct
import sys
from pathlib import Path

HEAD = """<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><unit name="meter" meter="1"/><up_axis>Z_UP</up_axis></asset>
"""

EFFECTS = """  <library_images><image id="img"><init_from>{texture}</init_from></image></library_images>
  <library_materials>
    <material id="textured"><instance_effect url="#e-textured"/></material>
    <material id="painted"><instance_effect url="#e-painted"/></material>
  </library_materials>
  <library_effects>
    <effect id="e-textured"><profile_COMMON>
      <newparam sid="surface"><surface type="2D"><init_from>img</init_from></surface></newparam>
      <newparam sid="sampler"><sampler2D><source>surface</source></sampler2D></newparam>
      <technique sid="common"><lambert><diffuse><texture texture="sampler" texcoord="UV"/></diffuse></lambert></technique>
    </profile_COMMON></effect>
    <effect id="e-painted"><profile_COMMON><technique sid="common"><lambert><diffuse>
      <color>0.8 0.4 0.2 1</color></diffuse></lambert></technique></profile_COMMON></effect>
  </library_effects>
"""


def write_bmp(path):
    """A 4x4 24-bit BMP: the textured effect needs an image file that exists."""
    pixels = bytes((i * 5) % 256 for i in range(48))
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, 4, 4, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    path.write_bytes(header + info + pixels)


def floats(values):
    return " ".join("%.6g" % v for v in values)


def source(out, sid, values, params):
    count = len(values)
    out.write('<source id="%s"><float_array id="%s-a" count="%d">' % (sid, sid, count))
    for start in range(0, count, 60000):
        out.write(floats(values[start:start + 60000]))
        out.write("\n")
    stride = len(params)
    out.write('</float_array><technique_common><accessor source="#%s-a" count="%d" stride="%d">'
              % (sid, count // stride, stride))
    out.write("".join('<param name="%s" type="float"/>' % p for p in params))
    out.write("</accessor></technique_common></source>\n")


def mesh(triangles, path):
    """A terrain-like grid, two triangles a cell, walked in order: neighbouring triangles share
    vertices, as exported meshes keep them together. Every input uses the vertex's index."""
    rnd = random.Random(16)
    columns = max(2, int((triangles / 2) ** 0.5) + 1)
    rows = max(2, -(-triangles // (2 * (columns - 1))) + 1)
    vertices = columns * rows
    with open(path, "w") as out:
        out.write(HEAD + EFFECTS.format(texture="texture.bmp"))
        out.write('  <library_geometries><geometry id="g"><mesh>\n')
        points = []
        for r in range(rows):
            for c in range(columns):
                points += [c * 0.5 + rnd.uniform(-0.1, 0.1), r * 0.5 + rnd.uniform(-0.1, 0.1),
                           rnd.uniform(0, 40)]
        source(out, "p", points, "XYZ")
        normals = []
        for _ in range(vertices):
            x, y, z = rnd.uniform(-1, 1), rnd.uniform(-1, 1), rnd.uniform(0.1, 1)
            length = (x * x + y * y + z * z) ** 0.5
            normals += [x / length, y / length, z / length]
        source(out, "n", normals, "XYZ")
        source(out, "t", [v for r in range(rows) for c in range(columns)
                          for v in (c / (columns - 1), r / (rows - 1))], "ST")
        out.write('<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>\n')
        out.write('<triangles material="mat" count="%d">' % triangles)
        out.write('<input semantic="VERTEX" source="#v" offset="0"/>'
                  '<input semantic="NORMAL" source="#n" offset="1"/>'
                  '<input semantic="TEXCOORD" source="#t" offset="2" set="0"/><p>')
        chunk = []
        for t in range(triangles):
            cell = t // 2
            a = cell // (columns - 1) * columns + cell % (columns - 1)
            corners = (a, a + 1, a + columns + 1) if t % 2 == 0 else (a, a + columns + 1, a + columns)
            chunk += ["%d %d %d" % (i, i, i) for i in corners]
            if len(chunk) >= 30000:
                out.write(" ".join(chunk) + "\n")
                chunk = []
        out.write(" ".join(chunk))
        out.write("</p></triangles>\n</mesh></geometry></library_geometries>\n")
        out.write('  <library_visual_scenes><visual_scene id="s"><node id="n">'
                  '<instance_geometry url="#g"><bind_material><technique_common>'
                  '<instance_material symbol="mat" target="#textured"/>'
                  "</technique_common></bind_material></instance_geometry></node>"
                  "</visual_scene></library_visual_scenes>\n")
        out.write('  <scene><instance_visual_scene url="#s"/></scene>\n</COLLADA>\n')
    write_bmp(Path(path).parent / "texture.bmp")


BOX = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
BOX_FACES = [(0, 2, 1), (0, 3, 2), (4, 5, 6), (4, 6, 7), (0, 1, 5), (0, 5, 4),
             (1, 2, 6), (1, 6, 5), (2, 3, 7), (2, 7, 6), (3, 0, 4), (3, 4, 7)]


def city(nodes, path):
    rnd = random.Random(40)
    kinds = 8
    with open(path, "w") as out:
        out.write(HEAD + EFFECTS.format(texture="texture.bmp"))
        out.write("  <library_geometries>\n")
        for k in range(kinds):
            w, d, h = 8 + k, 10 + 2 * k, 6 + 5 * k
            points = [c for x, y, z in BOX for c in (x * w, y * d, z * h)]
            out.write('<geometry id="b%d"><mesh>' % k)
            out.write('<source id="b%d-p"><float_array id="b%d-pa" count="24">%s</float_array>'
                      '<technique_common><accessor source="#b%d-pa" count="8" stride="3">'
                      '<param name="X" type="float"/><param name="Y" type="float"/>'
                      '<param name="Z" type="float"/></accessor></technique_common></source>'
                      % (k, k, floats(points), k))
            out.write('<vertices id="b%d-v"><input semantic="POSITION" source="#b%d-p"/></vertices>'
                      % (k, k))
            out.write('<triangles material="mat" count="12"><input semantic="VERTEX" '
                      'source="#b%d-v" offset="0"/><p>%s</p></triangles></mesh></geometry>\n'
                      % (k, " ".join(str(i) for f in BOX_FACES for i in f)))
        out.write("  </library_geometries>\n")
        out.write('  <library_visual_scenes><visual_scene id="s">\n')
        side = int(nodes ** 0.5) + 1
        for i in range(nodes):
            x, y = 40 * (i % side), 40 * (i // side)
            out.write('<node id="n%d" name="building %d"><translate>%d %d 0</translate>'
                      '<rotate>0 0 1 %d</rotate><instance_geometry url="#b%d"><bind_material>'
                      '<technique_common><instance_material symbol="mat" target="#painted"/>'
                      "</technique_common></bind_material></instance_geometry></node>\n"
                      % (i, i, x, y, rnd.randrange(360), rnd.randrange(kinds)))
        out.write("  </visual_scene></library_visual_scenes>\n")
        out.write('  <scene><instance_visual_scene url="#s"/></scene>\n</COLLADA>\n')
    write_bmp(Path(path).parent / "texture.bmp")


def building(k, path):
    """A box building; the even kinds textured, their walls mapped once around."""
    w, d, h = 8 + k, 10 + 2 * k, 6 + 5 * k
    points = [c for x, y, z in BOX for c in (x * w, y * d, z * h)]
    textured = k % 2 == 0
    with open(path, "w") as out:
        out.write(HEAD + EFFECTS.format(texture="texture.bmp"))
        out.write('  <library_geometries><geometry id="g"><mesh>\n')
        source(out, "p", points, "XYZ")
        inputs = '<input semantic="VERTEX" source="#v" offset="0"/>'
        corners = [i for f in BOX_FACES for i in f]
        p = " ".join(str(i) for i in corners)
        if textured:
            source(out, "t", [v for x, y, z in BOX for v in ((x + y) / 2, z)], "ST")
            inputs += '<input semantic="TEXCOORD" source="#t" offset="0" set="0"/>'
        out.write('<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>\n')
        out.write('<triangles material="mat" count="12">%s<p>%s</p></triangles>\n' % (inputs, p))
        out.write("</mesh></geometry></library_geometries>\n")
        out.write('  <library_visual_scenes><visual_scene id="s"><node id="n">'
                  '<instance_geometry url="#g"><bind_material><technique_common>'
                  '<instance_material symbol="mat" target="#%s"/>'
                  "</technique_common></bind_material></instance_geometry></node>"
                  "</visual_scene></library_visual_scenes>\n" % ("textured" if textured else "painted"))
        out.write('  <scene><instance_visual_scene url="#s"/></scene>\n</COLLADA>\n')


def placed(models, folder):
    """Placemarks on a 40 m grid about 8.54 E, 47.37 N, heights above sea level (absolute)."""
    rnd = random.Random(27)
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    kinds = 8
    for k in range(kinds):
        building(k, folder / ("b%d.dae" % k))
    write_bmp(folder / "texture.bmp")
    side = int(models ** 0.5) + 1
    per_file = 5000
    for first in range(0, models, per_file):
        with open(folder / ("city-%d.kml" % (first // per_file)), "w") as out:
            out.write('<?xml version="1.0" encoding="utf-8"?>\n'
                      '<kml xmlns="http://www.opengis.net/kml/2.2"><Document>\n')
            for i in range(first, min(models, first + per_file)):
                kind = rnd.randrange(kinds)
                longitude = 8.54 + 40 * (i % side) / 75300.0
                latitude = 47.37 + 40 * (i // side) / 111180.0
                out.write("<Placemark><name>building %d</name><description>kind %d</description>"
                          "<Model><altitudeMode>absolute"
                          "</altitudeMode><Location><longitude>%.7f</longitude><latitude>%.7f"
                          "</latitude><altitude>%d</altitude></Location><Orientation><heading>%d"
                          "</heading></Orientation><Link><href>b%d.dae</href></Link></Model>"
                          "</Placemark>\n" % (i, kind, longitude, latitude, 400 + i % 7,
                                              rnd.randrange(360), kind))
            out.write("</Document></kml>\n")


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("mesh", "city", "placed"):
        sys.exit(__doc__)
    {"mesh": mesh, "city": city, "placed": placed}[sys.argv[1]](int(sys.argv[2]), sys.argv[3])
