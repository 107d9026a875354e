// What `varnel tiles` writes, checked against what 3D Tiles and the models' placement demand:
// content that resolves, boxes that hold every vertex of their tile and its descendants (1 mm),
// geometric errors that fall to 0 at the leaves, each model's origin where PROJ puts its
// location (1 mm), one feature per model, each image once per tile, and GLBs the Khronos
// validator passes. Then the refusals, the texture bound and the corpus's placed archives.
//   node structure.mjs TOOL GENERATOR WORK_DIR [MODELS [CORPUS_DIR]]
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [tool, generator, work, models = '1500', corpus = ''] = process.argv.slice(2);
let validator;
try {
  validator = await import('gltf-validator');
} catch {
  console.log('skipped: needs the npm packages (make deps)');
  process.exit(77);
}
let failures = 0;
const fail = (what) => { console.log(`FAILED ${what}`); ++failures; };
const varnel = (...args) => spawnSync(tool, args, { encoding: 'utf8' });

rmSync(work, { recursive: true, force: true });
mkdirSync(work, { recursive: true });
const city = join(work, 'city');
execFileSync('python3', [generator, 'placed', models, city]);
const kmls = readdirSync(city).filter((f) => f.endsWith('.kml')).map((f) => join(city, f));
const maxBytes = 65536;
let run;

// Column-major 4 x 4 matrices, as glTF and 3D Tiles store them.
const multiply = (a, b) => {
  const m = new Array(16).fill(0);
  for (let c = 0; c < 4; ++c) for (let r = 0; r < 4; ++r) for (let k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return m;
};
const apply = (m, [x, y, z]) => [0, 1, 2].map((r) => m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r]);
const identity = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1];
const local = (node) => {
  if (node.matrix) return node.matrix;
  const [x, y, z, w] = node.rotation ?? [0, 0, 0, 1], [sx, sy, sz] = node.scale ?? [1, 1, 1], t = node.translation ?? [0, 0, 0];
  return [(1 - 2 * (y * y + z * z)) * sx, 2 * (x * y + z * w) * sx, 2 * (x * z - y * w) * sx, 0,
          2 * (x * y - z * w) * sy, (1 - 2 * (x * x + z * z)) * sy, 2 * (y * z + x * w) * sy, 0,
          2 * (x * z + y * w) * sz, 2 * (y * z - x * w) * sz, (1 - 2 * (x * x + y * y)) * sz, 0, ...t, 1];
};
const yUpToZUp = [1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1];

function readGlb(path) {
  const bytes = readFileSync(path);
  const jsonLength = bytes.readUInt32LE(12);
  const json = JSON.parse(bytes.subarray(20, 20 + jsonLength).toString());
  return { json, bin: bytes.subarray(28 + jsonLength), bytes };
}

