#include "tiles/Viewer.h"

#include <nlohmann/json.hpp>

namespace varnel::tiles {

namespace {

// window.varnel tells a test (or a curious user) how loading went and picks at a point.
constexpr const char* kPage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>varnel tiles</title><link rel="icon" href="data:,">
<link rel="stylesheet" href="cesium/Widgets/widgets.css">
<style>
html, body, #globe { margin: 0; width: 100%; height: 100%; overflow: hidden }
#picked { position: absolute; top: 8px; left: 8px; max-width: 45%; padding: 6px 10px;
  background: rgba(255, 255, 255, 0.92); font: 13px sans-serif; display: none }
#picked td { padding: 1px 8px 1px 0; vertical-align: top; overflow-wrap: anywhere }
</style>
<script>window.CESIUM_BASE_URL = 'cesium/';</script>
<script src="cesium/Cesium.js"></script>
</head><body><div id="globe"></div><div id="picked"></div>
<script type="module">
const imagery = @IMAGERY@;
const viewer = new Cesium.Viewer('globe', {
  baseLayer: imagery ? new Cesium.ImageryLayer(new Cesium.UrlTemplateImageryProvider({ url: imagery })) : false,
  terrainProvider: new Cesium.EllipsoidTerrainProvider(),
  baseLayerPicker: false, geocoder: false, homeButton: false, sceneModePicker: false,
  navigationHelpButton: false, animation: false, timeline: false, fullscreenButton: false,
  infoBox: false, selectionIndicator: false,
});
viewer.scene.globe.baseColor = Cesium.Color.fromCssColorString('#8c9488');
const state = window.varnel = { loaded: false, failed: 0, errors: [] };
const tileset = await Cesium.Cesium3DTileset.fromUrl('tileset.json');
viewer.scene.primitives.add(tileset);
state.viewer = viewer, state.tileset = tileset;
tileset.tileFailed.addEventListener((e) => { state.failed++; state.errors.push(`${e.url}: ${e.message}`); });
tileset.allTilesLoaded.addEventListener(() => { state.loaded = true; });

// The properties of the model at a window position; null where there is none.
state.pick = (x, y) => {
  const feature = viewer.scene.pick(new Cesium.Cartesian2(x, y));
  if (!(feature instanceof Cesium.Cesium3DTileFeature)) return null;
  const properties = {};
  for (const id of feature.getPropertyIds()) properties[id] = feature.getProperty(id);
  return properties;
};
const panel = document.getElementById('picked');
new Cesium.ScreenSpaceEventHandler(viewer.scene.canvas).setInputAction((click) => {
  const properties = state.pick(click.position.x, click.position.y);
  panel.style.display = properties ? 'block' : 'none';
  panel.replaceChildren(...Object.entries(properties ?? {}).map(([name, value]) => {
    const row = document.createElement('tr');
    for (const text of [name, String(value)]) row.appendChild(document.createElement('td')).textContent = text;
    return row;
  }));
}, Cesium.ScreenSpaceEventType.LEFT_CLICK);
await viewer.zoomTo(tileset);
state.ready = true;
</script></body></html>
)";

}  // namespace

std::string ViewerPage(const std::string& imagery) {
  std::string page = kPage;
  // As a JavaScript string that cannot end the script element.
  std::string literal = nlohmann::json(imagery).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  for (size_t at = 0; (at = literal.find("</", at)) != std::string::npos; at += 3) literal.replace(at, 2, "<\\/");
  page.replace(page.find("@IMAGERY@"), 9, literal);
  return page;
}

}  // namespace varnel::tiles
