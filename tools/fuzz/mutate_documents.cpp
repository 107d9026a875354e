// Seeded mutations of the demo house and of a sample of the corpus, plus hand-made hostile
// documents, through all three entry points. Whatever the input, every call must return (no
// crash, no exception, no hang; in a sanitizer build no bad access or leak), the three outputs
// must agree on whether anything was produced, and some hostile documents must (or must not)
// produce output. Exits 1 when any check failed.
//
//   mutate_documents DEMO_DIR [CORPUS_DIR [MUTANTS_PER_DOCUMENT]]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include "TouchingSink.h"

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Processor seconds one document may take (the machine may be shared, so not wall time); a
// generous wall-clock limit also catches a call that waits instead of computing.
constexpr double kCpuSecondsPerDocument = kSanitized ? 60 : 6;
constexpr double kWallSecondsPerDocument = 20 * kCpuSecondsPerDocument;

int failures = 0, runs = 0;

void Fail(const std::string& label, const std::string& what) {
  std::fprintf(stderr, "FAILED: %s: %s\n", label.c_str(), what.c_str());
  ++failures;
}

// Ends the process when one document takes longer than the limit: a hang must fail the run,
// not stall it.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Arm(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = label;
    cpuStart_ = std::clock();
    wallStart_ = std::chrono::steady_clock::now();
    armed_ = true;
  }
  void Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      if (!armed_) continue;
      const double cpu = double(std::clock() - cpuStart_) / CLOCKS_PER_SEC;
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
      if (cpu > kCpuSecondsPerDocument || wall > kWallSecondsPerDocument) {
        std::fprintf(stderr, "HANG: %s still running after %.1f s (%.1f s processor)\n",
                     label_.c_str(), wall, cpu);
        std::fflush(stderr);
        std::abort();
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string label_;
  std::clock_t cpuStart_ = 0;
  std::chrono::steady_clock::time_point wallStart_;
  bool armed_ = false;
  bool done_ = false;
  std::thread thread_;
};

Watchdog* watchdog = nullptr;

std::string scratch;  // a folder of this run, removed at the end

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Write(const std::string& name, const std::string& contents) {
  fs::path path = fs::path(scratch) / name;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
  return path.string();
}

enum class Expect { kAnything, kOutput, kNoOutput };

// The three entry points on the file at `path`.
void RunFile(const std::string& label, const std::string& path, Expect expect = Expect::kAnything) {
  const varnel::String file = varnel::String::FromUtf8(path);
  ++runs;
  watchdog->Arm(label);
  try {
    varnel::Varnel varnel;
    varnel::IGeometry* geometry = nullptr;
    varnel.CreateGeometryFromFile(file, &geometry);
    int32_t size = 0, geometrySize = 0, geometryParts = 0;
    if (geometry) {
      geometrySize = geometry->GetBufferSize();
      geometryParts = geometry->GetPartCount();
      geometry->Release();
    }
    unsigned char* buffer = nullptr;
    varnel.CreateDataBufferFromFile(file, size, buffer);
    unsigned sum = 0;
    for (int32_t i = 0; buffer && i < size; ++i) sum += buffer[i];
    ::operator delete(buffer);
    fuzzing::TouchingSink sink;
    varnel.CreateDisplayListFromFile(file, &sink);
    sink.sum = sink.sum + sum;

    const bool produced = size > 0;
    if (geometrySize != size || sink.extents != int(produced) || (produced && sink.parts != geometryParts))
      Fail(label, "outputs disagree: geometry " + std::to_string(geometrySize) + " bytes in " +
                      std::to_string(geometryParts) + " parts, data buffer " + std::to_string(size) +
                      " bytes, display list " + std::to_string(sink.parts) + " parts and " +
                      std::to_string(sink.extents) + " extent calls");
    else if (expect != Expect::kAnything && produced != (expect == Expect::kOutput))
      Fail(label, produced ? "output where none was expected" : "no output");
  } catch (const std::exception& e) {
    Fail(label, std::string("exception ") + e.what());
  } catch (...) {
    Fail(label, "exception of another type");
  }
  watchdog->Disarm();
}

