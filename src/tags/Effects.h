// Effects: the common profile, its technique and shading element with colours, transparency,
// the diffuse texture and the newparam chain that leads to an image.
#pragma once

#include "tags/Tag.h"
#include "util/BaseArray.h"

namespace varnel {

class EffectTag : public NamedTag {
 public:
  explicit EffectTag(int elementId) : NamedTag(elementId) {}
  ~EffectTag() override;
  EffectTag* AsEffectTag() override { return this; }
  bool Parse(ElementSource& document) override;

  bool cullBackFaces = true;
  ProfileCommon* profile = nullptr;
};

class ProfileCommon : public NamedTag {
 public:
  explicit ProfileCommon(int elementId) : NamedTag(elementId) {}
  ~ProfileCommon() override;
  ProfileCommon* AsProfileCommon() override { return this; }
  bool Parse(ElementSource& document) override;
  // Id of the image the diffuse texture refers to, or empty. `missingSurface` learns the surface
  // a sampler of the way names when no newparam declares it.
  String GetTextureImageId(String* missingSurface = nullptr) const;

  bool cullBackFaces = true;
  bool imageIsTexture = false;
  ImageTag* image = nullptr;
  BaseArray<NewParamTag*> newParams{NoStorage{}};
  TechniqueTag* technique = nullptr;
};

class TechniqueTag : public NamedTag {
 public:
  explicit TechniqueTag(int elementId) : NamedTag(elementId) {}
  ~TechniqueTag() override;
  TechniqueTag* AsTechniqueTag() override { return this; }
  bool Parse(ElementSource& document) override;

  bool doubleSided = false;
  PhongTag* shading = nullptr;
  BaseArray<NewParamTag*> newParams{NoStorage{}};
};

class TextureTag : public Tag {
 public:
  explicit TextureTag(int elementId) : Tag(elementId) {}
  TextureTag* AsTextureTag() override { return this; }
  bool Parse(ElementSource& document) override;

  String texture;
  String texcoord;
};

// A colour member of a shading element; constructed with the id of its element.
class ColorTag : public Tag {
 public:
  explicit ColorTag(int elementId) : Tag(elementId) {}
  ~ColorTag() override;
  bool Parse(ElementSource& document) override;

  float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  TextureTag* texture = nullptr;
};

class AmbientTag : public ColorTag { public: AmbientTag(); };
class DiffuseTag : public ColorTag { public: DiffuseTag(); };
class EmissionTag : public ColorTag { public: EmissionTag(); };
class SpecularTag : public ColorTag { public: SpecularTag(); };
class ReflectiveTag : public ColorTag { public: ReflectiveTag(); };
class TransparentTag : public ColorTag { public: TransparentTag(); };

class FloatTag : public Tag {
 public:
  explicit FloatTag(int elementId) : Tag(elementId) {}
  bool Parse(ElementSource& document) override;

  double value = 1.0;
};

class TransparencyTag : public FloatTag { public: TransparencyTag(); };

// "phong"; "lambert" and "blinn" differ only in their element id.
class PhongTag : public Tag {
 public:
  explicit PhongTag(int elementId) : Tag(elementId) {}
  PhongTag* AsPhongTag() override { return this; }
  bool Parse(ElementSource& document) override;

  double opacity = 1.0;
  AmbientTag ambient;
  DiffuseTag diffuse;
  EmissionTag emission;
  SpecularTag specular;
  ReflectiveTag reflective;
  TransparentTag transparent;
  TransparencyTag transparency;
};

class LambertTag : public PhongTag { public: using PhongTag::PhongTag; };
class BlinnTag : public PhongTag { public: using PhongTag::PhongTag; };

class NewParamTag : public NamedTag {
 public:
  explicit NewParamTag(int elementId) : NamedTag(elementId) {}
  NewParamTag* AsNewParamTag() override { return this; }
  bool Parse(ElementSource& document) override;

  String initFrom;
  String source;
  // A COLLADA 1.5 sampler's instance_image url (extended reading only).
  String image;
};

}  // namespace varnel