// Every tile's GLB, checked. `expected`: earth-centred origins by model name; returns, by name,
// the distance from there to the model's nearest vertex (its origin is a corner of it).
async function checkSet(dir, bound, expected = new Map()) {
  const set = JSON.parse(readFileSync(join(dir, 'tileset.json'), 'utf8'));
  if (set.asset.version !== '1.1') fail(`${dir}: asset.version ${set.asset.version}`);
  if (!existsSync(join(dir, set.schemaUri))) fail(`${dir}: schema ${set.schemaUri} missing`);
  const nearest = new Map(), glbs = [];
  const within = (p, box) => [0, 1, 2].every((k) => Math.abs(p[k] - box[k]) <= box[3 + 4 * k] + 0.001);
  const visit = (tile, boxes) => {
    boxes = [...boxes, tile.boundingVolume.box];
    for (const child of tile.children ?? [])
      if (!(child.geometricError <= tile.geometricError)) fail(`geometric error grows: ${child.geometricError} under ${tile.geometricError}`);
    if (!tile.children?.length && tile.geometricError !== 0) fail(`a leaf's geometric error is ${tile.geometricError}`);
    if (tile.content) {
      const path = join(dir, tile.content.uri);
      if (!existsSync(path)) return fail(`content ${tile.content.uri} does not resolve`);
      glbs.push(path);
      const { json, bin, bytes } = readGlb(path);
      const view = (i) => { const v = json.bufferViews[i]; return bin.subarray(v.byteOffset ?? 0, (v.byteOffset ?? 0) + v.byteLength); };
      const metadata = json.extensions?.EXT_structural_metadata, table = metadata?.propertyTables[0];
      if (metadata?.schemaUri !== '../schema.json' || !table?.properties.name) return fail(`${tile.content.uri}: metadata ${JSON.stringify(metadata)}`);
      const values = view(table.properties.name.values), offsets = view(table.properties.name.stringOffsets);
      const names = Array.from({ length: table.count }, (_, i) => values.subarray(offsets.readUInt32LE(4 * i), offsets.readUInt32LE(4 * i + 4)).toString());
      const features = new Set();
      const walk = (index, parent) => {
        const node = json.nodes[index], m = multiply(parent, local(node));
        (node.children ?? []).forEach((c) => walk(c, m));
        for (const primitive of node.mesh === undefined ? [] : json.meshes[node.mesh].primitives) {
          const read = (name, offset) => {
            const accessor = json.accessors[primitive.attributes[name]], v = json.bufferViews[accessor.bufferView];
            return (k, o = 0) => (v.byteOffset ?? 0) + (accessor.byteOffset ?? 0) + k * (v.byteStride ?? offset) + o;
          };
          const position = read('POSITION', 12), feature = read('_FEATURE_ID_0', 2);
          const floats = json.accessors[primitive.attributes._FEATURE_ID_0].componentType === 5126;
          for (let k = 0; k < json.accessors[primitive.attributes.POSITION].count; ++k) {
            const p = apply(m, [0, 4, 8].map((o) => bin.readFloatLE(position(k, o))));
            if (!boxes.every((box) => within(p, box))) return fail(`${tile.content.uri}: a vertex outside a box`);
            const id = floats ? bin.readFloatLE(feature(k)) : bin.readUInt16LE(feature(k));
            features.add(id);
            const origin = expected.get(names[id]);
            if (origin) {
              const d = Math.hypot(...apply(set.root.transform, p).map((v, i) => v - origin[i]));
              nearest.set(names[id], Math.min(nearest.get(names[id]) ?? Infinity, d));
            }
          }
        }
      };
      json.scenes[0].nodes.forEach((n) => walk(n, yUpToZUp));
      if (features.size !== table.count) fail(`${tile.content.uri}: ${features.size} features drawn, ${table.count} in the table`);
      const images = (json.images ?? []).map((i) => view(i.bufferView).toString('base64'));
      if (new Set(images).size !== images.length) fail(`${tile.content.uri}: an image twice`);
      if (table.count > 1 && bytes.length > bound) fail(`${tile.content.uri}: ${bytes.length} bytes, over ${bound}`);
    }
    for (const child of tile.children ?? []) visit(child, boxes);
  };
  visit(set.root, []);
  for (const glb of glbs) {
    const report = await validator.validateBytes(new Uint8Array(readFileSync(glb)), { uri: glb });
    if (report.issues.numErrors || report.issues.numWarnings)
      fail(`${glb}: ${JSON.stringify(report.issues.messages.filter((m) => m.severity <= 1).slice(0, 3))}`);
  }
  return { nearest, glbs };
}

// Each placemark's origin by PROJ: sea-level heights to the ellipsoid, then to earth-centred.
const placemarks = kmls.flatMap((k) => [...readFileSync(k, 'utf8').matchAll(
  /<name>([^<]*)<\/name>.*?<longitude>([^<]*)<\/longitude><latitude>([^<]*)<\/latitude><altitude>([^<]*)</g)]);
const cs2cs = (from, to, lines) => execFileSync('cs2cs', ['-f', '%.10f', from, to], { input: lines.join('\n') + '\n', encoding: 'utf8', maxBuffer: 1 << 30 })
  .trim().split('\n').map((l) => l.split(/\s+/).map(Number));
const ellipsoidal = cs2cs('EPSG:4326+5773', 'EPSG:4979', placemarks.map(([, , lon, lat, alt]) => `${lat} ${lon} ${alt}`));
const ecef = cs2cs('EPSG:4979', 'EPSG:4978', ellipsoidal.map(([lat, lon, h]) => `${lat} ${lon} ${h}`));
// Parents without content that add their children, then (--lod) with a simplified copy of them
// that their children replace.
for (const [lod, refine] of [[[], 'ADD'], [['--lod'], 'REPLACE']]) {
  const dir = join(work, `set${lod.join('')}`);
  run = varnel('tiles', ...kmls, '-o', dir, '--max-tile-bytes', String(maxBytes), '-j', '2', ...lod);
  if (run.status !== 0) { fail(`tiles ${lod}: ${run.stderr}`); continue; }
  const { nearest, glbs } = await checkSet(dir, maxBytes, new Map(placemarks.map(([, name], i) => [name, ecef[i]])));
  const { root } = JSON.parse(readFileSync(join(dir, 'tileset.json'), 'utf8'));
  if (root.refine !== refine || !root.content !== !lod.length) fail(`${lod}: the root refines by ${root.refine}, content ${root.content?.uri}`);
  if (glbs.length < 4) fail(`only ${glbs.length} tiles: the bound split nothing`);
  if (nearest.size !== placemarks.length) fail(`${nearest.size} models in the tiles, ${placemarks.length} placemarks`);
  const worst = Math.max(...nearest.values());
  if (!(worst <= 0.001)) fail(`a model's origin is ${worst} m from PROJ's`);
  console.log(`${lod}: ${placemarks.length} models in ${glbs.length} tiles; origins within ${(worst * 1000).toFixed(3)} mm of PROJ's`);
}

