// Building a mesh from a large document: the float and index lists dominate the parse.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "document/DaeDocument.h"
#include "tags/Factory.h"
#include "tags/Mesh.h"

namespace {

// A geometry with `points` positions (written like exporters do, 6 decimals) and as many
// triangle corners.
std::string MeshDocument(int points) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-5000.0, 5000.0);
  std::string text = "<geometry id='g'><mesh><source id='pos'><float_array id='pa' count='" +
                     std::to_string(points * 3) + "'>";
  char number[32];
  for (int i = 0; i < points * 3; ++i) {
    std::snprintf(number, sizeof number, i % 3 == 2 ? "%.6f\n" : "%.6f ", coordinate(random));
    text += number;
  }
  text += "</float_array><technique_common><accessor count='" + std::to_string(points) +
          "' stride='3'/></technique_common></source><triangles count='" + std::to_string(points / 3) +
          "'><input semantic='VERTEX' source='#pos' offset='0'/><p>";
  for (int i = 0; i < points / 3 * 3; ++i) text += std::to_string(i) + ' ';
  text += "</p></triangles></mesh></geometry>";
  return text;
}

void BM_ParseMesh(benchmark::State& state) {
  const std::string path = "/tmp/varnel_bench_tags.dae";
  const std::string text = MeshDocument(static_cast<int>(state.range(0)));
  if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
  for (auto _ : state) {
    varnel::DaeDocument document;
    document.AllocateBuffers();
    document.OpenFile(path.c_str());
    document.NextToken();
    std::unique_ptr<varnel::Tag> tag(varnel::CreateTag(document, document.IdentifyTag()));
    if (!tag || !tag->AsGeometryTag()) state.SkipWithError("mesh not built");
    benchmark::DoNotOptimize(tag.get());
    document.CloseStream();
    document.ReleaseBuffers();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  std::remove(path.c_str());
}
BENCHMARK(BM_ParseMesh)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
