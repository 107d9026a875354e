// Reader throughput on a large, float-array-heavy COLLADA document written once to a temp file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#include "xml/ElementNames.h"
#include "xml/Numbers.h"
#include "xml/NumberList.h"
#include "xml/XmlReader.h"

namespace {

using varnel::XmlReader;

struct LargeDocument {
  std::string path;
  long bytes = 0;

  LargeDocument() {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/varnel-bench-XXXXXX";
    int fd = mkstemp(path.data());
    std::FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!out) return;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> coordinate(-500.0, 500.0);
    std::fputs("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n"
               "  <asset><unit name=\"meter\" meter=\"1\"/><up_axis>Z_UP</up_axis></asset>\n"
               "  <library_geometries>\n", out);
    const int vertices = 20000;
    for (int g = 0; g < 50; ++g) {
      std::fprintf(out, "    <geometry id=\"g%d\" name=\"part%d\"><mesh>\n", g, g);
      for (const char* kind : {"positions", "normals"}) {
        std::fprintf(out, "      <source id=\"g%d-%s\">\n        <float_array id=\"g%d-%s-array\" count=\"%d\">",
                     g, kind, g, kind, vertices * 3);
        for (int v = 0; v < vertices; ++v)
          std::fprintf(out, "%s%.6f %.6f %.6f", v % 4 ? " " : "\n", coordinate(rng), coordinate(rng),
                       coordinate(rng));
        std::fprintf(out, "</float_array>\n        <technique_common><accessor source=\"#g%d-%s-array\" "
                          "count=\"%d\" stride=\"3\"><param name=\"X\" type=\"float\"/>"
                          "<param name=\"Y\" type=\"float\"/><param name=\"Z\" type=\"float\"/>"
                          "</accessor></technique_common>\n      </source>\n", g, kind, vertices);
      }
      std::fprintf(out, "      <vertices id=\"g%d-v\"><input semantic=\"POSITION\" source=\"#g%d-positions\"/>"
                        "</vertices>\n      <triangles count=\"%d\"><input semantic=\"VERTEX\" "
                        "source=\"#g%d-v\" offset=\"0\"/><p>", g, g, vertices / 3, g);
      for (int v = 0; v < vertices / 3 * 3; ++v) std::fprintf(out, "%d ", static_cast<int>(rng() % vertices));
      std::fputs("</p></triangles>\n    </mesh></geometry>\n", out);
    }
    std::fputs("  </library_geometries>\n</COLLADA>\n", out);
    bytes = std::ftell(out);
    std::fclose(out);
  }
  ~LargeDocument() { std::remove(path.c_str()); }
};

const LargeDocument& Document() {
  static LargeDocument document;
  return document;
}

bool Open(XmlReader& reader, benchmark::State& state) {
  if (!reader.OpenFile(Document().path.c_str())) {
    state.SkipWithError("cannot write the benchmark document");
    return false;
  }
  reader.DetectByteOrderMark();
  return true;
}

bool AtEnd(const XmlReader& r) { return !r.isTagToken && r.tokenLength == 0 && !r.attributesPending; }

// Tokens and ids only, the way the parse loop walks a document it does not keep.
void Tokenise(benchmark::State& state) {
  Document();  // written before the clock runs
  XmlReader reader;
  reader.AllocateBuffers();
  long tokens = 0;
  for (auto _ : state) {
    if (!Open(reader, state)) return;
    bool more = reader.NextToken();
    while (more) {
      ++tokens;
      if (reader.isTagToken && reader.IdentifyTag() != 0)
        more = !AtEnd(reader);
      else
        more = reader.NextToken();
    }
    reader.CloseStream();
  }
  benchmark::DoNotOptimize(tokens);
  state.SetBytesProcessed(state.iterations() * Document().bytes);
}
BENCHMARK(Tokenise)->Unit(benchmark::kMillisecond);

// The same walk, converting every float_array number and every p index the way the element
// classes do (FloatArray::Parse, ReadIndices): into fresh arrays reserved from the declared count,
// or, with argument 0, as if no count were declared, so that the arrays grow as they are read.
void TokeniseAndConvert(benchmark::State& state) {
  Document();
  const bool declared = state.range(0) != 0;
  XmlReader reader;
  reader.AllocateBuffers();
  double sum = 0;
  long indices = 0;
  for (auto _ : state) {
    if (!Open(reader, state)) return;
    bool more = reader.NextToken();
    int count = 0;
    while (more) {
      if (!reader.isTagToken) {
        more = reader.NextToken();
        continue;
      }
      int id = reader.IdentifyTag();
      if (id == 0) {
        more = reader.NextToken();
        continue;
      }
      if (id == varnel::kCount && !reader.wasEndTag) count = varnel::ParseInt(reader.tokenText);
      if (id == varnel::kFloatArray && !reader.wasEndTag) {
        count = 0;
        while (reader.attributesPending || (reader.isTagToken && !reader.isEndToken)) {
          int attribute = reader.IdentifyTag();
          if (attribute == varnel::kCount && declared) count = varnel::ParseInt(reader.tokenText);
          reader.NextToken();
          reader.IdentifyTag();
        }
        varnel::BaseArray<float> values(varnel::NoStorage{});
        if (count >= 1) varnel::ReserveDeclared(reader, values, count);
        else varnel::ReserveFresh(values, 15);
        varnel::ReadNumberList<varnel::ListEnd::kStopAtTag>(
            reader, count >= 1 ? count : -1, [&](int64_t, const char* text) {
              const char* stop;
              values.Append(static_cast<float>(varnel::ParseDoubleAt(text, &stop)));
              return stop;
            });
        varnel::ReleaseUnread(values, count);
        sum += values.count > 0 ? values.data[values.count - 1] : 0;
      } else if (id == varnel::kP && !reader.wasEndTag) {
        varnel::BaseArray<int32_t> values(varnel::NoStorage{});
        const int amount = count * 3;
        varnel::ReserveFresh(values, declared ? std::min<int64_t>(amount, reader.listRoom) + 1 : 15);
        reader.ReadIntList(amount, values);
        indices += values.count;
      }
      more = !AtEnd(reader);
    }
    reader.CloseStream();
  }
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(indices);
  state.SetBytesProcessed(state.iterations() * Document().bytes);
}
BENCHMARK(TokeniseAndConvert)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
