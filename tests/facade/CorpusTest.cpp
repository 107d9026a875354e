// Every corpus document through the three entry points: nothing escapes, and the three outputs
// agree on whether the document produced anything.
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

#include "support/Outputs.h"

namespace pipelinetest {
namespace {

TEST(Corpus, EveryDocumentThroughAllThreeOperations) {
  std::vector<std::string> documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "corpus absent";
  int produced = 0;
  for (const std::string& file : documents) {
    SCOPED_TRACE(file);
    String path = String::FromUtf8(file);
    IGeometry* geometry = nullptr;
    int32_t size = 0;
    unsigned char* buffer = nullptr;
    RecordingSink sink;
    try {
      Varnel().CreateGeometryFromFile(path, &geometry);
      Varnel().CreateDataBufferFromFile(path, size, buffer);
      Varnel().CreateDisplayListFromFile(path, &sink);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "exception: " << e.what();
    } catch (...) {
      ADD_FAILURE() << "exception";
    }
    bool hasGeometry = geometry != nullptr;
    EXPECT_EQ(hasGeometry, size > 0);
    EXPECT_EQ(hasGeometry, sink.extentCalls == 1);
    EXPECT_LE(sink.extentCalls, 1);
    if (geometry && size > 0) {
      EXPECT_EQ(geometry->GetBufferSize(), size);
      // Display lists add lines to the same parts.
      long parts = 0;
      for (const Part& part : sink.output.parts) parts += part.type >= 0;
      EXPECT_EQ(geometry->GetPartCount(), parts);
    }
    produced += hasGeometry;
    if (geometry) {
      EXPECT_EQ(geometry->Release(), 0u);
    }
    ::operator delete(buffer);
  }
  std::printf("%d of %zu corpus documents produced output\n", produced, documents.size());
  EXPECT_GT(produced, 0);
}

}  // namespace
}  // namespace pipelinetest
