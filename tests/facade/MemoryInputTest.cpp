// Documents read from bytes, and what a call's result says.
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

#include "support/Documents.h"
#include "support/Outputs.h"
#include <varnel/DataBufferWriter.h>

namespace {

using namespace testdoc;
using pipelinetest::DiagnosticLog;
using varnel::DiagnosticKind;
using varnel::ImportOptions;
using varnel::ImportResult;
using varnel::ImportStatus;

// The buffer a call wrote, whole.
struct Collected : varnel::DataBufferWriter {
  bool Begin(int32_t size) override {
    bytes.assign(size_t(size), '\0');
    return true;
  }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    bytes.replace(size_t(offset), size_t(size), reinterpret_cast<const char*>(data), size_t(size));
  }
  std::string bytes;
};

// What a file's folder gives: the reference beside the document, else its file name there.
struct Folder : varnel::ReferenceResolver {
  explicit Folder(std::string dir) : dir(std::move(dir)) {}
  std::string Resolve(const char* reference) override {
    namespace fs = std::filesystem;
    const fs::path written(reference);
    for (const fs::path& p : {written.is_absolute() ? written : dir / written, dir / written.filename()})
      if (fs::exists(p)) return p.string();
    return "";
  }
  std::filesystem::path dir;
};

struct Outcome {
  ImportResult result;
  std::string buffer;
  std::vector<std::string> heard;  // kind and line of each diagnostic
};

// From the file at `path`, or from `bytes` when `path` is empty.
Outcome Import(const std::string& path, const std::string& bytes, ImportOptions options) {
  Outcome run;
  DiagnosticLog log;
  options.diagnostics = &log;
  Collected out;
  varnel::Varnel importer;
  run.result = path.empty() ? importer.CreateDataBufferFromMemory(bytes.data(), bytes.size(), out, options)
                            : importer.CreateDataBufferFromFile(varnel::String::FromUtf8(path), out, options);
  run.buffer = out.bytes;
  for (const auto& h : log.heard) run.heard.push_back(DiagnosticKindName(h.kind) + std::to_string(h.line));
  return run;
}
Outcome FromBytes(const std::string& bytes, ImportOptions options) { return Import("", bytes, options); }

// Bytes give what the file of those bytes gives, in both readings, textures found through a
// resolver that looks where the file's reading looks.
TEST(MemoryInput, CorpusDocumentsReadFromBytesAsFromFiles) {
  const auto documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "no corpus";
  int produced = 0;
  for (const std::string& path : documents) {
    Folder folder(std::filesystem::path(path).parent_path().string());
    const std::string bytes = testsupport::ReadFile(path);
    for (bool extended : {false, true}) {
      ImportOptions options;
      options.extended = extended;
      const Outcome file = Import(path, "", options);
      options.resolver = &folder;
      const Outcome memory = FromBytes(bytes, options);
      EXPECT_TRUE(memory.buffer == file.buffer) << path << (extended ? " (extended)" : "");
      EXPECT_EQ(memory.heard, file.heard) << path;
      EXPECT_EQ(memory.result.status, file.result.status) << path;
      EXPECT_EQ(memory.result.message, file.result.message) << path;
      produced += file.result.produced();
    }
  }
  EXPECT_GT(produced, 1000);
}

