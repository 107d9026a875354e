#include "tags/Effects.h"

#include "tags/Image.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {

// Follows texture -> sampler newparam (its source) -> surface newparam (its init_from), or
// texture -> sampler newparam -> its instance_image.
bool FollowSamplerChain(const BaseArray<NewParamTag*>& params, const String& texture,
                        String& imageId, String* missingSurface) {
  for (NewParamTag* sampler : params) {
    if (sampler->GetSid() != texture) continue;
    if (!sampler->image.IsEmpty()) {
      imageId = sampler->image;
      return true;
    }
    for (NewParamTag* surface : params) {
      if (surface->GetSid() != sampler->source) continue;
      imageId = surface->initFrom;
      return true;
    }
    if (missingSurface) *missingSurface = sampler->source;
    return false;
  }
  return false;
}

// Up to four numbers of the element's text. A colour with fewer numbers ends at its end tag
// and keeps the defaults for the rest, rather than reading the following elements as numbers.
bool ReadColor(ElementSource& document, float* color) {
  if (!SkipAttributes(document)) return false;
  if (ReadNumberList<ListEnd::kStopAtTag>(document, 4, [color](int64_t i, const char* text) {
        color[i] = static_cast<float>(ParseDouble(text));
      }) < 0)
    return false;
  if (document.isTagToken && document.isEndToken) document.IdentifyTag();
  return true;
}

}  // namespace

EffectTag::~EffectTag() { delete profile; }

bool EffectTag::Parse(ElementSource& document) {
  cullBackFaces = true;
  return ParseLoop(document, [&](int id) {
    if (id != kProfileCOMMON) return ParseChild(id, document);
    if (!AttachSingle(document, id, profile, &Tag::AsProfileCommon)) return false;
    cullBackFaces = profile->cullBackFaces;
    return true;
  });
}

ProfileCommon::~ProfileCommon() {
  delete image;
  DeleteAll(newParams);
  delete technique;
}

bool ProfileCommon::Parse(ElementSource& document) {
  imageIsTexture = false;
  bool insideExtra = false;
  bool parsed = ParseLoop(document, [&](int id) {
    switch (id) {
      case kExtra:
        // Entered, not skipped: a technique in it may declare the effect double-sided.
        insideExtra = !document.wasEndTag;
        return true;
      case kImage: {
        Tag* child = CreateTag(document, id);
        if (!child) return false;
        if (ImageTag* typed = child->AsImageTag()) {
          delete image;
          image = typed;
        } else {
          delete child;
        }
        return true;
      }
      case kNewparam:
        return AttachToList(document, id, newParams, &Tag::AsNewParamTag);
      case kTechnique:
        if (insideExtra) {
          TechniqueTag* extraTechnique = CreateChild(document, id, &Tag::AsTechniqueTag);
          if (!extraTechnique) return false;
          cullBackFaces = !extraTechnique->doubleSided;
          delete extraTechnique;
          return true;
        }
        return AttachSingle(document, id, technique, &Tag::AsTechniqueTag);
      default:
        return ParseChild(id, document);
    }
  });
  if (image && image->GetId() == GetTextureImageId()) imageIsTexture = true;
  return parsed;
}

String ProfileCommon::GetTextureImageId(String* missingSurface) const {
  if (!technique || !technique->shading || !technique->shading->diffuse.texture) return String();
  const String& texture = technique->shading->diffuse.texture->texture;
  String imageId;
  const BaseArray<NewParamTag*>* lists[] = {&newParams, &technique->newParams};
  for (const BaseArray<NewParamTag*>* params : lists) {
    if (!FollowSamplerChain(*params, texture, imageId, missingSurface)) continue;
    if (missingSurface) missingSurface->Empty();
    return imageId;
  }
  return texture;
}

TechniqueTag::~TechniqueTag() {
  delete shading;
  DeleteAll(newParams);
}

bool TechniqueTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kPhong:
      case kLambert:
      case kBlinn:
        return AttachSingle(document, id, shading, &Tag::AsPhongTag);
      case kDoubleSided:
        doubleSided = ReadIntValue(document) != 0;
        return true;
      case kNewparam:
        return AttachToList(document, id, newParams, &Tag::AsNewParamTag);
      default:
        return ParseChild(id, document);
    }
  });
}

bool PhongTag::Parse(ElementSource& document) {
  bool sawTransparent = false;
  bool parsed = ParseLoop(document, [&](int id) {
    switch (id) {
      case kAmbient: return ambient.Parse(document);
      case kDiffuse: return diffuse.Parse(document);
      case kEmission: return emission.Parse(document);
      case kSpecular: return specular.Parse(document);
      case kReflective: return reflective.Parse(document);
      case kTransparent:
        sawTransparent = true;
        return transparent.Parse(document);
      case kTransparency: return transparency.Parse(document);
      default: return ParseChild(id, document);
    }
  });

  // deliberate: these bands, stricter beside a transparent colour, see docs/behaviour.md
  // Exporters disagree on whether transparency 0 or 1 means opaque, so values near either
  // end read as opaque.
  double alpha = transparent.color[3];
  double value = transparency.value;
  if (sawTransparent && alpha >= 0.05 && alpha <= 0.95)
    opacity = alpha;
  else if (sawTransparent)
    opacity = (value > 0.2 && value < 0.95) ? value : 1.0;
  else
    opacity = (value >= 0.05 && value <= 0.95) ? value : 1.0;
  return parsed;
}

ColorTag::~ColorTag() { delete texture; }

bool ColorTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kColor: return ReadColor(document, color);
      case kTexture: return AttachSingle(document, id, texture, &Tag::AsTextureTag);
      default: return ParseChild(id, document);
    }
  });
}

AmbientTag::AmbientTag() : ColorTag(kAmbient) {}
DiffuseTag::DiffuseTag() : ColorTag(kDiffuse) {}
EmissionTag::EmissionTag() : ColorTag(kEmission) {}
SpecularTag::SpecularTag() : ColorTag(kSpecular) {}
ReflectiveTag::ReflectiveTag() : ColorTag(kReflective) {}
TransparentTag::TransparentTag() : ColorTag(kTransparent) {}
TransparencyTag::TransparencyTag() : FloatTag(kTransparency) {}

bool FloatTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id != kFloat) return ParseChild(id, document);
    if (!SkipAttributes(document)) return false;
    value = ReadDoubleValue(document);
    return true;
  });
}

bool TextureTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kTexture: return document.ReadValue(texture);
      case kTexcoord: return document.ReadValue(texcoord);
      default: return ParseChild(id, document);
    }
  });
}

bool NewParamTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kSurface:
      case kSampler2D:
        // Entered: init_from and source are read at this level.
        return true;
      case kInitFrom:
        if (document.extended() && !SkipAttributes(document)) return false;
        return document.ReadValue(initFrom);
      case kSource: return document.ReadValue(source);
      case kInstanceImage: {  // named by the extended reading only
        UrlTag reference(id);
        if (!reference.Parse(document)) return false;
        image = reference.url;
        return true;
      }
      default: return ParseChild(id, document);
    }
  });
}

}  // namespace varnel
