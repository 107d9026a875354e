// The whole conversion on a generated COLLADA document of about 180 MB: four large textured
// meshes (triangles and polylists over positions, normals and texture coordinates), six of their
// instances under transformed nodes, three effects. Written once, beside a small texture, before
// any clock runs. Each benchmark runs what a user runs, once a repetition: Load the parse alone,
// DataBuffer the memory entry point (566 MB buffer), BufferToFile what `varnel buffer` does (the
// pieces written into a file), DisplayList the display-list entry point into a sink that drops
// the parts.
//
// Medians of five (RelWithDebInfo, 2 cores shared with two other builds, so only neighbouring
// rows compare), the main branch before the streamed buffer and after:
//                 before      after
//   Load          568 ms      434 ms
//   DataBuffer    1744 ms     1517 ms
//   BufferToFile  -           1613 ms
//   DisplayList   1594 ms     1521 ms
// On an idle machine earlier: Load about 330 ms, DataBuffer and DisplayList 1.0-1.1 s for both.
// A quarter of DataBuffer is the kernel clearing the buffer's pages; in DisplayList about a
// quarter is the normals' arithmetic (3-argument hypot and its divisions).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "document/DaeDocument.h"
#include <varnel/Varnel.h>
#include <varnel/DaeDisplayList.h>
#include <varnel/DataBufferWriter.h>

namespace {

using namespace varnel;

constexpr int kGeometries = 4;
constexpr int kVertices = 200000;    // per geometry
constexpr int kTriangles = 337000;   // per geometry
constexpr int kPolygons = 150000;    // per geometry
constexpr int kPolylistSize = 50000;

// A 4x4 24-bit BMP: the textured effect needs an image file that exists.
void WriteTexture(const std::string& path) {
  unsigned char bmp[54 + 48] = {'B', 'M'};
  auto put32 = [&](int at, unsigned v) {
    for (int k = 0; k < 4; ++k) bmp[at + k] = static_cast<unsigned char>(v >> (8 * k));
  };
  put32(2, sizeof bmp);
  put32(10, 54);
  put32(14, 40);
  put32(18, 4);
  put32(22, 4);
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, 48);
  for (int i = 0; i < 48; ++i) bmp[54 + i] = static_cast<unsigned char>(i * 5);
  if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bmp, 1, sizeof bmp, out);
    std::fclose(out);
  }
}

void WriteEffects(std::FILE* out) {
  std::fputs(
      "  <library_images><image id=\"bench-image\" name=\"bench-image\">"
      "<init_from>bench-texture.bmp</init_from></image></library_images>\n"
      "  <library_materials>\n"
      "    <material id=\"m0\" name=\"textured\"><instance_effect url=\"#e0\"/></material>\n"
      "    <material id=\"m1\" name=\"painted\"><instance_effect url=\"#e1\"/></material>\n"
      "    <material id=\"m2\" name=\"glass\"><instance_effect url=\"#e2\"/></material>\n"
      "  </library_materials>\n"
      "  <library_effects>\n"
      "    <effect id=\"e0\"><profile_COMMON>\n"
      "      <newparam sid=\"bench-surface\"><surface type=\"2D\"><init_from>bench-image</init_from>"
      "</surface></newparam>\n"
      "      <newparam sid=\"bench-sampler\"><sampler2D><source>bench-surface</source></sampler2D>"
      "</newparam>\n"
      "      <technique sid=\"common\"><phong><diffuse><texture texture=\"bench-sampler\" "
      "texcoord=\"UVSET0\"/></diffuse><shininess><float>12</float></shininess></phong></technique>\n"
      "    </profile_COMMON></effect>\n"
      "    <effect id=\"e1\"><profile_COMMON><technique sid=\"common\"><lambert><diffuse>"
      "<color>0.8 0.4 0.2 1</color></diffuse></lambert></technique></profile_COMMON></effect>\n"
      "    <effect id=\"e2\"><profile_COMMON><technique sid=\"common\"><blinn><diffuse>"
      "<color>0.2 0.5 0.9 1</color></diffuse><transparency><float>0.6</float></transparency>"
      "</blinn></technique></profile_COMMON></effect>\n"
      "  </library_effects>\n",
      out);
}

// Six significant digits, the way common exporters write vertex data.
void WriteSource(std::FILE* out, std::mt19937& rng, int g, const char* kind, int stride,
                 double low, double high) {
  std::uniform_real_distribution<double> value(low, high);
  const int count = kVertices * stride;
  std::fprintf(out, "      <source id=\"g%d-%s\">\n        <float_array id=\"g%d-%s-array\" count=\"%d\">",
               g, kind, g, kind, count);
  for (int i = 0; i < count; ++i) std::fprintf(out, i % stride ? " %.6g" : "\n%.6g", value(rng));
  std::fprintf(out, "</float_array>\n        <technique_common><accessor source=\"#g%d-%s-array\" "
                    "count=\"%d\" stride=\"%d\">",
               g, kind, kVertices, stride);
  for (int k = 0; k < stride; ++k)
    std::fprintf(out, "<param name=\"%c\" type=\"float\"/>", (stride == 2 ? "ST" : "XYZ")[k]);
  std::fputs("</accessor></technique_common>\n      </source>\n", out);
}

