// Materials and the binding of a primitive's material symbol to an effect.
#pragma once

#include "tags/Tag.h"

namespace varnel {

class MaterialTag : public NamedTag {
 public:
  explicit MaterialTag(int elementId) : NamedTag(elementId) {}
  ~MaterialTag() override;
  MaterialTag* AsMaterialTag() override { return this; }
  bool Parse(ElementSource& document) override;
  // The instance_effect's url, or empty.
  String GetEffectUrl() const;

  InstanceEffect* instanceEffect = nullptr;
};

class InstanceEffect : public NamedTag {
 public:
  explicit InstanceEffect(int elementId) : NamedTag(elementId) {}
  InstanceEffect* AsInstanceEffect() override { return this; }
  bool Parse(ElementSource& document) override;

  String url;
};

class BindMaterial : public Tag {
 public:
  explicit BindMaterial(int elementId) : Tag(elementId) {}
  ~BindMaterial() override;
  BindMaterial* AsBindMaterial() override { return this; }
  bool Parse(ElementSource& document) override;

  TechniqueCommon* techniqueCommon = nullptr;
};

class InstanceMaterial : public Tag {
 public:
  explicit InstanceMaterial(int elementId) : Tag(elementId) {}
  InstanceMaterial* AsInstanceMaterial() override { return this; }
  bool Parse(ElementSource& document) override;

  String symbol;
  String target;
};

}  // namespace varnel
