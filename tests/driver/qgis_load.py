#!/usr/bin/python3
"""QGIS, headless, loads a COLLADA document through the GDAL driver as a valid vector layer.
Exits 77 (skipped) without Debian's python3-qgis.

Usage: qgis_load.py PLUGIN_DIR MODEL"""
import os
import sys

plugins, model = sys.argv[1:3]
os.environ["GDAL_DRIVER_PATH"] = plugins
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
try:
    from qgis.core import QgsApplication, QgsVectorLayer, QgsWkbTypes
except ImportError:
    sys.exit(77)

QgsApplication.setPrefixPath("/usr", True)
app = QgsApplication([], False)
app.initQgis()
layer = QgsVectorLayer(model, "model", "ogr")
assert layer.isValid(), layer.error().summary()
kind = QgsWkbTypes.displayString(layer.wkbType())
box = layer.extent()
print(f"{layer.dataProvider().storageType()}: {layer.featureCount()} feature(s), {kind}, "
      f"extent {box.toString()}, fields {[f.name() for f in layer.fields()]}")
assert layer.featureCount() == 1 and kind == "MultiPolygonZ"
assert [box.xMinimum(), box.yMinimum(), box.xMaximum(), box.yMaximum()] == [0, 0, 10, 8]
feature = next(layer.getFeatures())
assert feature["name"] == os.path.basename(model) and not feature.geometry().isEmpty()
# QGIS 3.22 crashes at exit, with any provider, when a layer outlives exitQgis.
del feature, layer
app.exitQgis()