void Run(const std::string& label, const std::string& name, const std::string& text,
         Expect expect = Expect::kAnything) {
  RunFile(label, Write(name, text), expect);
}

// splitmix64: the same sequence on every platform, unlike the standard distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }

 private:
  uint64_t state_;
};

template <size_t N>
const char* Pick(const char* const (&choices)[N], Rng& rng) {
  return choices[rng.Below(N)];
}

const char* const kHostileNumbers[] = {
    "2147483647", "-2147483648", "4294967296", "-5", "0", "-3", "1", "65536",
    "99999999999999999999", "1e308", "-1e308", "nan", "inf", "junk", "", "0x10", "3.5e9"};

// Position of a random occurrence of `needle`, or npos.
size_t RandomFind(const std::string& text, const std::string& needle, Rng& rng) {
  size_t at = text.find(needle, rng.Below(text.size()));
  return at != std::string::npos ? at : text.find(needle);
}

// Replaces the quoted value of a random attribute `name`.
void ReplaceAttribute(std::string& text, const std::string& name, Rng& rng) {
  size_t at = RandomFind(text, " " + name + "=\"", rng);
  if (at == std::string::npos) return;
  size_t start = at + name.size() + 3;
  size_t end = text.find('"', start);
  if (end != std::string::npos) text.replace(start, end - start, Pick(kHostileNumbers, rng));
}

// Replaces one number inside a random element `name` (its text, not its attributes).
void ReplaceListNumber(std::string& text, const std::string& name, Rng& rng) {
  size_t at = RandomFind(text, "<" + name, rng);
  size_t open = at == std::string::npos ? at : text.find('>', at);
  size_t first = open == std::string::npos ? open : text.find_first_of("-0123456789", open);
  if (first == std::string::npos) return;
  // Somewhere in the list rather than always at its start.
  size_t close = text.find('<', open);
  if (close != std::string::npos && close > first) {
    size_t blank = text.find(' ', first + rng.Below(close - first));
    if (blank != std::string::npos && blank + 1 < close) first = blank + 1;
  }
  size_t last = std::min(text.find_first_not_of("-+.0123456789eE", first), text.size());
  text.replace(first, last - first, Pick(kHostileNumbers, rng));
}

