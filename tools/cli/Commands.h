// The commands of the varnel tool. Each returns the process exit status.
#pragma once

#include <string>

namespace varnel::cli {

int RunInfo(const std::string& file);
int RunDump(const std::string& file);
int RunBuffer(const std::string& file, const std::string& out);
int RunShapefile(const std::string& file, const std::string& out);
int RunObj(const std::string& file, const std::string& out);

// Creates `dir` (and parents) when missing; false when it cannot be used.
bool EnsureDirectory(const std::string& dir);
// One diagnostic line on standard error naming the file.
void Report(const std::string& file, const char* what);
// Diagnostic for a document that produced nothing, with the reason when the file shows one;
// returns 1.
int NoOutput(const std::string& file);
// Diagnostic for an output that cannot be written; returns 2.
int CannotWrite(const std::string& out);

}  // namespace varnel::cli