// -a_srs: a building in UTM coordinates about a false origin stands where PROJ puts that origin.
const [projected] = cs2cs('EPSG:32632', 'EPSG:4978', ['465000 5247000 400']);
run = varnel('tiles', join(city, 'b0.dae'), '-a_srs', 'EPSG:32632', '--offset', '465000,5247000,400', '-o', join(work, 'projected'));
if (run.status !== 0) fail(`-a_srs: ${run.stderr}`);
else {
  const { nearest } = await checkSet(join(work, 'projected'), 1 << 20, new Map([['b0.dae', projected]]));
  const off = nearest.get('b0.dae');
  if (!(off <= 0.001)) fail(`-a_srs: the origin is ${off} m from PROJ's (${[...nearest.keys()]})`);
  console.log(`-a_srs: the origin within ${(off * 1000).toFixed(3)} mm of PROJ's`);
}

// Refusals leave nothing: a model nothing places, a folder that is no tileset.
const house = join(work, 'house.dae');
writeFileSync(house, readFileSync(new URL('../data/demo/house.dae', import.meta.url)));
writeFileSync(join(work, 'brick.png'), readFileSync(new URL('../data/demo/brick.png', import.meta.url)));
run = varnel('tiles', kmls[0], house, '-o', join(work, 'unplaced'));
if (run.status !== 1 || !run.stderr.includes('house.dae') || existsSync(join(work, 'unplaced'))) fail(`unplaced: ${run.status} ${run.stderr}`);
run = varnel('tiles', house, '--origin', '8.5,47.4', '-o', city);
if (run.status !== 2 || !existsSync(join(city, 'b0.dae'))) fail(`a folder that is no tileset: ${run.status} ${run.stderr}`);
// A model over the bound gets a tile of its own and says so; --max-texture resamples.
run = varnel('tiles', house, house, '--origin', '8.5,47.4,400', '--max-tile-bytes', '1024', '--max-texture', '8', '-v', '-o', join(work, 'house'));
if (run.status !== 0 || !run.stderr.includes('a tile of its own')) fail(`house: ${run.status} ${run.stderr}`);
else {
  const houseSet = await checkSet(join(work, 'house'), 1024);
  for (const glb of houseSet.glbs) {
    const { json, bin } = readGlb(glb);
    for (const image of json.images ?? []) {
      const png = bin.subarray(json.bufferViews[image.bufferView].byteOffset);
      if (Math.max(png.readUInt32BE(16), png.readUInt32BE(20)) > 8) fail(`${glb}: an image over --max-texture`);
    }
  }
  if (houseSet.glbs.length !== 2) fail(`house: ${houseSet.glbs.length} tiles for two models over the bound`);
}

// The corpus's archives (a ZAE placed by --origin): a tileset, or a refusal that names the file.
if (corpus && existsSync(corpus)) {
  const archives = readdirSync(corpus, { recursive: true }).filter((f) => /\.(kmz|kml|zae)$/i.test(f));
  for (const [archive, lod] of archives.flatMap((a) => [[a, []], [a, ['--lod']]])) {
    const out = join(work, 'corpus', archive.replace(/\W/g, '_') + lod.join(''));
    const origin = /\.zae$/i.test(archive) ? ['--origin', '8.54,47.37,400,30'] : [];
    run = varnel('tiles', join(corpus, archive), ...origin, ...lod, '-o', out);
    if (run.status === 0) await checkSet(out, 1 << 20);
    else if (run.status !== 1 || !run.stderr.includes(archive.split('/').pop()) || existsSync(out))
      fail(`${archive}: ${run.status} ${run.stderr}`);
  }
  console.log(`${archives.length} corpus archives`);
}
process.exit(failures ? 1 : 0);