std::string Mutate(std::string text, Rng& rng) {
  for (int round = 0, rounds = 1 + int(rng.Below(3)); round < rounds && !text.empty(); ++round) {
    switch (rng.Below(16)) {
      case 0:  // byte flips
        for (int k = 0, n = 1 + int(rng.Below(8)); k < n; ++k)
          text[rng.Below(text.size())] ^= static_cast<char>(1 + rng.Below(255));
        break;
      case 1:  // truncation
        text.resize(rng.Below(text.size()));
        break;
      case 2:
      case 3: {  // duplicate or delete a range that starts at a tag
        size_t start = RandomFind(text, "<", rng);
        if (start == std::string::npos) break;
        size_t end = std::min(text.find('>', start + rng.Below(4000)), text.size() - 1);
        std::string range = text.substr(start, end + 1 - start);
        if (rng.Below(2)) text.insert(end + 1, range);
        else text.erase(start, range.size());
        break;
      }
      case 4: {  // any number
        size_t at = text.find_first_of("0123456789", rng.Below(text.size()));
        if (at == std::string::npos) break;
        size_t end = std::min(text.find_first_not_of("0123456789.", at), text.size());
        text.replace(at, end - at, Pick(kHostileNumbers, rng));
        break;
      }
      case 5:
        ReplaceAttribute(text, Pick({"count", "stride", "offset", "set", "meter"}, rng), rng);
        break;
      case 6:
        ReplaceListNumber(text, Pick({"p", "vcount", "float_array", "matrix", "translate", "rotate",
                                      "scale", "color", "bind_shape_matrix"}, rng), rng);
        break;
      case 7:  // end-of-input marker bytes
        text.insert(rng.Below(text.size()), 1 + rng.Below(2), '\xFF');
        break;
      case 8:  // byte-order marks in front of UTF-8 text
        text.insert(0, rng.Below(4) ? std::string(Pick({"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}, rng))
                                    : std::string("\xFE\xFF\0", 3));
        break;
      case 9: {  // attribute text longer than the attribute buffer
        size_t at = RandomFind(text, "=\"", rng);
        if (at != std::string::npos)
          text.insert(at + 2, std::string(900 + rng.Below(400), rng.Below(2) ? 'a' : '7'));
        break;
      }
      case 10: {  // a token of the size that ends reading, or one byte less
        size_t at = RandomFind(text, rng.Below(2) ? ">" : " ", rng);
        if (at != std::string::npos)
          text.insert(at + 1, std::string(131170 + rng.Below(3), rng.Below(2) ? '1' : 'x'));
        break;
      }
      case 11: {  // deeper nesting of nodes
        size_t at = RandomFind(text, "<node", rng);
        if (at == std::string::npos) break;
        std::string open, close;
        for (size_t k = 0, levels = 1 + rng.Below(3000); k < levels; ++k)
          open += "<node>", close += "</node>";
        size_t end = text.find("</node>", at);
        if (end != std::string::npos && rng.Below(2)) text.insert(end, close);
        text.insert(at, open);
        break;
      }
      case 12: {  // an instance_node that leads back to an enclosing node
        size_t at = RandomFind(text, "<node id=\"", rng);
        if (at == std::string::npos) break;
        std::string id = text.substr(at + 10, text.find('"', at + 10) - at - 10);
        size_t inside = text.find('>', at);
        if (inside != std::string::npos)
          text.insert(inside + 1, "<instance_node url=\"#" + id + "\"/>");
        break;
      }
      case 13: {  // a url pointed somewhere else
        size_t at = RandomFind(text, "url=\"#", rng), other = RandomFind(text, "id=\"", rng);
        if (at == std::string::npos || other == std::string::npos) break;
        size_t end = text.find('"', other + 4), close = text.find('"', at + 6);
        if (end != std::string::npos && close != std::string::npos)
          text.replace(at + 6, close - at - 6, text.substr(other + 4, end - other - 4));
        break;
      }
      case 14: {  // unbalanced markup
        std::string bit = rng.Below(15) ? Pick({"<", ">", "</", "/>", "<!--", "-->", "<![CDATA[",
                                                "]]>", "\"", "'", "&amp;", "&#0;", "\n"}, rng)
                                        : std::string(1, '\0');
        text.insert(rng.Below(text.size()), bit);
        break;
      }
      default: {  // a random slice moved elsewhere
        size_t start = rng.Below(text.size());
        size_t n = rng.Below(std::min<size_t>(text.size() - start, 2000));
        std::string slice = text.substr(start, n);
        text.erase(start, n);
        text.insert(rng.Below(text.size() + 1), slice);
        break;
      }
    }
  }
  return text;
}

// Mutants of `original`, written into `folder` so that relative texture paths resolve.
void RunMutants(const std::string& original, const std::string& folder, const std::string& name,
                uint64_t seed, int mutants) {
  for (int k = 0; k < mutants; ++k) {
    Rng rng(seed * 1000003u + uint64_t(k));
    Run(name + " mutant " + std::to_string(k), folder + "/mutant.dae", Mutate(original, rng));
  }
}

// A one-triangle document whose parts the hostile cases replace.
struct Document {
  std::string floatArray = R"(<float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>)";
  std::string accessor = R"(<accessor source="#pa" count="3" stride="3"/>)";
  std::string primitive = Triangles("1", "0 1 2");
  std::string libraryNodes;
  std::string scene = R"(<node id="top"><translate>1 2 3</translate><instance_geometry url="#g"/></node>)";

  static std::string Triangles(const std::string& count, const std::string& p,
                               const std::string& offset = "0") {
    return R"(<triangles count=")" + count + R"("><input semantic="VERTEX" source="#v" offset=")" +
           offset + R"("/><p>)" + p + "</p></triangles>";
  }
  static std::string Polylist(const std::string& count, const std::string& vcount,
                              const std::string& p = "0 1 2") {
    return R"(<polylist count=")" + count + R"("><input semantic="VERTEX" source="#v" offset="0"/>)"
           "<vcount>" + vcount + "</vcount><p>" + p + "</p></polylist>";
  }
  std::string Text() const {
    return R"(<?xml version="1.0"?>
<COLLADA version="1.4.1"><asset><up_axis>Z_UP</up_axis></asset>
<library_effects><effect id="red"><profile_COMMON><technique sid="c"><lambert>
 <diffuse><color>1 0 0 1</color></diffuse></lambert></technique></profile_COMMON></effect>
</library_effects>
<library_materials><material id="m"><instance_effect url="#red"/></material></library_materials>
<library_geometries><geometry id="g"><mesh><source id="p">)" +
           floatArray + "<technique_common>" + accessor + R"(</technique_common></source>
 <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>)" +
           primitive + "</mesh></geometry></library_geometries>\n<library_nodes>" + libraryNodes +
           "</library_nodes>\n<library_visual_scenes><visual_scene id=\"s\">" + scene +
           R"(</visual_scene></library_visual_scenes>
<scene><instance_visual_scene url="#s"/></scene></COLLADA>
)";
  }
};