void WriteInputs(std::FILE* out, int g) {
  std::fprintf(out, "\n        <input semantic=\"VERTEX\" source=\"#g%d-vertices\" offset=\"0\"/>"
                    "\n        <input semantic=\"NORMAL\" source=\"#g%d-normals\" offset=\"1\"/>"
                    "\n        <input semantic=\"TEXCOORD\" source=\"#g%d-texcoords\" offset=\"2\" set=\"0\"/>",
               g, g, g);
}

// The vertices form a grid of kColumns columns, and the polygons walk its cells in order, the
// way exported meshes keep neighbouring faces together in memory.
constexpr int kColumns = 500;
constexpr int kCells = (kVertices / kColumns - 1) * (kColumns - 1);

// Corner k (0 to 4) of grid cell `cell` in counter-clockwise order; the fifth is a neighbour.
int CellCorner(int cell, int k) {
  cell %= kCells;
  const int a = cell / (kColumns - 1) * kColumns + cell % (kColumns - 1);
  const int corners[5] = {a, a + 1, a + kColumns + 1, a + kColumns, a + kColumns - 1};
  return corners[k];
}

// One corner (position, normal and texture coordinate indices) after `separator`, which is a
// single byte: a blank next to a line break can read as an extra 0 where a "p" list is cut.
void WriteCorner(std::FILE* out, int vertex, char separator) {
  if (separator) std::fputc(separator, out);
  std::fprintf(out, "%d %d %d", vertex, vertex, vertex);
}

char Separator(int element, int k) {
  if (element + k == 0) return 0;
  return k == 0 && element % 8 == 0 ? '\n' : ' ';
}

void WriteGeometry(std::FILE* out, std::mt19937& rng, int g) {
  std::fprintf(out, "    <geometry id=\"g%d\" name=\"mesh%d\"><mesh>\n", g, g);
  WriteSource(out, rng, g, "positions", 3, -500.0, 500.0);
  WriteSource(out, rng, g, "normals", 3, -1.0, 1.0);
  WriteSource(out, rng, g, "texcoords", 2, 0.0, 1.0);
  std::fprintf(out, "      <vertices id=\"g%d-vertices\"><input semantic=\"POSITION\" "
                    "source=\"#g%d-positions\"/></vertices>\n",
               g, g);

  // Two triangles a cell.
  std::fprintf(out, "      <triangles material=\"%s\" count=\"%d\">", g % 2 ? "paint" : "skin", kTriangles);
  WriteInputs(out, g);
  std::fputs("\n        <p>", out);
  static constexpr int kHalves[2][3] = {{0, 1, 2}, {0, 2, 3}};
  for (int t = 0; t < kTriangles; ++t) {
    for (int k = 0; k < 3; ++k) WriteCorner(out, CellCorner(t / 2, kHalves[t % 2][k]), Separator(t, k));
  }
  std::fputs("</p>\n      </triangles>\n", out);

  // Mostly quads, with some triangles and pentagons, over the cells after the triangles. A
  // "vcount" text longer than the token buffer ends reading, so the polygons come in several
  // polylists, as exporters write them.
  for (int first = 0; first < kPolygons; first += kPolylistSize) {
    const int count = kPolygons - first < kPolylistSize ? kPolygons - first : kPolylistSize;
    std::string sizes;
    for (int q = 0; q < count; ++q) sizes += q % 10 == 0 ? "3 " : q % 10 == 5 ? "5 " : "4 ";
    std::fprintf(out, "      <polylist material=\"glass\" count=\"%d\">", count);
    WriteInputs(out, g);
    std::fprintf(out, "\n        <vcount>%s</vcount>\n        <p>", sizes.c_str());
    for (int q = 0; q < count; ++q) {
      const int corners = q % 10 == 0 ? 3 : q % 10 == 5 ? 5 : 4;
      const int cell = kTriangles / 2 + first + q;
      for (int k = 0; k < corners; ++k) WriteCorner(out, CellCorner(cell, k), Separator(q, k));
    }
    std::fputs("</p>\n      </polylist>\n", out);
  }
  std::fputs("    </mesh></geometry>\n", out);
}

void WriteInstance(std::FILE* out, int node, int g, const char* transform) {
  std::fprintf(out,
               "      <node id=\"n%d\" name=\"n%d\">%s\n"
               "        <instance_geometry url=\"#g%d\"><bind_material><technique_common>"
               "<instance_material symbol=\"skin\" target=\"#m0\"/>"
               "<instance_material symbol=\"paint\" target=\"#m1\"/>"
               "<instance_material symbol=\"glass\" target=\"#m2\"/>"
               "</technique_common></bind_material></instance_geometry>\n      </node>\n",
               node, node, transform, g);
}

// VARNEL_BENCH_KEEP names a folder where the document is kept (and reused) for profiling runs.
struct BenchDocument {
  std::string dir;
  std::string path;
  long bytes = 0;
  bool keep = false;

