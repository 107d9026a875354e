#!/usr/bin/env bash
# Lines of tests against lines of code (tests/ against src/, include/ and tools/), counting
# neither blank lines nor lines that hold only a comment. The project keeps the ratio between a
# quarter and a third; exits 1 above a third.
set -euo pipefail
cd "$(dirname "$0")/../.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.in' -o -name '*.cmake' \
       -o -name 'CMakeLists.txt' -o -name '*.sh' -o -name '*.py' \) -print0 |
    xargs -0 cat | awk '
      /^[ \t]*$/ { next }
      inblock { if ($0 ~ /\*\//) inblock = 0; next }
      /^[ \t]*\/\*/ { if ($0 !~ /\*\//) inblock = 1; next }
      /^[ \t]*(\/\/|#[ \t!]|#$)/ { if ($0 !~ /^[ \t]*#[ \t]*(include|define|if|endif|else|elif|pragma|undef)/) next }
      { n++ }
      END { print n + 0 }'
}
tests=$(count tests)
code=$(count src include tools)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", 100 * t / c }')
echo "tests $tests lines, code $code lines: $ratio%"
awk -v t="$tests" -v c="$code" 'BEGIN { exit !(3 * t <= c) }'
