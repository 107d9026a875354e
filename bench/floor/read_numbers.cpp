// The floor a converter is measured against: reads a document and converts every number of its
// texts with std::from_chars (integers as int, the rest as float), and nothing else. Given OUT
// and BYTES it then writes that many bytes to OUT, as a converter writes its result.
//
//   read_numbers FILE [OUT BYTES]
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: read_numbers FILE [OUT BYTES]\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  std::fseek(in, 0, SEEK_END);
  std::vector<char> text(static_cast<size_t>(std::ftell(in)));
  std::rewind(in);
  text.resize(std::fread(text.data(), 1, text.size(), in));
  std::fclose(in);

  double sum = 0;
  long numbers = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (*p == '<') {  // a tag: its attributes are no data
      while (p < end && *p != '>') ++p;
      ++p;
    } else if ((*p >= '0' && *p <= '9') || *p == '-' || *p == '.') {
      int i = 0;
      auto [stop, error] = std::from_chars(p, end, i);
      if (stop < end && (*stop == '.' || *stop == 'e' || *stop == 'E')) {
        float f = 0;
        stop = std::from_chars(p, end, f).ptr;
        sum += f;
      } else {
        sum += i;
      }
      ++numbers;
      p = stop > p ? stop : p + 1;
      (void)error;
    } else {
      ++p;
    }
  }
  if (argc == 4) {
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) return 1;
    std::vector<char> block(1 << 20, static_cast<char>(numbers));
    for (long long left = std::atoll(argv[3]); left > 0;) {
      ssize_t n = write(out, block.data(), left < (1 << 20) ? static_cast<size_t>(left) : block.size());
      if (n <= 0) return 1;
      left -= n;
    }
    if (close(out) != 0) return 1;
  }
  std::printf("%ld numbers, sum %g\n", numbers, sum);
  return 0;
}
