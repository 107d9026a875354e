#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/BackgroundWriter.h"

// Pieces of every size, through chunks handed to the thread, arrive whole and in order; a failed
// write is reported by Finish.
TEST(BackgroundWriter, KeepsOrderAcrossChunksAndReportsFailedWrites) {
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(file);
  std::string expected;
  {
    varnel::cli::BackgroundWriter out(file);
    for (int i = 0; i < 20000; ++i) {
      std::string piece(size_t(i % 997), char('a' + i % 26));
      out.Write(piece);
      expected += piece;
      char* at = out.Room(16);
      at += std::snprintf(at, 16, "<%d>", i);
      out.Commit(at);
      expected += "<" + std::to_string(i) + ">";
    }
    EXPECT_TRUE(out.Finish());
  }
  std::string written(expected.size() + 1, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_TRUE(written == expected) << written.size() << " bytes of " << expected.size();

  if (std::FILE* full = std::fopen("/dev/full", "wb")) {
    varnel::cli::BackgroundWriter out(full);
    out.Write(std::string(3 << 20, 'x'));
    EXPECT_FALSE(out.Finish());
    std::fclose(full);
  }
}