void Hostile(const std::string& label, const Document& d, Expect expect = Expect::kAnything) {
  Run(label, "hostile.dae", d.Text(), expect);
}

void HostileCounts() {
  Hostile("intact", Document(), Expect::kOutput);
  // Declared sizes far beyond the text: the numbers present are still read.
  Document huge;
  huge.floatArray = R"(<float_array id="pa" count="2147483647">0 0 0 1 0 0 0 1 0</float_array>)";
  Hostile("float_array count 2^31-1", huge, Expect::kOutput);
  for (const char* count : {"2147483647", "1073741824", "715827883", "-5", "0"}) {
    Document d;
    d.primitive = Document::Triangles(count, "0 1 2");
    Hostile(std::string("triangles count ") + count, d);
    d.primitive = Document::Polylist(count, "3");
    Hostile(std::string("polylist count ") + count, d);
  }
  // Accessor layouts and index offsets that point anywhere.
  for (const char* layout : {R"(count="2147483647" stride="3")", R"(count="-5" stride="3")",
                             R"(count="3" stride="0")", R"(count="3" stride="-3")",
                             R"(count="3" stride="2147483647")", R"(count="3" stride="3" offset="-3")",
                             R"(count="3" stride="3" offset="2147483647")",
                             R"(count="3" stride="3" offset="-2147483648")"}) {
    Document d;
    d.accessor = std::string(R"(<accessor source="#pa" )") + layout + "/>";
    Hostile(layout, d);
  }
  for (const char* offset : {"2147483647", "2147483646", "-2147483648", "-1", "1073741823"}) {
    Document d;
    d.primitive = Document::Triangles("1", "0 1 2", offset);
    Hostile(std::string("input offset ") + offset, d);
  }
  // Indices outside the arrays, polygon sizes of every kind.
  for (const char* p : {"0 1 2147483647", "-1 -2147483648 2", "5 6 7", "0 1"}) {
    Document d;
    d.primitive = std::string(R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/>)") +
                  R"(<input semantic="NORMAL" source="#p" offset="0"/><p>)" + p + "</p></triangles>";
    Hostile(std::string("p ") + p, d);
  }
  for (const char* vcount : {"0", "-3", "2147483647", "3 -2147483648 3", "2147483647 2147483647", ""}) {
    Document d;
    d.primitive = Document::Polylist("3", vcount, "0 1 2 0 1 2");
    Hostile(std::string("vcount ") + vcount, d);
  }
}

long PeakMegabytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void BogusCountsClaimNoMemory() {
  // A thousand short "p" lists, each a million integers short: the fill that completes a short
  // list stays within what the document's size allows.
  Document shortLists;
  shortLists.primitive.clear();
  for (int k = 0; k < 1000; ++k) shortLists.primitive += Document::Triangles("349525", "0 1 2");
  Hostile("1000 short p lists", shortLists);
  // Thousands of float arrays and vcounts that each declare 2^31 - 1 numbers and hold one.
  Document arrays;
  arrays.primitive = Document::Polylist("1", "3");
  for (int k = 0; k < 3000; ++k)
    arrays.primitive += "<source id=\"x" + std::to_string(k) +
                        R"("><float_array count="2147483647">1</float_array></source>)"
                        R"(<polylist count="2147483647"><vcount>3</vcount></polylist>)";
  Hostile("3000 bogus float_array counts", arrays, Expect::kOutput);
  if (PeakMegabytes() >= (kSanitized ? 2048 : 512))
    Fail("bogus counts", "peak memory " + std::to_string(PeakMegabytes()) + " MB");
}

