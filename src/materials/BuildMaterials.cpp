#include "materials/BuildMaterials.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <varnel/ImportOptions.h>
#include <varnel/MaterialProperties.h>
#include "host/Path.h"
#include "host/Resample.h"
#include "host/TextureFile.h"
#include "tags/Effects.h"
#include "tags/Image.h"

namespace varnel {
namespace {

// deliberate: each side is cut to this on its own, whatever the aspect, see docs/behaviour.md
constexpr int kMaxTextureSide = 32767;

// deliberate: colours and transparency truncated, not rounded or clamped, see docs/behaviour.md
// Truncation toward zero; values outside the int range give INT_MIN, as the host's
// x86 conversion does, instead of undefined behaviour.
int TruncateToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return static_cast<int>(0x80000000u);
  return static_cast<int>(value);
}

EffectTag* EffectAt(const MaterialSources& sources, int i) {
  Tag* tag = sources.effects[i];
  return tag ? tag->AsEffectTag() : nullptr;
}

ImageTag* ImageAt(const MaterialSources& sources, int i) {
  return i < sources.effectImages.count ? sources.effectImages[i] : nullptr;
}

PhongTag* ShadingOf(const EffectTag& effect) {
  if (!effect.profile || !effect.profile->technique) return nullptr;
  return effect.profile->technique->shading;
}

bool IsIgnoredEdgeName(String name) {
  name.TrimLeft();
  return name.GetLength() > 10 && name.Left(11).CompareNoCase(L"tavu_ignore") == 0;
}

std::string Size(int64_t width, int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Reads the image file into `record`; any failure leaves the record untextured. The image is
// resampled while it is decoded, to the side rule below and to the document's pixel budget.
void LoadTexture(const ImageTag& image, MaterialProperties& record, const Reporter& report,
                 TextureObserver* observer, int index) {
  TextureBudget fallback;
  TextureBudget& budget = image.budget ? *image.budget : fallback;
  auto say = [&](DiagnosticKind kind, const std::string& text) {
    report(kind, 0, false, [&] { return "image \"" + image.GetId().ToUtf8() + "\": " + text; });
  };
  if (!budget.decode) return;
  if (budget.left < 1) {
    say(DiagnosticKind::kLimitReached, "the document's textures have used their pixel budget: not read");
    return;
  }
  TextureLimits limits;
  limits.maxSide = kMaxTextureSide;
  limits.maxPixels = budget.perImage;
  TextureReport read;
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = nullptr;
  TextureFile file;
  file.ReadTextureMap(image.filePath, width, height, channels, pixels, limits, &read);
  if (width < 1 || height < 1 || channels < 1 || channels > 4 || !pixels) {
    ::operator delete(pixels);
    if (!report) return;
    if (read.tooLarge) {
      say(DiagnosticKind::kLimitReached,
          read.sourceWidth > 0 ? Size(read.sourceWidth, read.sourceHeight) + " pixels are more than a texture may be decoded from"
                               : "\"" + image.filePath.ToUtf8() + "\" is larger than a texture file or its decoder may take");
      return;
    }
    // An image the effect holds itself reaches here unchecked, so its file may be missing too.
    const FileSystemPath path(image.filePath);
    if (path.IsDirectory()) {
      say(DiagnosticKind::kTextureMissing, "\"" + image.reference.ToUtf8() + "\" names a folder");
    } else if (path.Exists() && path.IsFile()) {
      say(DiagnosticKind::kTextureUndecodable, "cannot decode \"" + image.filePath.ToUtf8() + "\"");
    } else {
      say(DiagnosticKind::kTextureMissing, "no file found for \"" + image.reference.ToUtf8() + "\"");
    }
    return;
  }
  const int64_t taken = int64_t(width) * int64_t(height);
  if (taken > budget.left) {
    ::operator delete(pixels);
    say(DiagnosticKind::kLimitReached, Size(width, height) + " pixels are more than the " +
                                           std::to_string(budget.left) +
                                           " the document's textures have left: not read");
    budget.left = 0;
    return;
  }
  budget.left -= taken;
  if (read.fitted) {
    say(DiagnosticKind::kLimitReached, Size(read.sourceWidth, read.sourceHeight) +
                                           " pixels resampled to " + Size(width, height) + " to fit " +
                                           std::to_string(limits.maxPixels) + ", the most a texture may have");
  }
  const bool ownSize = !read.fitted && width <= kMaxTextureSide && height <= kMaxTextureSide;
  if (width > kMaxTextureSide || height > kMaxTextureSide) {
    const int newWidth = std::min(width, kMaxTextureSide);
    const int newHeight = std::min(height, kMaxTextureSide);
    const size_t bytes = static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight) *
                         static_cast<size_t>(channels);
    auto* resampled = static_cast<unsigned char*>(::operator new(bytes, std::nothrow));
    if (!resampled) {
      ::operator delete(pixels);
      return;
    }
    brenwald::pixel_utils::resample_2d_uint8(width, height, newWidth, newHeight, pixels,
                                             resampled, channels);
    ::operator delete(pixels);
    pixels = resampled;
    width = newWidth;
    height = newHeight;
  }
  record.SetTextureMap(width, height, channels, pixels);
  if (observer && ownSize) observer->TextureRead(index, image.filePath.ToNativePath().c_str());
}

void FillRecord(const EffectTag& effect, int conversionType, MaterialProperties& record) {
  double red = 1.0, green = 1.0, blue = 1.0, opacity = 1.0;
  if (const PhongTag* shading = ShadingOf(effect)) {
    red = shading->diffuse.color[0];
    green = shading->diffuse.color[1];
    blue = shading->diffuse.color[2];
    opacity = shading->opacity;
  }
  if (conversionType != 1 && IsIgnoredEdgeName(effect.GetName())) {
    record.SetEdgeDisplay(true);
    record.SetEdgeWidth(1);
    record.SetEdgeColor(0, 0, 0);
  }
  record.SetColor(TruncateToInt(red * 255.0), TruncateToInt(green * 255.0),
                  TruncateToInt(blue * 255.0));
  if (effect.cullBackFaces) record.SetCullBackFaces(true);
  if (opacity < 0.98) record.SetTransparency(TruncateToInt((1.0 - opacity) * 100.0));
}

}  // namespace

