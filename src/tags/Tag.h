// Base of every element object: the element id, the thirty type queries, names, the parse
// protocol and the hooks the scene assembly calls.
#pragma once

#include <cstdint>

#include <varnel/String.h>

#include "tags/ElementPool.h"

namespace varnel {

class ElementSource;
class UrlTag;
class MeshTag;
class NodeTag;
class SkinTag;
class AssetTag;
class ImageTag;
class InputTag;
class PhongTag;
class EffectTag;
class SourceTag;
class TextureTag;
class AccessorTag;
class GeometryTag;
class VerticesTag;
class MaterialTag;
class NewParamTag;
class PrimitiveTag;
class TransformTag;
class TechniqueTag;
class ControllerTag;
class FloatArray;
class VisualScene;
class BindMaterial;
class InstanceTag;
class ProfileCommon;
class InstanceEffect;
class TechniqueCommon;
class InstanceMaterial;
class InstanceGeometry;
class InstanceController;

// The shared "No Name" answer of elements without id, sid or name.
const String& NoNameString();

class Tag {
 public:
  explicit Tag(int id) : elementId(static_cast<uint32_t>(id)) {}
  // Element objects come from the thread's element pool (tags/ElementPool.h).
  static void* operator new(size_t size) { return ElementPool::Allocate(size); }
  static void operator delete(void* object, size_t size) { ElementPool::Free(object, size); }
  Tag(const Tag&) = delete;
  Tag& operator=(const Tag&) = delete;
  virtual ~Tag() = default;

  virtual UrlTag* AsUrlTag() { return nullptr; }
  virtual MeshTag* AsMeshTag() { return nullptr; }
  virtual NodeTag* AsNodeTag() { return nullptr; }
  virtual SkinTag* AsSkinTag() { return nullptr; }
  virtual AssetTag* AsAssetTag() { return nullptr; }
  virtual ImageTag* AsImageTag() { return nullptr; }
  virtual InputTag* AsInputTag() { return nullptr; }
  virtual PhongTag* AsPhongTag() { return nullptr; }
  virtual EffectTag* AsEffectTag() { return nullptr; }
  virtual SourceTag* AsSourceTag() { return nullptr; }
  virtual TextureTag* AsTextureTag() { return nullptr; }
  virtual AccessorTag* AsAccessorTag() { return nullptr; }
  virtual GeometryTag* AsGeometryTag() { return nullptr; }
  virtual VerticesTag* AsVerticesTag() { return nullptr; }
  virtual MaterialTag* AsMaterialTag() { return nullptr; }
  virtual NewParamTag* AsNewParamTag() { return nullptr; }
  virtual PrimitiveTag* AsPrimitiveTag() { return nullptr; }
  virtual TransformTag* AsTransformTag() { return nullptr; }
  virtual TechniqueTag* AsTechniqueTag() { return nullptr; }
  virtual ControllerTag* AsControllerTag() { return nullptr; }
  virtual FloatArray* AsFloatArray() { return nullptr; }
  virtual VisualScene* AsVisualScene() { return nullptr; }
  virtual BindMaterial* AsBindMaterial() { return nullptr; }
  virtual InstanceTag* AsInstanceTag() { return nullptr; }
  virtual ProfileCommon* AsProfileCommon() { return nullptr; }
  virtual InstanceEffect* AsInstanceEffect() { return nullptr; }
  virtual TechniqueCommon* AsTechniqueCommon() { return nullptr; }
  virtual InstanceMaterial* AsInstanceMaterial() { return nullptr; }
  virtual InstanceGeometry* AsInstanceGeometry() { return nullptr; }
  virtual InstanceController* AsInstanceController() { return nullptr; }

  virtual const String& GetId() const { return NoNameString(); }
  virtual const String& GetSid() const { return NoNameString(); }
  virtual const String& GetName() const { return NoNameString(); }

  // Reads the rest of the element; true once its own end tag has been consumed.
  virtual bool Parse(ElementSource& document);
  // One attribute or child the class does not handle itself; the base skips it.
  virtual bool ParseChild(int id, ElementSource& document);

  uint32_t elementId;

 protected:
  // The shared parse loop: identifies tokens until this element's end tag and hands every
  // other id to `handle(id)`, which returns false to fail the parse.
  template <class Handler>
  bool ParseLoop(ElementSource& document, Handler&& handle);
};

class NamedTag : public Tag {
 public:
  using Tag::Tag;
  const String& GetId() const override { return id; }
  const String& GetSid() const override { return sid; }
  const String& GetName() const override { return name; }
  bool ParseChild(int elementId, ElementSource& document) override;

  String id;
  String sid;
  String name;
};

class UrlTag : public Tag {
 public:
  using Tag::Tag;
  UrlTag* AsUrlTag() override { return this; }
  bool Parse(ElementSource& document) override;
  bool ParseChild(int elementId, ElementSource& document) override;

  String url;
};

}  // namespace varnel
