#include "cli/ObjWriter.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli/Json.h"

namespace varnel::cli {

bool PngWritable(int width, int height, int channels, const unsigned char* pixels) {
  return width >= 1 && height >= 1 && channels >= 1 && channels <= 4 && pixels;
}

bool WritePng(std::FILE* file, int width, int height, int channels, const unsigned char* pixels) {
  static const int kColorTypes[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                     PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  if (!file || !PngWritable(width, height, channels, pixels)) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 kColorTypes[channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
    for (int y = 0; y < height; ++y)
      png_write_row(png, const_cast<png_bytep>(pixels + rowBytes * static_cast<size_t>(y)));
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  return ok;
}

ObjWriter::ObjWriter(std::string objPath) : objPath_(std::move(objPath)) {
  stem_ = objPath_;
  size_t slash = stem_.rfind('/');
  if (slash != std::string::npos) stem_ = stem_.substr(slash + 1);
  if (stem_.size() > 4 && stem_.compare(stem_.size() - 4, 4, ".obj") == 0)
    stem_.resize(stem_.size() - 4);
}

// Every file grows under a temporary name and takes its own only once all are complete, so that
// a failed or interrupted run never replaces an earlier output, nor leaves half of one.
ObjWriter::~ObjWriter() {
  out_.reset();
  delete[] materials_;
}

bool ObjWriter::Open() {
  obj_ = std::make_unique<StagedFile>(objPath_);
  if (!obj_->Open() || !obj_->stream()) {
    error_ = obj_->error();
    return false;
  }
  out_ = std::make_unique<BackgroundWriter>(obj_->stream());
  out_->Write("# converted by varnel\nmtllib " + stem_ + ".mtl\n");
  return true;
}

std::string ObjWriter::TextureFileName(long index) const {
  return stem_ + "_texture" + std::to_string(index) + ".png";
}

bool ObjWriter::Finish() {
  if (!obj_ || !out_) return false;
  if (!out_->Finish()) obj_->Fail(out_->error());
  out_.reset();
  std::string folder = objPath_.substr(0, objPath_.size() - stem_.size() - 4);
  std::vector<std::unique_ptr<StagedFile>> files;
  auto staged = [&](const std::string& path) -> StagedFile& {
    files.push_back(std::make_unique<StagedFile>(path));
    if (!files.back()->Open()) error_ = error_ ? error_ : files.back()->error();
    return *files.back();
  };
  StagedFile& mtlFile = staged(folder + stem_ + ".mtl");
  std::FILE* mtl = mtlFile.stream();
  if (!mtl) return false;
  std::fprintf(mtl, "# converted by varnel\nnewmtl none\nKd 0.8 0.8 0.8\n");
  for (long i = 0; i < materialCount_; ++i) {
    const MaterialProperties& m = materials_[i];
    std::fprintf(mtl, "\nnewmtl m%ld\n", i);
    if (m.hasColor)
      std::fprintf(mtl, "Kd %.6g %.6g %.6g\n", m.color[0] / 255.0, m.color[1] / 255.0,
                   m.color[2] / 255.0);
    if (m.hasTransparency) std::fprintf(mtl, "d %.4g\n", 1.0 - m.transparency / 100.0);
    long textured = -1;
    if (PngWritable(m.textureWidth, m.textureHeight, m.textureChannels, m.texturePixels)) {
      StagedFile& png = staged(folder + TextureFileName(i));
      errno = 0;
      if (!WritePng(png.stream(), m.textureWidth, m.textureHeight, m.textureChannels,
                    m.texturePixels))
        png.Fail(errno ? errno : EIO);
      textured = i;
    } else if (m.sharedTexture >= 0 && !m.texturePixels) {
      // A shared texture names an earlier record that holds the pixels; take the nearest
      // record at or before that position that really has them.
      for (long j = std::min(static_cast<long>(m.sharedTexture), i - 1); j >= 0; --j)
        if (materials_[j].texturePixels) {
          textured = j;
          break;
        }
    }
    if (textured >= 0) std::fprintf(mtl, "map_Kd %s\n", TextureFileName(textured).c_str());
  }
  // Into place: textures and the .mtl first, the .obj that names them last.
  files.push_back(std::move(obj_));
  for (auto& file : files)
    if (!file->Finish() && !error_) error_ = file->error();
  for (auto& file : files)
    if (!error_ && !file->Commit()) error_ = file->error();
  return error_ == 0;
}

void ObjWriter::SetMaterials(long count, MaterialProperties* materials) {
  delete[] materials_;
  materials_ = materials;
  materialCount_ = materials ? count : 0;
}

void ObjWriter::UseMaterial(long index) {
  if (index == currentMaterial_ || !out_) return;
  currentMaterial_ = index;
  out_->Write(index >= 0 && index < materialCount_ ? "usemtl m" + std::to_string(index) + "\n"
                                                   : std::string("usemtl none\n"));
}

void ObjWriter::SetCurrentPart(long materialIndex, tavuPatchType partType) {
  UseMaterial(materialIndex);
  currentType_ = partType;
}

void ObjWriter::SetCurrentLine(long materialIndex, bool) { UseMaterial(materialIndex); }

namespace {

// The OBJ text of one call, written straight into the background writer's chunks: printf would
// parse its format for every one of millions of numbers.
class Text {
 public:
  explicit Text(BackgroundWriter& out) : out_(out) { Take(); }
  ~Text() { out_.Commit(at_); }
  Text& operator<<(const char* text) {
    size_t n = std::strlen(text);
    std::memcpy(at_, text, n);
    at_ += n;
    return *this;
  }
  Text& operator<<(char c) {
    *at_++ = c;
    return *this;
  }
  Text& operator<<(long n) {
    at_ = std::to_chars(at_, at_ + 24, n).ptr;
    return *this;
  }
  // A coordinate, as %.9g prints it.
  Text& operator<<(double value) {
    *at_++ = ' ';
    at_ = Print9(at_, value);
    return *this;
  }
  // Between pieces of at most kPiece characters.
  void Check() {
    if (at_ > limit_) {
      out_.Commit(at_);
      Take();
    }
  }

 private:
  static constexpr size_t kPiece = 256, kRoom = 64 << 10;
  void Take() {
    at_ = out_.Room(kRoom);
    limit_ = at_ + kRoom - kPiece;
  }
  BackgroundWriter& out_;
  char* at_;
  char* limit_;
};

}  // namespace

void ObjWriter::SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data) {
  if (!out_ || !data || pointCount < 1) return;
  const long stride = 3 + (hasNormals ? 3 : 0) + (hasTextures ? 2 : 0);
  Text text(*out_);
  for (long i = 0; i < pointCount; ++i) {
    const float* record = data + i * stride;
    const float* xyz = record + stride - 3;
    text << "v" << double(xyz[0]) << double(xyz[1]) << double(xyz[2]) << '\n';
    if (hasTextures) text << "vt" << double(record[0]) << 1.0 - record[1] << '\n';
    if (hasNormals) {
      const float* n = xyz - 3;
      text << "vn" << double(n[0]) << double(n[1]) << double(n[2]) << '\n';
    }
    text.Check();
  }
  const long first = vertices + 1;
  const long firstTexture = texturePoints_ + 1;
  const long firstNormal = normals_ + 1;
  auto corner = [&](long k) {
    text << ' ' << first + k;
    if (hasTextures || hasNormals) {
      text << '/';
      if (hasTextures) text << firstTexture + k;
      if (hasNormals) text << '/' << firstNormal + k;
    }
    text.Check();
  };
  if (currentType_ == kPatchInnerRing) {
    // OBJ faces have no holes: the points stay (numbering goes on), the hole is only noted.
    text << "# the " << pointCount << " points above are a hole in the face before them\n";
  } else if (currentType_ == tavuPatchRing) {
    // A closed ring repeats its first point at the end; the face lists it once.
    long n = pointCount > 3 ? pointCount - 1 : pointCount;
    text << 'f';
    for (long k = 0; k < n; ++k) corner(k);
    text << '\n';
    ++faces;
  } else {
    for (long k = 0; k + 2 < pointCount; k += 3) {
      text << 'f';
      for (long c = 0; c < 3; ++c) corner(k + c);
      text << '\n';
      ++faces;
    }
  }
  vertices += pointCount;
  if (hasTextures) texturePoints_ += pointCount;
  if (hasNormals) normals_ += pointCount;
}

void ObjWriter::SetLineData(long pointCount, float* data) {
  if (!out_ || !data || pointCount < 1) return;
  Text text(*out_);
  for (long i = 0; i < pointCount; ++i) {
    const float* xyz = data + 3 * i;
    text << "v" << double(xyz[0]) << double(xyz[1]) << double(xyz[2]) << '\n';
    text.Check();
  }
  // A "lines" primitive pairs its points into segments.
  for (long k = 0; k + 1 < pointCount; k += 2) {
    text << "l " << vertices + 1 + k << ' ' << vertices + 2 + k << '\n';
    text.Check();
    ++lines;
  }
  vertices += pointCount;
}

}  // namespace varnel::cli