void HostileStructure() {
  // Nodes nested deeper than any real document, in the scene and in the node library: read and
  // traversed however deep, without recursion.
  for (int levels : {200, 1990, 1999, 2001, 5000, 100000}) {
    const Expect expect = Expect::kOutput;
    std::string open, close;
    for (int k = 0; k < levels; ++k) open += "<node><translate>1 0 0</translate>", close += "</node>";
    Document d;
    d.scene = open + R"(<instance_geometry url="#g"/>)" + close;
    Hostile("scene nesting " + std::to_string(levels), d, expect);
    d.libraryNodes = R"(<node id="deep">)" + d.scene + "</node>";
    d.scene = R"(<node><instance_node url="#deep"/></node>)";
    Hostile("library nesting " + std::to_string(levels), d, expect);
  }
  // instance_node cycles: each node is drawn once per path that does not repeat it.
  Document cycle;
  cycle.libraryNodes = R"(<node id="a"><instance_geometry url="#g"/><instance_node url="#b"/></node>)"
                       R"(<node id="b"><instance_node url="#a"/><instance_node url="#b"/></node>)";
  cycle.scene = R"(<node><instance_node url="#a"/></node>)";
  Hostile("instance_node cycle", cycle, Expect::kOutput);

  // Lookups that scanned their table made these take minutes.
  Document wideScene;
  for (int k = 0; k < 30000; ++k) {
    wideScene.libraryNodes += "<node id=\"n" + std::to_string(k) + "\"/>";
    wideScene.scene += R"(<instance_node url="#n29999"/>)";
  }
  wideScene.scene = "<node>" + wideScene.scene + "</node>";
  Hostile("30000 instances of the last of 30000 nodes", wideScene, Expect::kOutput);
  Document wideMesh;
  wideMesh.primitive.clear();
  for (int k = 0; k < 20000; ++k)
    wideMesh.primitive += "<source id=\"s" + std::to_string(k) + "\"/>" +
                          R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/>)"
                          R"(<input semantic="NORMAL" source="#s19999" offset="0"/><p>0 1 2</p></triangles>)";
  Hostile("20000 sources and primitives", wideMesh, Expect::kOutput);

  // A chain of nodes that each instance the next one twice: 2^40 paths to one triangle.
  Document doubling;
  doubling.libraryNodes = R"(<node id="n0"><instance_geometry url="#g"/></node>)";
  for (int k = 1; k <= 40; ++k) {
    const std::string below = "<instance_node url=\"#n" + std::to_string(k - 1) + "\"/>";
    doubling.libraryNodes += "<node id=\"n" + std::to_string(k) + "\">" + below + below + "</node>";
  }
  doubling.scene = R"(<node><instance_node url="#n40"/></node>)";
  Hostile("2^40 instances", doubling);
  // The same doubling over a geometry of 10000 triangles: more points than 31 bits can count.
  std::string p;
  for (int k = 0; k < 10000; ++k) p += "0 1 2 ";
  doubling.primitive = Document::Triangles("10000", p);
  for (int top : {16, 17}) {
    doubling.scene = "<node><instance_node url=\"#n" + std::to_string(top) + "\"/></node>";
    Hostile("2^" + std::to_string(top) + " instances of 30000 points", doubling, Expect::kNoOutput);
  }
}