// The result names the first diagnostic the reading did not pass over, its line apart from its
// text; output with a diagnostic is partial.
TEST(ImportResult, SaysWhatHappenedWithTheLineAsAField) {
  Doc placed;
  placed.geometries = Mesh("g", kTriangle);
  placed.scene = Node("", "<instance_geometry url=\"#g\"/>");
  Doc unknown = placed;
  unknown.nodes = "<node id=\"n\">\n<survey/></node>";
  Doc unresolved = placed;
  unresolved.scene += Node("", "<instance_geometry url=\"#none\"/>");
  const struct {
    const char* name;
    std::string text;
    bool extended;
    ImportStatus status;
    DiagnosticKind kind;
    int line;
    const char* message;
  } cases[] = {
      {"complete", placed.Text(), false, ImportStatus::kComplete, DiagnosticKind{}, 0, ""},
      {"stopped", unknown.Text(), false, ImportStatus::kNoOutput, DiagnosticKind::kUnknownName, 0,
       "parsing stopped: <survey> is not read"},
      {"read past", unknown.Text(), true, ImportStatus::kComplete, DiagnosticKind{}, 0, ""},
      {"partial", unresolved.Text(), false, ImportStatus::kPartial, DiagnosticKind::kUnresolvedReference, 0,
       "instance_geometry \"#none\" names no geometry"},
      {"not xml", "hello", false, ImportStatus::kNoOutput, DiagnosticKind::kNotXml, 1,
       "the document does not start with a tag"},
      {"empty", "", false, ImportStatus::kNoOutput, DiagnosticKind::kNotXml, 0, "the document is empty"},
  };
  for (const auto& c : cases) {
    ImportOptions options;
    options.extended = c.extended;
    const Outcome run = FromBytes(c.text, options);
    EXPECT_EQ(run.result.status, c.status) << c.name;
    EXPECT_EQ(run.result.kind, c.kind) << c.name;
    EXPECT_TRUE(c.line == 0 || run.result.line == c.line) << c.name << ": line " << run.result.line;
    EXPECT_EQ(run.result.message, c.message) << c.name;
    EXPECT_EQ(run.buffer.empty(), c.status == ImportStatus::kNoOutput) << c.name;
  }
}

// An allocation that fails inside the call ends it without output and says so; nothing is
// thrown to the caller.
TEST(ImportResult, MemoryRunningOutIsReportedNotThrown) {
  struct Failing : varnel::DataBufferWriter {
    bool Begin(int32_t) override { throw std::bad_alloc(); }
    void Write(int32_t, const unsigned char*, int32_t) override {}
  } failing;
  Doc placed;
  placed.geometries = Mesh("g", kTriangle);
  placed.scene = Node("", "<instance_geometry url=\"#g\"/>");
  const std::string text = placed.Text();
  ImportResult result;
  EXPECT_NO_THROW(result = varnel::Varnel().CreateDataBufferFromMemory(text.data(), text.size(), failing));
  EXPECT_EQ(result.status, ImportStatus::kNoOutput);
  EXPECT_EQ(result.kind, DiagnosticKind::kOutOfMemory);
  EXPECT_STREQ(varnel::DiagnosticKindName(result.kind), "out-of-memory");
}

// An in-memory document has no folder: its image is found through the resolver, or not at all.
TEST(MemoryInput, ReferencesLeadWhereTheResolverSays) {
  const std::string png = testsupport::ReadFile(std::string(VARNEL_TEST_DATA) + "/demo/brick.png");
  ASSERT_FALSE(png.empty());
  const std::string dir = std::filesystem::path(testsupport::WriteFile("resolved/tex.png", png)).parent_path();
  Doc doc;
  doc.images = "<image id=\"i\"><init_from>tex.png</init_from></image>";
  doc.effects = Effect("red", "", "i");
  doc.geometries = Mesh("g", kTriangle);
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>");
  const std::string text = doc.Text();
  ImportOptions options;
  const Outcome alone = FromBytes(text, options);
  Folder folder(dir);
  options.resolver = &folder;
  const Outcome resolved = FromBytes(text, options);
  EXPECT_EQ(alone.result.kind, DiagnosticKind::kTextureMissing);
  EXPECT_EQ(resolved.result.status, ImportStatus::kComplete);
  EXPECT_FALSE(resolved.buffer == alone.buffer);
  EXPECT_TRUE(resolved.buffer == Import(testsupport::WriteFile("resolved/doc.dae", text), "", {}).buffer);
}

}  // namespace
