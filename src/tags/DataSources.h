// Vertex data: float arrays, accessors, sources, inputs and the vertices element.
#pragma once

#include <memory>
#include <string_view>
#include <unordered_map>

#include "tags/Tag.h"
#include "util/BaseArray.h"

namespace varnel {

class FloatArray : public NamedTag {
 public:
  explicit FloatArray(int elementId) : NamedTag(elementId) {}
  FloatArray* AsFloatArray() override { return this; }
  bool Parse(ElementSource& document) override;

  int32_t count = 0;
  BaseArray<float> values{15};  // room for 16 numbers
};

class AccessorTag : public NamedTag {
 public:
  explicit AccessorTag(int elementId) : NamedTag(elementId) {}
  AccessorTag* AsAccessorTag() override { return this; }
  bool Parse(ElementSource& document) override;

  int32_t count = 0;
  int32_t stride = 0;
  int32_t offset = 0;
};

class TechniqueCommon : public Tag {
 public:
  explicit TechniqueCommon(int elementId) : Tag(elementId) {}
  ~TechniqueCommon() override;
  TechniqueCommon* AsTechniqueCommon() override { return this; }
  bool Parse(ElementSource& document) override;

  AccessorTag* accessor = nullptr;
  BaseArray<InstanceMaterial*> instanceMaterials{NoStorage{}};

  // The target the first instance_material of `symbol` binds it to, or null. Long binding lists
  // are indexed on first use, so that many primitives under many bindings stay linear.
  const String* TargetOf(const String& symbol);

 private:
  // Made on first use of a long list: most elements of a scene never need one.
  std::unique_ptr<std::unordered_map<std::wstring_view, const String*>> targetBySymbol_;
};

class SourceTag : public NamedTag {
 public:
  explicit SourceTag(int elementId) : NamedTag(elementId) {}
  ~SourceTag() override;
  SourceTag* AsSourceTag() override { return this; }
  bool Parse(ElementSource& document) override;

  FloatArray* floatArray = nullptr;
  TechniqueCommon* techniqueCommon = nullptr;
};

class InputTag : public Tag {
 public:
  explicit InputTag(int elementId) : Tag(elementId) {}
  InputTag* AsInputTag() override { return this; }
  bool Parse(ElementSource& document) override;

  int32_t set = 0;
  int32_t offset = 0;
  bool isNormal = false;
  bool isTexcoord = false;
  bool isPosition = false;
  String source;
  String semantic;
};

class VerticesTag : public NamedTag {
 public:
  explicit VerticesTag(int elementId) : NamedTag(elementId) {}
  ~VerticesTag() override;
  VerticesTag* AsVerticesTag() override { return this; }
  bool Parse(ElementSource& document) override;

  BaseArray<InputTag*> inputs{NoStorage{}};
};

}  // namespace varnel