void HostileBytes() {
  const std::string text = Document().Text();
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"})
    Run("byte-order mark", "hostile.dae", mark + text);
  for (size_t at = 0; at < text.size(); at += 97) {
    std::string broken = text;
    Run("0xFF at " + std::to_string(at), "hostile.dae", broken.insert(at, "\xFF"));
    Run("cut at " + std::to_string(at), "hostile.dae", text.substr(0, at));
  }
  // Attribute text beyond the attribute buffer, before the attributes that matter.
  Document wide;
  wide.floatArray = R"(<float_array junk=")" + std::string(1500, 'a') +
                    R"(" id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>)";
  Hostile("1500-character attribute", wide);
  // Tokens of the size that ends reading, in list text, in other text and as a tag.
  const std::string token(131171, '7');
  Document longList;
  longList.floatArray = R"(<float_array id="pa" count="9">0 0 0 1 0 0 0 1 0 )" + token + "</float_array>";
  Hostile("long float_array token", longList);
  Document longVcount;
  longVcount.primitive = Document::Polylist("1", token);
  Hostile("long vcount token", longVcount);
  Run("long tag", "hostile.dae", "<" + token + ">" + text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DEMO_DIR [CORPUS_DIR [MUTANTS_PER_DOCUMENT]]\n", argv[0]);
    return 2;
  }
  const std::string demo = std::string(argv[1]) + "/";
  const std::string corpus = argc > 2 ? argv[2] : "";
  const int mutants = argc > 3 && std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : 24;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnel-mutants-XXXXXX";
  if (!mkdtemp(pattern.data())) return 2;
  scratch = pattern;
  Watchdog guard;
  watchdog = &guard;

  const std::string house = Read(demo + "house.dae"), brick = Read(demo + "brick.png");
  if (house.empty() || brick.empty()) Fail(demo, "the demo house or its texture is missing");
  Write("demo/brick.png", brick);
  Run("intact house", "demo/house.dae", house, Expect::kOutput);
  RunMutants(house, "demo", "house.dae", 1, mutants);
  // Broken texture files behind an intact document.
  for (int k = 0; k < 16; ++k) {
    Rng rng(77 + uint64_t(k));
    std::string png = brick;
    if (rng.Below(2)) png.resize(rng.Below(png.size()));
    for (int i = 0, n = 1 + int(rng.Below(6)); i < n && !png.empty(); ++i)
      png[rng.Below(png.size())] ^= static_cast<char>(1 + rng.Below(255));
    Write("textures/brick.png", png);
    Run("house with broken texture " + std::to_string(k), "textures/house.dae", house, Expect::kOutput);
  }

  // Every corpus document as it is, and mutants of a sample of the smaller ones.
  std::vector<std::string> documents;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(corpus, ec), end; !corpus.empty() && !ec && it != end;
       it.increment(ec)) {
    std::string ext = it->path().extension().string();
    if (!it->is_regular_file() || (ext != ".dae" && ext != ".DAE")) continue;
    RunFile(it->path().string(), it->path().string());
    if (it->file_size() <= 48 * 1024) documents.push_back(it->path().string());
  }
  std::sort(documents.begin(), documents.end());
  int sampled = 0;
  for (size_t i = 0; i < documents.size(); i += documents.size() / 24 + 1, ++sampled)
    RunMutants(Read(documents[i]), "corpus", fs::path(documents[i]).filename().string(), 100 + i,
               mutants);

  HostileCounts();
  BogusCountsClaimNoMemory();
  HostileStructure();
  HostileBytes();

  fs::remove_all(scratch, ec);
  std::printf("%d documents, %d of them mutants of corpus documents: %d failures\n", runs, sampled * mutants, failures);
  return failures ? 1 : 0;
}
