#!/usr/bin/python3
"""Triangle counts and extents of varnel against Debian's assimp over a folder of COLLADA documents.

  tools/scripts/compare-assimp.py VARNEL [CORPUS_DIR] [-- VARNEL_OPTIONS...]

For every document both read, prints whether the triangle counts and the extents agree, then a
summary. assimp runs with its pre-transform step (-ptv), so it counts every instance as varnel does. varnel's count: a triangle part of n points is n / 3 triangles, a ring of n + 1 points
(closed) n - 2; inner rings (holes) add nothing, as the outer ring's count already covers the area
assimp fills. varnel turns documents Z-up, assimp Y-up, so the extents are compared as
varnel (x, y, z) = assimp (x, -z, y); only for documents in metres, as the two apply a <unit>
differently (assimp leaves the coordinates as written).
"""
import json, math, os, re, subprocess, sys

def varnel_figures(tool, path, options):
    try:
        out = subprocess.run([tool, "dump", *options, path], capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        return None
    triangles, part_type, extent = 0, None, None
    for line in out.stdout.splitlines():
        call = json.loads(line)
        if call["call"] == "SetCurrentPart":
            part_type = call["type"]
        elif call["call"] == "SetCurrentLine":
            part_type = None
        elif call["call"] == "SetPartData" and part_type is not None:
            n = call["points"]
            triangles += n // 3 if part_type == 6 else (max(n - 3, 0) if part_type == 2 else 0)
        elif call["call"] == "SetExtent":
            extent = call["extent"] if "extent" in call else [call[k] for k in ("xMin", "yMin", "zMin", "xMax", "yMax", "zMax")]
    return triangles, extent

def assimp_figures(path):
    try:
        out = subprocess.run(["assimp", "info", path, "-ptv"], capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        return None
    text = out.stdout
    faces = re.search(r"^Faces:\s+(\d+)", text, re.M)
    types = re.search(r"^Primitive Types:\s+(.*)$", text, re.M)
    lo = re.search(r"^Minimum point\s+\(([^)]*)\)", text, re.M)
    hi = re.search(r"^Maximum point\s+\(([^)]*)\)", text, re.M)
    if out.returncode != 0 or not faces or not lo or not hi:
        return None
    a = [float(v) for v in lo.group(1).split()]
    b = [float(v) for v in hi.group(1).split()]
    return int(faces.group(1)), (types.group(1).strip() if types else ""), a, b

def main():
    args = sys.argv[1:]
    options = args[args.index("--") + 1:] if "--" in args else []
    args = args[:args.index("--")] if "--" in args else args
    tool = args[0]
    corpus = args[1] if len(args) > 1 else os.path.join(os.path.dirname(__file__), "../../../shared/corpus")
    documents = sorted(os.path.join(d, f) for d, _, fs in os.walk(corpus) for f in fs if f.lower().endswith(".dae"))
    both = agree_count = agree_extent = with_output = in_metres = 0
    for path in documents:
        v = varnel_figures(tool, path, options)
        if v is None:
            continue
        with_output += 1
        a = assimp_figures(path)
        if a is None or a[1] != "triangles":
            continue  # assimp could not read it, or counts lines and points among its faces
        both += 1
        triangles, extent = v
        faces, _, lo, hi = a
        # varnel (x, y, z) = assimp (x, -z, y)
        mapped = [lo[0], -hi[2], lo[1], hi[0], -lo[2], hi[1]]
        size = math.dist(mapped[:3], mapped[3:])
        with open(path, "rb") as f:
            unit = re.search(rb'<unit[^>]*meter="([^"]*)"', f.read(65536))
        try:
            metres = unit is None or abs(float(unit.group(1)) - 1) < 1e-9
        except ValueError:  # "0,01": not a number varnel reads as such either
            metres = False
        same_extent = extent is not None and all(
            abs(extent[i] - mapped[i]) <= 1e-3 * max(size, 1e-9) for i in range(6))
        agree_count += triangles == faces
        in_metres += metres
        agree_extent += metres and same_extent
        if triangles != faces or (metres and not same_extent):
            rel = os.path.relpath(path, corpus)
            extent_note = "" if not metres else "; extent " + ("agrees" if same_extent else "differs")
            print(f"{rel}: triangles {triangles} vs {faces}{extent_note}")
    print(f"documents {len(documents)}, with varnel output {with_output}, also read by assimp as "
          f"triangles {both}: triangle counts agree {agree_count}; of {in_metres} in metres, "
          f"extents agree {agree_extent}")

main()
