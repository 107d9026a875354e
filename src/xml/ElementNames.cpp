#include "xml/ElementNames.h"

#include <cstring>

namespace varnel {
namespace {

// Spellings are the table's own, including "arguement", "comon_float_or_param_type" and "diretional".
// deliberate: the misspellings stay, as documents spell them, see docs/behaviour.md
const char* const kNames[kElementCount] = {
    "unknownTag", "accessor", "alpha", "ambient", "animation", "animation_clip",
    "annotate", "aspect_ratio", "asset", "arguement", "array", "author",
    "authoring_tool", "bind", "bind_material", "bind_shape_matrix", "bind_vertex_input", "blinn",
    "bool_array", "border_color", "box", "camera", "capsule", "channel",
    "code", "COLLADA", "color", "color_clear", "color_target", "comments",
    "common_color_or_texture_type", "comon_float_or_param_type", "compiler_options", "compiler_target", "connect_param", "constant",
    "contributor", "controller", "convex_mesh", "copyright", "count", "created",
    "cylinder", "depth", "depth_clear", "depth_target", "diffuse", "diretional",
    "double_sided", "draw", "effect", "emission", "extra", "force_field",
    "format", "float_array", "float", "generator", "geometry", "height",
    "id", "IDREF_array", "image", "imager", "include", "index_of_refraction",
    "init_from", "input", "instance_animation", "instance_camera", "instance_controller", "instance_effect",
    "instance_force_field", "instance_geometry", "instance_light", "instance_material", "instance_node", "instance_physics_material",
    "instance_physics_model", "instance_physics_scene", "instance_rigid_body", "instance_visual_scene", "int_array", "joints",
    "keywords", "lambert", "layer", "library_animation", "library_animation_clips", "library_animations",
    "library_cameras", "library_controllers", "library_effects", "library_force_fields", "library_geometries", "library_images",
    "library_lights", "library_materials", "library_nodes", "library_physics_materials", "library_physics_models", "library_physics_scenes",
    "library_visual_scenes", "light", "lines", "linestrips", "lookat", "magfilter",
    "material", "matrix", "mesh", "meter", "minfilter", "mipfilter",
    "mipmap_bias", "mipmap_maxlevel", "modified", "modifier", "morph", "name",
    "Name_array", "newparam", "node", "offset", "opaque", "optics",
    "orthographic", "p", "param", "pass", "perspective", "phong",
    "point", "polygons", "polylist", "physics_material", "physics_model", "physics_scene",
    "plane", "profile", "profile_CG", "profile_COMMON", "profile_GLES", "profile_GLSL",
    "reflective", "reflectivity", "revision", "RGB", "rigid_body", "rigid_constant",
    "rotate", "sampler1D", "sampler2D", "sampler3D", "samplerCUBE", "samplerDEPTH",
    "samplerRECT", "sampler_state", "samples", "scale", "scene", "semantic",
    "set", "setparam", "shader", "shape", "shininess", "sid",
    "specular", "sphere", "skeleton", "skew", "skin", "source",
    "source_data", "spline", "spot", "stencil_clear", "stencil_target", "stride",
    "subject", "surface", "symbol", "tapered_capsule", "tapered_cylinder", "target",
    "targets", "technique", "technique_common", "technique_hint", "texcombiner", "texcoord",
    "texenv", "texture", "texture_pipeline", "texture_unit", "title", "translate",
    "transparency", "transparent", "triangles", "trifans", "tristrips", "type",
    "unit", "url", "usertype", "up_axis", "vcount", "vertex_weights",
    "vertices", "visual_scene", "width", "wrap_s", "wrap_t", "yfov",
    "zfar", "znear",
};

// Open-addressing index built once; gives the same id as a first-match linear scan because the
// table holds no duplicate names.
struct NameIndex {
  static constexpr unsigned kSlots = 1024;
  short slot[kSlots];
  unsigned char length[kElementCount];

  static unsigned Hash(const char* s, size_t n) {
    unsigned h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 16777619u;
    return h;
  }

  NameIndex() {
    for (unsigned i = 0; i < kSlots; ++i) slot[i] = -1;
    for (int id = 1; id < kElementCount; ++id) {
      size_t n = std::strlen(kNames[id]);
      length[id] = static_cast<unsigned char>(n);
      unsigned h = Hash(kNames[id], n) & (kSlots - 1);
      while (slot[h] >= 0) h = (h + 1) & (kSlots - 1);
      slot[h] = static_cast<short>(id);
    }
  }

  int Find(const char* s, size_t n) const {
    if (n == 0 || n > 40) return 0;
    unsigned h = Hash(s, n) & (kSlots - 1);
    for (;;) {
      int id = slot[h];
      if (id < 0) return 0;
      if (length[id] == n && std::memcmp(kNames[id], s, n) == 0) return id;
      h = (h + 1) & (kSlots - 1);
    }
  }
};

const NameIndex& Index() {
  static const NameIndex index;
  return index;
}

}  // namespace

const char* const kExtendedNames[kExtendedElementEnd - kElementCount] = {
    "ph", "h", "ref", "instance_image", "coverage", "geographic_location", "longitude", "latitude",
    "altitude", "convex_hull_of"};

const char* ElementName(int id) {
  return id >= 0 && id < kElementCount ? kNames[id] : kNames[0];
}

const char* AnyElementName(int id) {
  if (id >= kElementCount && id < kExtendedElementEnd) return kExtendedNames[id - kElementCount];
  return ElementName(id);
}

int LookupExtendedElement(const char* name, size_t length) {
  for (int id = kElementCount; id < kExtendedElementEnd; ++id) {
    const char* known = kExtendedNames[id - kElementCount];
    if (std::strlen(known) == length && std::memcmp(known, name, length) == 0) return id;
  }
  return 0;
}

int LookupElement(const char* name, size_t length) { return Index().Find(name, length); }

}  // namespace varnel
