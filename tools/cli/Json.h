// Minimal JSON output for the command-line tool: numbers in fixed formats, escaped strings.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace varnel::cli {

// %.9g for floats, %.17g for doubles; non-finite values as null.
void AppendFloat(std::string& out, float value);
void AppendDouble(std::string& out, double value);
void AppendString(std::string& out, std::string_view text);
inline void AppendBool(std::string& out, bool value) { out += value ? "true" : "false"; }

}  // namespace varnel::cli