MaterialProperties* BuildMaterials(const MaterialSources& sources, int& count) {
  const int n = std::max(sources.effects.count, 0);
  // use[i]: first how many primitives use effect i, then its record index (-1: no record).
  // share[i]: the first used effect with the same image object as effect i.
  std::vector<int> use(static_cast<size_t>(n), -1);
  std::vector<int> share(static_cast<size_t>(n), -1);

  for (int e : sources.primitiveEffects)
    if (e >= 0 && e < n) use[e] = (use[e] >= 0 ? use[e] : 0) + 1;

  int k = 0;
  for (int& u : use)
    if (u > 0) u = k++;

  for (int& e : sources.primitiveEffects)
    if (e >= 0 && e < n) e = use[e];

  for (int i = 0; i < n; ++i) {
    ImageTag* image = ImageAt(sources, i);
    if (use[i] < 0 || share[i] >= 0 || !EffectAt(sources, i) || !image) continue;
    share[i] = i;
    for (int j = i + 1; j < n; ++j)
      if (EffectAt(sources, j) && ImageAt(sources, j) == image) share[j] = i;
  }

  std::unique_ptr<MaterialProperties[]> records(new MaterialProperties[static_cast<size_t>(k)]);
  // deliberate: an empty effect slot is red, green or blue by its position, see docs/behaviour.md
  static constexpr int kFallback[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  for (int i = 0; i < n; ++i) {
    if (use[i] < 0) continue;
    MaterialProperties& record = records[use[i]];
    const EffectTag* effect = EffectAt(sources, i);
    if (!effect) {
      const int* rgb = kFallback[i % 3];
      record.SetColor(rgb[0], rgb[1], rgb[2]);
      continue;
    }
    FillRecord(*effect, sources.context.conversionType, record);
    // deliberate: the effect-table position, not the record index, see docs/behaviour.md
    // The shared index is the effect-table position of the first user of the image, which
    // is its record index only when every earlier effect has a record.
    if (share[i] >= 0 && share[i] < i) {
      record.SetSharedTexture(share[i]);
    } else if (share[i] == i) {
      if (const ImageTag* image = ImageAt(sources, i))
        LoadTexture(*image, record, sources.context.report, sources.context.options.textureObserver, use[i]);
    }
  }
  if (sources.context.options.sceneObserver)
    for (int i = 0; i < n && static_cast<size_t>(i) < sources.effectNames.size(); ++i)
      if (use[i] >= 0 && EffectAt(sources, i))
        sources.context.options.sceneObserver->MaterialNamed(use[i], sources.effectNames[static_cast<size_t>(i)].c_str());
  count = k;
  return records.release();
}

}  // namespace varnel
