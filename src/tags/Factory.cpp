#include "tags/Factory.h"

#include "tags/ElementSource.h"
#include "tags/DataSources.h"
#include "tags/Mesh.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

#include "tags/Asset.h"
#include "tags/Controller.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/SceneGraph.h"

namespace varnel {

namespace {

// Elements nest by recursion through Parse and CreateTag, but only nodes can nest in nodes: every
// other element holds a fixed shape of children (a few levels deep), and NodeTag
// parses the nodes inside it without recursion. So no document can make this recursion deep.

// `extended`: the extended reading, which also makes the primitives the plain one skips.
Tag* NewTag(int id, bool extended) {
  switch (id) {
    case kPolygons:
    case kTristrips:
    case kTrifans:
    case kLinestrips: return extended ? new ListPrimitiveTag(id) : nullptr;
    case kAccessor: return new AccessorTag(id);
    case kFloatArray: return new FloatArray(id);
    case kInput: return new InputTag(id);
    case kGeometry: return new GeometryTag(id);
    case kLines: return new LinesTag(id);
    case kMatrix: return new MatrixTag(id);
    case kMesh: return new MeshTag(id);
    case kConvexMesh: return extended ? new MeshTag(id) : nullptr;
    case kPolylist: return new PolylistTag(id);
    case kRotate: return new RotateTag(id);
    case kScale: return new ScaleTag(id);
    case kSource: return new SourceTag(id);
    case kTechniqueCommon: return new TechniqueCommon(id);
    case kTranslate: return new TranslateTag(id);
    case kTriangles: return new TrianglesTag(id);
    case kVertices: return new VerticesTag(id);
    case kAsset: return new AssetTag(id);
    case kBindMaterial: return new BindMaterial(id);
    case kBlinn: return new BlinnTag(id);
    case kController: return new ControllerTag(id);
    case kEffect: return new EffectTag(id);
    case kImage: return new ImageTag(id);
    case kInstanceController: return new InstanceController(id);
    case kInstanceEffect: return new InstanceEffect(id);
    case kInstanceGeometry: return new InstanceGeometry(id);
    case kInstanceMaterial: return new InstanceMaterial(id);
    case kInstanceNode: return new InstanceTag(id);
    case kInstanceVisualScene: return new InstanceVisualScene(id);
    case kLambert: return new LambertTag(id);
    case kMaterial: return new MaterialTag(id);
    case kNewparam: return new NewParamTag(id);
    case kNode: return new NodeTag(id);
    case kPhong: return new PhongTag(id);
    case kProfileCOMMON: return new ProfileCommon(id);
    case kSkin: return new SkinTag(id);
    case kTechnique: return new TechniqueTag(id);
    case kTexture: return new TextureTag(id);
    case kVisualScene: return new VisualScene(id);
    default: return nullptr;
  }
}

Tag* Fail(ElementSource& document) {
  document.Stop();
  return nullptr;
}

}  // namespace

Tag* CreateTag(ElementSource& document, int id) {
  Tag* tag = NewTag(id, document.extended());
  if (!tag) {
    if (!document.SkipElement(id)) return Fail(document);
    return nullptr;
  }
  if (!tag->Parse(document)) {
    delete tag;
    return Fail(document);
  }
  return tag;
}

}  // namespace varnel
