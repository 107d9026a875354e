// Minimal JSON output for the command-line tool: numbers in fixed formats, escaped strings.
#pragma once

#include <cstdio>
#include <charconv>
#include <string>
#include <string_view>

namespace varnel::cli {

// The text printf gives with %.9g (`Print9`) and %.17g (`Print17`) in the C locale, at `at`
// (room for 32 characters); returns the end. Non-finite values as printf has them.
char* Print9(char* at, double value);
char* Print17(char* at, double value);

// %.9g for floats, %.17g for doubles; non-finite values as null.
void AppendFloat(std::string& out, float value);
void AppendDouble(std::string& out, double value);
void AppendString(std::string& out, std::string_view text);
inline void AppendBool(std::string& out, bool value) { out += value ? "true" : "false"; }

}  // namespace varnel::cli