  BenchDocument() {
    const char* kept = std::getenv("VARNEL_BENCH_KEEP");
    keep = kept && *kept;
    if (keep) {
      dir = kept;
    } else {
      const char* tmp = std::getenv("TMPDIR");
      dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnel-pipeline-XXXXXX";
      if (!mkdtemp(dir.data())) return;
    }
    path = dir + "/bench.dae";
    if (keep) {
      if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        std::fseek(in, 0, SEEK_END);
        bytes = std::ftell(in);
        std::fclose(in);
        if (bytes > 0) return;
      }
    }
    WriteTexture(dir + "/bench-texture.bmp");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return;
    std::mt19937 rng(7);
    std::fputs("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n"
               "  <asset><contributor><authoring_tool>varnel bench</authoring_tool></contributor>"
               "<unit name=\"inch\" meter=\"0.0254\"/><up_axis>Y_UP</up_axis></asset>\n",
               out);
    WriteEffects(out);
    std::fputs("  <library_geometries>\n", out);
    for (int g = 0; g < kGeometries; ++g) WriteGeometry(out, rng, g);
    std::fputs("  </library_geometries>\n  <library_visual_scenes><visual_scene id=\"scene\">\n", out);
    WriteInstance(out, 0, 0, "<translate>10 0 -5</translate>");
    WriteInstance(out, 1, 1, "<rotate>0 1 0 30</rotate><scale>2 2 2</scale>");
    WriteInstance(out, 2, 2, "");
    WriteInstance(out, 3, 3, "<matrix>1 0 0 100 0 0 -1 0 0 1 0 0 0 0 0 1</matrix>");
    WriteInstance(out, 4, 0, "<translate>-400 0 0</translate><rotate>0 0 1 90</rotate>");
    WriteInstance(out, 5, 1, "<scale>0.5 1 0.5</scale>");
    std::fputs("  </visual_scene></library_visual_scenes>\n"
               "  <scene><instance_visual_scene url=\"#scene\"/></scene>\n</COLLADA>\n",
               out);
    bytes = std::ftell(out);
    if (std::fclose(out) != 0) bytes = 0;
  }
  ~BenchDocument() {
    if (keep) return;
    std::remove(path.c_str());
    std::remove((dir + "/bench-texture.bmp").c_str());
    rmdir(dir.c_str());
  }
};

const BenchDocument& Document() {
  static BenchDocument document;
  return document;
}

bool Ready(benchmark::State& state) {
  if (Document().bytes > 0) return true;
  state.SkipWithError("cannot write the benchmark document");
  return false;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * Document().bytes);
  state.counters["MB"] = static_cast<double>(Document().bytes) / 1e6;
}

// Takes the materials it is given and ignores everything else.
class NullSink : public DaeDisplayList {
 public:
  ~NullSink() override { delete[] materials_; }
  void SetMaterials(long, MaterialProperties* materials) override {
    delete[] materials_;
    materials_ = materials;
  }

 private:
  MaterialProperties* materials_ = nullptr;
};

void Load(benchmark::State& state) {
  if (!Ready(state)) return;
  const String path = String::FromUtf8(Document().path);
  for (auto _ : state) {
    DaeDocument document;
    document.Load(path);
    benchmark::DoNotOptimize(document.activeScene);
  }
  Finish(state);
}

void DataBuffer(benchmark::State& state) {
  if (!Ready(state)) return;
  const String path = String::FromUtf8(Document().path);
  for (auto _ : state) {
    int32_t size = 0;
    unsigned char* buffer = nullptr;
    Varnel().CreateDataBufferFromFile(path, size, buffer);
    if (size <= 0) state.SkipWithError("no buffer produced");
    benchmark::DoNotOptimize(buffer);
    ::operator delete(buffer);
  }
  Finish(state);
}

// What `varnel buffer` does: the buffer's pieces go into a file as they are built.
struct FileWriter : DataBufferWriter {
  bool Begin(int32_t) override { return true; }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    ok = ok && pwrite(fd, data, static_cast<size_t>(size), offset) == size;
  }
  int fd = -1;
  bool ok = true;
};

void BufferToFile(benchmark::State& state) {
  if (!Ready(state)) return;
  const String path = String::FromUtf8(Document().path);
  const std::string out = Document().dir + "/bench.mpb";
  for (auto _ : state) {
    FileWriter writer;
    writer.fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    Varnel().CreateDataBufferFromFile(path, writer);
    if (close(writer.fd) != 0 || !writer.ok) state.SkipWithError("cannot write the buffer");
  }
  std::remove(out.c_str());
  Finish(state);
}

void DisplayList(benchmark::State& state) {
  if (!Ready(state)) return;
  const String path = String::FromUtf8(Document().path);
  for (auto _ : state) {
    NullSink sink;
    Varnel().CreateDisplayListFromFile(path, &sink);
  }
  Finish(state);
}

// Each takes about a second: five repetitions give a median that holds still.
#define PIPELINE_BENCHMARK(name) \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5) \
      ->ReportAggregatesOnly(true)
PIPELINE_BENCHMARK(Load);
PIPELINE_BENCHMARK(DataBuffer);
PIPELINE_BENCHMARK(BufferToFile);
PIPELINE_BENCHMARK(DisplayList);

}  // namespace
