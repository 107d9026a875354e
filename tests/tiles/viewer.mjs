// The page `varnel tiles --viewer` writes, in headless Chromium from a local server: the tileset
// loads within 30 s without a failed tile, a console error or a request that leaves this machine;
// a known model's projected centre shows the model (the pixel changes when the tileset is hidden)
// and picking there names it; with and without --lod. The screenshots stay in OUT_DIR.
//   node viewer.mjs TOOL GENERATOR OUT_DIR   (exit 77: no browser or npm packages)
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

const chromium = '/usr/bin/chromium';
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {}
const [tool, generator, out] = process.argv.slice(2);
if (!puppeteer || !existsSync(chromium)) {
  console.log('skipped: needs Chromium and the npm packages (make deps)');
  process.exit(77);
}
rmSync(out, { recursive: true, force: true });
mkdirSync(out, { recursive: true });
const city = join(out, 'city');
execFileSync('python3', [generator, 'placed', '300', city]);
const kmls = readdirSync(city).filter((f) => f.endsWith('.kml')).map((f) => join(city, f));
// Parents that add their children, and (--lod) simplified parents that their children replace.
const runs = [[], ['--lod']].map((flags) => ({ flags, set: join(out, `set${flags.join('')}`) }));
for (const { flags, set } of runs)
  execFileSync(tool, ['tiles', ...kmls, '--viewer', '--max-tile-bytes', '65536', ...flags, '-o', set]);
let set;  // the folder served

// The known model: the first placemark, its height on the ellipsoid from PROJ.
const [, lon, lat, alt, heading, kind] = readFileSync(kmls[0], 'utf8').match(
  /<longitude>([^<]*)<\/longitude><latitude>([^<]*)<\/latitude><altitude>([^<]*)<\/altitude>.*?<heading>([^<]*)<\/heading>.*?b(\d)\.dae/);
const height = Number(execFileSync('cs2cs', ['-f', '%.6f', 'EPSG:4326+5773', 'EPSG:4979'],
  { input: `${lat} ${lon} ${alt}\n`, encoding: 'utf8' }).trim().split(/\s+/)[2]);
// Its centre in its east-north-up frame: the building's half sizes, turned by the heading.
const k = Number(kind), half = [(8 + k) / 2, (10 + 2 * k) / 2, (6 + 5 * k) / 2];
const turn = -Number(heading) * Math.PI / 180;
const centre = [half[0] * Math.cos(turn) - half[1] * Math.sin(turn), half[0] * Math.sin(turn) + half[1] * Math.cos(turn), half[2]];

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
                '.glb': 'model/gltf-binary', '.png': 'image/png', '.jpg': 'image/jpeg', '.wasm': 'application/wasm' };
const server = createServer((request, response) => {
  const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
  const file = join(set, path === '/' ? 'index.html' : path);
  if (!file.startsWith(set) || !existsSync(file) || !/\.[a-z]+$/.test(file)) return response.writeHead(404).end();
  response.writeHead(200, { 'content-type': types[extname(file)] ?? 'application/octet-stream' });
  response.end(readFileSync(file));
});
await new Promise((done) => server.listen(0, '127.0.0.1', done));
const profile = mkdtempSync(join(tmpdir(), 'varnel-chromium-'));
const browser = await puppeteer.launch({
  executablePath: chromium, headless: true, userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'],
});
let failed = 0, flags;
const check = (ok, what) => { console.log(`${ok ? 'ok' : 'FAILED'} ${flags} ${what}`); if (!ok) ++failed; };
try {
  for ({ flags, set } of runs) {
    const page = await browser.newPage();
    await page.setViewport({ width: 800, height: 500 });
    const outside = [], errors = [];
    page.on('request', (r) => {
      const url = new URL(r.url());
      if (!/^(data|blob):$/.test(url.protocol) && url.hostname !== '127.0.0.1') outside.push(r.url());
    });
    page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
    page.on('pageerror', (e) => errors.push(e.message));
    page.on('response', (r) => r.status() >= 400 && errors.push(`${r.status()} ${r.url()}`));
    const start = Date.now();
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForFunction(() => window.varnel?.ready && window.varnel.loaded, { timeout: 30000, polling: 200 })
      .catch(() => {});
    const loaded = await page.evaluate(() => window.varnel?.loaded === true);
    check(loaded, `allTilesLoaded after ${((Date.now() - start) / 1000).toFixed(1)} s`);

    // Close to the known model, every tile there loaded, one frame's pixel at its projected centre
    // with the tileset shown and hidden.
    const seen = await page.evaluate(async (lon, lat, height, centre) => {
      const { viewer, tileset } = window.varnel, scene = viewer.scene;
      const enu = Cesium.Transforms.eastNorthUpToFixedFrame(Cesium.Cartesian3.fromDegrees(lon, lat, height));
      const at = Cesium.Matrix4.multiplyByPoint(enu, new Cesium.Cartesian3(...centre), new Cesium.Cartesian3());
      scene.camera.lookAt(at, new Cesium.HeadingPitchRange(0.5, -0.45, 70));
      const frame = () => new Promise((done) => { const stop = scene.postRender.addEventListener(() => { stop(); done(); }); });
      const pixel = (x, y) => new Promise((done) => {
        const stop = scene.postRender.addEventListener(() => {
          stop();
          const c = new OffscreenCanvas(scene.canvas.width, scene.canvas.height).getContext('2d');
          c.drawImage(scene.canvas, 0, 0);
          done([...c.getImageData(x, y, 1, 1).data.slice(0, 3)]);
        });
      });
      for (let i = 0; i < 600 && !(i > 5 && tileset.tilesLoaded); ++i) await frame();
      const where = Cesium.SceneTransforms.worldToWindowCoordinates(scene, at);
      const x = Math.round(where.x), y = Math.round(where.y);
      const shown = await pixel(x, y);
      tileset.show = false;
      const hidden = await pixel(x, y);
      tileset.show = true;
      await frame();
      return { x, y, shown, hidden, picked: window.varnel.pick(x, y) };
    }, Number(lon), Number(lat), height, centre);
    const difference = seen.shown.reduce((sum, v, i) => sum + Math.abs(v - seen.hidden[i]), 0);
    check(difference > 40, `the model at (${seen.x}, ${seen.y}): ${seen.shown} shown, ${seen.hidden} hidden`);
    check(seen.picked?.name === 'building 0' && seen.picked.description === `kind ${kind}`, `picking there: ${JSON.stringify(seen.picked)}`);
    await page.mouse.click(seen.x, seen.y);
    await new Promise((done) => setTimeout(done, 500));
    await page.screenshot({ path: join(out, `viewer${flags.join('')}.png`) });
    const failedTiles = await page.evaluate(() => window.varnel.failed);
    check(failedTiles === 0, `${failedTiles} tiles failed`);
    check(errors.length === 0, `${errors.length} console errors ${errors.slice(0, 3).join(' | ')}`);
    check(outside.length === 0, `${outside.length} requests left this machine ${outside.slice(0, 3).join(' ')}`);
    await page.close();
  }
} finally {
  await browser.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
