// The floor a converter is measured against: reads a document in 64 KB blocks, converts every
// number token of its texts to a double once, and nothing else. Given OUT and BYTES it then
// writes that many bytes to OUT from one reused block of varnel's window size, as a converter
// writes its result.
//
//   read_numbers FILE [OUT BYTES]
//
// Measured on the generated mesh (docs/performance.md): fast_float is faster than libstdc++'s
// std::from_chars, the exact short-decimal path below faster than either, and 64 KB blocks, which
// stay in the cache while they are read, faster than 1 MB ones. A floor slower than it could be
// would flatter every converter measured against it.
#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace {

constexpr size_t kBlock = 64 << 10;
constexpr size_t kWriteBlock = 3 << 16;  // MultiPatchBuffMgr's window
// A number longer than this is not one any document holds; the floor need not carry it.
constexpr size_t kLongestNumber = 4096;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimals of at most 19 digits whose mantissa a double holds exactly are one correctly
// rounded division (the mantissa and the power of ten both being exact); the rest go to
// fast_float. Returns where the number stopped, `p` when there was none.
const char* Convert(const char* p, const char* end, double& value) {
  const char* q = p;
  const bool negative = *q == '-';
  if (negative) ++q;
  uint64_t mantissa = 0;
  const char* first = q;
  while (q < end && static_cast<unsigned>(*q - '0') < 10u) mantissa = mantissa * 10 + (*q++ - '0');
  int digits = static_cast<int>(q - first);
  int fraction = 0;
  if (q < end && *q == '.') {
    const char* point = ++q;
    while (q < end && static_cast<unsigned>(*q - '0') < 10u) mantissa = mantissa * 10 + (*q++ - '0');
    fraction = static_cast<int>(q - point);
    digits += fraction;
  }
  if (digits == 0 || digits > 19 || mantissa > (uint64_t{1} << 53) ||
      (q < end && (*q == 'e' || *q == 'E'))) {
    auto [stop, error] = fast_float::from_chars(p, end, value);
    return error == std::errc() ? stop : p;
  }
  value = static_cast<double>(mantissa);
  if (fraction > 0) value /= kExactPowers[fraction];
  if (negative) value = -value;
  return q;
}

struct Sum {
  double total = 0;
  long numbers = 0;
};

// Reads FILE block by block. Returns false when it cannot be read.
bool ReadNumbers(const char* path, Sum& sum) {
  int in = open(path, O_RDONLY);
  if (in < 0) return false;
  std::vector<char> block(kLongestNumber + kBlock);
  size_t carried = 0;  // a token cut by the previous block's end, moved to the front
  bool inTag = false;  // a tag's attributes are no data, even when it spans blocks
  for (;;) {
    ssize_t n = read(in, block.data() + carried, kBlock);
    if (n < 0) {
      close(in);
      return false;
    }
    const char* p = block.data();
    const char* end = p + carried + n;
    // Tokens end at a blank or a tag: up to the block's last one, none is cut, and each number
    // is converted in the pass that finds its end.
    const char* whole = end;
    if (n > 0) {
      while (whole > p && end - whole < static_cast<ptrdiff_t>(kLongestNumber) &&
             !IsBlank(whole[-1]) && whole[-1] != '<')
        --whole;
      if (whole == p || end - whole >= static_cast<ptrdiff_t>(kLongestNumber)) whole = end;
    }
    while (p < whole) {
      if (inTag) {
        p = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(whole - p)));
        if (!p) break;
        inTag = false;
        ++p;
      } else if (*p == '<') {
        inTag = true;
        ++p;
      } else if (IsBlank(*p)) {
        ++p;
      } else {
        double value;
        const char* stop = Convert(p, whole, value);
        if (stop != p) {
          sum.total += value;
          ++sum.numbers;
        }
        while (stop < whole && !IsBlank(*stop) && *stop != '<') ++stop;  // a word, not a number
        p = stop;
      }
    }
    carried = static_cast<size_t>(end - whole);
    std::memmove(block.data(), whole, carried);
    if (n == 0) break;
  }
  close(in);
  return true;
}

bool WriteBytes(const char* path, long long bytes, char fill) {
  int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) return false;
  std::vector<char> block(kWriteBlock, fill);
  while (bytes > 0) {
    size_t size = bytes < static_cast<long long>(block.size()) ? static_cast<size_t>(bytes) : block.size();
    ssize_t n = write(out, block.data(), size);
    if (n <= 0) break;
    bytes -= n;
  }
  return close(out) == 0 && bytes == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: read_numbers FILE [OUT BYTES]\n");
    return 2;
  }
  Sum sum;
  if (!ReadNumbers(argv[1], sum)) return 1;
  if (argc == 4 && !WriteBytes(argv[2], std::atoll(argv[3]), static_cast<char>(sum.numbers))) return 1;
  std::printf("%ld numbers, sum %.17g\n", sum.numbers, sum.total);
  return 0;
}
