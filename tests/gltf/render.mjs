// Renders what `varnel gltf` writes in headless Chromium with three.js and checks that the pixels
// at each model's projected centre show its texture, not the background nor a flat colour.
//   node render.mjs TOOL OUT_DIR MODEL...   (screenshots stay in OUT_DIR; exit 77: no browser)
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { basename, dirname, extname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const chromium = '/usr/bin/chromium';
const three = resolve(dirname(fileURLToPath(import.meta.url)), '../../node_modules/three');
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {}
if (!puppeteer || !existsSync(chromium) || !existsSync(three)) {
  console.log('skipped: needs Chromium and the npm packages (make deps)');
  process.exit(77);
}

const [tool, out, ...named] = process.argv.slice(2);
const models = named.filter((m) => existsSync(m));  // the duck lives in the shared corpus
mkdirSync(out, { recursive: true });
rmSync(join(out, 'three'), { force: true });
symlinkSync(three, join(out, 'three'));
const page = `<!doctype html><body style="margin:0;background:#f0f">
<script type="importmap">{"imports":{"three":"./three/build/three.module.js","three/addons/":"./three/examples/jsm/"}}</script>
<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const model = new URLSearchParams(location.search).get('model');
const renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
renderer.setSize(512, 512);
renderer.setClearColor(0xff00ff);
document.body.appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.add(new THREE.HemisphereLight(0xffffff, 0x444444, 2), new THREE.AmbientLight(0xffffff, 1));
const gltf = await new GLTFLoader().loadAsync(model);
scene.add(gltf.scene);
const box = new THREE.Box3().setFromObject(gltf.scene);
const centre = box.getCenter(new THREE.Vector3()), size = box.getSize(new THREE.Vector3()).length();
const camera = new THREE.PerspectiveCamera(40, 1, size / 100, size * 10);
camera.position.copy(centre).add(new THREE.Vector3(0.6, -0.2, 1).normalize().multiplyScalar(size * 1.4));
camera.lookAt(centre);
renderer.render(scene, camera);
const at = centre.clone().project(camera);
const x = Math.round((at.x + 1) * 256), y = Math.round((at.y + 1) * 256);
const gl = renderer.getContext(), pixel = new Uint8Array(4);
gl.readPixels(x, y, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
// Every texel of the model's textures, to find the rendered colour among them.
const texels = [];
gltf.scene.traverse((o) => {
  const image = o.material?.map?.image;
  if (!image) return;
  const c = new OffscreenCanvas(image.width, image.height).getContext('2d');
  c.drawImage(image, 0, 0);
  texels.push(c.getImageData(0, 0, image.width, image.height).data);
});
let nearest = Infinity;
for (const data of texels)
  for (let i = 0; i < data.length; i += 4)
    nearest = Math.min(nearest, Math.abs(data[i] - pixel[0]) + Math.abs(data[i + 1] - pixel[1]) + Math.abs(data[i + 2] - pixel[2]));
window.result = { pixel: [...pixel.slice(0, 3)], textures: texels.length, nearest };
</script>`;

const types = { '.html': 'text/html', '.js': 'text/javascript', '.glb': 'model/gltf-binary' };
const server = createServer((request, response) => {
  const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  if (path === '/') return response.end(page);
  const file = join(out, path);
  if (!existsSync(file)) return response.writeHead(404).end();
  response.writeHead(200, { 'content-type': types[extname(file)] ?? 'application/octet-stream' });
  response.end(readFileSync(file));
});
await new Promise((done) => server.listen(0, '127.0.0.1', done));
const profile = mkdtempSync(join(tmpdir(), 'varnel-chromium-'));
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--no-first-run'],
});
let failed = 0;
try {
  for (const model of models) {
    const name = basename(model).replace(/\.[^.]*$/, '');
    for (const [variant, args] of [['lit', []], ['unlit', ['--unlit']]]) {
      const glb = `${name}-${variant}.glb`;
      execFileSync(tool, ['gltf', model, ...args, '-o', join(out, glb)]);
      const tab = await browser.newPage();
      await tab.setViewport({ width: 512, height: 512 });
      tab.on('pageerror', (e) => console.log(`${glb}: ${e.message}`));
      await tab.goto(`http://127.0.0.1:${server.address().port}/?model=${glb}`);
      const result = await tab.waitForFunction(() => window.result, { timeout: 30000 }).then((h) => h.jsonValue());
      await tab.screenshot({ path: join(out, `${name}-${variant}.png`) });
      await tab.close();
      // Unlit, the colour on screen is a texel's (give or take filtering); lit, at least no background.
      const background = result.pixel[0] > 240 && result.pixel[1] < 15 && result.pixel[2] > 240;
      const ok = result.textures > 0 && !background && (variant === 'lit' || result.nearest <= 60);
      console.log(`${ok ? 'ok' : 'FAILED'} ${glb}: centre pixel ${result.pixel}, nearest texel ${result.nearest}`);
      if (!ok) ++failed;
    }
  }
} finally {
  await browser.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
