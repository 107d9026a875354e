// Seeded mutations of the demo house and of a sample of the corpus, plus hand-made hostile
// documents, through all three entry points. Whatever the input, every call must return: no
// crash, no exception, no hang, and (in the sanitizer build) no bad access or leak.
// VARNEL_MUTATIONS=n sets the mutants per document (default 24) for longer runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include <varnel/DaeDisplayList.h>
#include "support/TestSupport.h"
#include "support/TouchingSink.h"

namespace varnel {
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

// Ends the process when one document takes longer than the limit: a hang must fail the test,
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

struct Outcome {
  bool geometry = false;
  int32_t bufferSize = 0;
  bool displayList = false;
};

// Runs the three entry points on `path`; an exception that escapes fails the test.
Outcome RunAll(const std::string& path, const std::string& label) {
  Outcome outcome;
  const String file = String::FromUtf8(path);
  try {
    Varnel varnel;
    IGeometry* geometry = nullptr;
    varnel.CreateGeometryFromFile(file, &geometry);
    if (geometry) {
      outcome.geometry = true;
      geometry->Release();
    }
    unsigned char* buffer = nullptr;
    varnel.CreateDataBufferFromFile(file, outcome.bufferSize, buffer);
    unsigned sum = 0;
    for (int32_t i = 0; buffer && i < outcome.bufferSize; ++i) sum += buffer[i];
    ::operator delete(buffer);
    testsupport::TouchingSink sink;
    varnel.CreateDisplayListFromFile(file, &sink);
    outcome.displayList = sink.materials != nullptr;
    (void)sum;
  } catch (const std::exception& e) {
    ADD_FAILURE() << label << ": exception " << e.what();
  } catch (...) {
    ADD_FAILURE() << label << ": exception of another type";
  }
  return outcome;
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

const char* const kHostileNumbers[] = {
    "2147483647", "-2147483648", "4294967296", "-5", "0", "-3", "1", "65536",
    "99999999999999999999", "1e308", "-1e308", "nan", "inf", "junk", "", "0x10", "3.5e9"};

std::string HostileNumber(Rng& rng) {
  return kHostileNumbers[rng.Below(sizeof kHostileNumbers / sizeof *kHostileNumbers)];
}

// Position of a random occurrence of `needle`, or npos.
size_t RandomFind(const std::string& text, const std::string& needle, Rng& rng) {
  size_t at = text.find(needle, rng.Below(text.size()));
  return at != std::string::npos ? at : text.find(needle);
}

// Replaces the quoted value of a random attribute `name`.
bool ReplaceAttribute(std::string& text, const std::string& name, const std::string& value,
                      Rng& rng) {
  size_t at = RandomFind(text, " " + name + "=\"", rng);
  if (at == std::string::npos) return false;
  size_t start = at + name.size() + 3;
  size_t end = text.find('"', start);
  if (end == std::string::npos) return false;
  text.replace(start, end - start, value);
  return true;
}

// Replaces the first number inside a random element `name` (its text, not its attributes).
bool ReplaceListNumber(std::string& text, const std::string& name, const std::string& value,
                       Rng& rng) {
  size_t at = RandomFind(text, "<" + name, rng);
  if (at == std::string::npos) return false;
  size_t open = text.find('>', at);
  if (open == std::string::npos) return false;
  size_t first = text.find_first_of("-0123456789", open);
  if (first == std::string::npos) return false;
  // Somewhere in the list rather than always at its start.
  size_t close = text.find('<', open);
  if (close != std::string::npos && close > first) {
    size_t pick = first + rng.Below(close - first);
    size_t blank = text.find(' ', pick);
    if (blank != std::string::npos && blank + 1 < close) first = blank + 1;
  }
  size_t last = text.find_first_not_of("-+.0123456789eE", first);
  if (last == std::string::npos) last = text.size();
  text.replace(first, last - first, value);
  return true;
}

std::string Mutate(std::string text, Rng& rng) {
  if (text.empty()) return text;
  const int rounds = 1 + static_cast<int>(rng.Below(3));
  for (int round = 0; round < rounds && !text.empty(); ++round) {
    switch (rng.Below(16)) {
      case 0:  // byte flips
        for (int k = 0, n = 1 + static_cast<int>(rng.Below(8)); k < n; ++k)
          text[rng.Below(text.size())] ^= static_cast<char>(1 + rng.Below(255));
        break;
      case 1:  // truncation
        text.resize(rng.Below(text.size()));
        break;
      case 2:
      case 3: {  // duplicate or delete a range that starts at a tag
        size_t start = RandomFind(text, "<", rng);
        if (start == std::string::npos) break;
        size_t end = text.find('>', start + rng.Below(4000));
        if (end == std::string::npos) end = text.size() - 1;
        std::string range = text.substr(start, end + 1 - start);
        if (rng.Below(2)) text.insert(end + 1, range);
        else text.erase(start, range.size());
        break;
      }
      case 4: {  // any number
        size_t at = text.find_first_of("0123456789", rng.Below(text.size()));
        if (at == std::string::npos) break;
        size_t end = text.find_first_not_of("0123456789.", at);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at, HostileNumber(rng));
        break;
      }
      case 5: {
        static const char* const kNames[] = {"count", "stride", "offset", "set", "meter"};
        ReplaceAttribute(text, kNames[rng.Below(5)], HostileNumber(rng), rng);
        break;
      }
      case 6: {
        static const char* const kLists[] = {"p", "vcount", "float_array", "matrix", "translate",
                                             "rotate", "scale", "color", "bind_shape_matrix"};
        ReplaceListNumber(text, kLists[rng.Below(9)], HostileNumber(rng), rng);
        break;
      }
      case 7:  // end-of-input marker bytes
        text.insert(rng.Below(text.size()), 1 + rng.Below(2), '\xFF');
        break;
      case 8: {  // byte-order marks in front of UTF-8 text
        static const char* const kMarks[] = {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF", "\xFE\xFF\x00"};
        size_t pick = rng.Below(4);
        text.insert(0, std::string(kMarks[pick], pick == 3 ? 3 : (pick == 2 ? 3 : 2)));
        break;
      }
      case 9: {  // attribute text longer than the attribute buffer
        size_t at = RandomFind(text, "=\"", rng);
        if (at == std::string::npos) break;
        text.insert(at + 2, std::string(900 + rng.Below(400), rng.Below(2) ? 'a' : '7'));
        break;
      }
      case 10: {  // a token of the size that ends reading, or one byte less
        size_t at = RandomFind(text, rng.Below(2) ? ">" : " ", rng);
        if (at == std::string::npos) break;
        text.insert(at + 1, std::string(131170 + rng.Below(3), rng.Below(2) ? '1' : 'x'));
        break;
      }
      case 11: {  // deeper nesting of nodes
        size_t at = RandomFind(text, "<node", rng);
        if (at == std::string::npos) break;
        size_t levels = 1 + rng.Below(3000);
        std::string open, close;
        for (size_t k = 0; k < levels; ++k) open += "<node>", close += "</node>";
        size_t end = text.find("</node>", at);
        if (end != std::string::npos && rng.Below(2)) text.insert(end, close);
        text.insert(at, open);
        break;
      }
      case 12: {  // an instance_node that leads back to an enclosing node
        size_t at = RandomFind(text, "<node id=\"", rng);
        if (at == std::string::npos) break;
        size_t start = at + 10;
        std::string id = text.substr(start, text.find('"', start) - start);
        size_t inside = text.find('>', at);
        if (inside != std::string::npos)
          text.insert(inside + 1, "<instance_node url=\"#" + id + "\"/>");
        break;
      }
      case 13: {  // a url pointed somewhere else
        size_t at = RandomFind(text, "url=\"#", rng);
        size_t other = RandomFind(text, "id=\"", rng);
        if (at == std::string::npos || other == std::string::npos) break;
        size_t end = text.find('"', other + 4);
        if (end == std::string::npos) break;
        std::string id = text.substr(other + 4, end - other - 4);
        size_t close = text.find('"', at + 6);
        if (close != std::string::npos) text.replace(at + 6, close - at - 6, id);
        break;
      }
      case 14: {  // unbalanced markup
        static const char* const kBits[] = {"<", ">", "</", "/>", "<!--", "-->", "<![CDATA[",
                                            "]]>", "\"", "'", "&amp;", "&#0;", "\n", "\0"};
        std::string bit = kBits[rng.Below(14)];
        if (bit.empty()) bit.assign(1, '\0');
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

int MutantsPerDocument() {
  const char* env = std::getenv("VARNEL_MUTATIONS");
  int n = env ? std::atoi(env) : 0;
  return n > 0 ? n : 24;
}

// Mutants of `original`, written beside `folder`'s files so relative texture paths resolve.
void RunMutants(const std::string& original, const std::string& folder, const std::string& name,
                uint64_t seed, Watchdog& watchdog) {
  const int mutants = MutantsPerDocument();
  for (int k = 0; k < mutants; ++k) {
    Rng rng(seed * 1000003u + static_cast<uint64_t>(k));
    const std::string label = name + " mutant " + std::to_string(k);
    const std::string path = testsupport::WriteFile(folder + "/mutant.dae", Mutate(original, rng));
    watchdog.Arm(label);
    RunAll(path, label);
    watchdog.Disarm();
  }
}

TEST(Mutation, DemoHouseMutantsEndCleanly) {
  const std::string demo = std::string(VARNEL_TEST_DATA) + "/demo/";
  const std::string house = testsupport::ReadFile(demo + "house.dae");
  const std::string brick = testsupport::ReadFile(demo + "brick.png");
  ASSERT_FALSE(house.empty());
  testsupport::WriteFile("demo-mutants/brick.png", brick);
  Watchdog watchdog;
  RunMutants(house, "demo-mutants", "house.dae", 1, watchdog);

  // Broken texture files behind an intact document.
  for (int k = 0; k < 16; ++k) {
    Rng rng(77 + static_cast<uint64_t>(k));
    std::string png = brick;
    if (rng.Below(2)) png.resize(rng.Below(png.size()));
    for (int i = 0, n = 1 + static_cast<int>(rng.Below(6)); i < n && !png.empty(); ++i)
      png[rng.Below(png.size())] ^= static_cast<char>(1 + rng.Below(255));
    testsupport::WriteFile("demo-textures/brick.png", png);
    const std::string path = testsupport::WriteFile("demo-textures/house.dae", house);
    watchdog.Arm("house.dae with broken texture " + std::to_string(k));
    RunAll(path, "broken texture " + std::to_string(k));
    watchdog.Disarm();
  }
}

TEST(Mutation, CorpusMutantsEndCleanly) {
  std::vector<std::string> documents;
  for (const std::string& path : testsupport::CorpusDocuments()) {
    std::string text = testsupport::ReadFile(path);
    if (!text.empty() && text.size() <= 48 * 1024) documents.push_back(path);
  }
  if (documents.empty()) GTEST_SKIP() << "corpus absent";
  Watchdog watchdog;
  const size_t step = documents.size() / 24 + 1;
  for (size_t i = 0; i < documents.size(); i += step) {
    const std::string name = documents[i].substr(documents[i].rfind('/') + 1);
    RunMutants(testsupport::ReadFile(documents[i]), "corpus-mutants", name, 100 + i, watchdog);
  }
}

// A one-triangle document whose parts the hostile cases below replace.
struct Document {
  std::string floatArray = R"(<float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>)";
  std::string accessor = R"(<accessor source="#pa" count="3" stride="3"/>)";
  std::string primitive = R"(<triangles count="1" material="m">)"
                          R"(<input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>)";
  std::string libraryNodes;
  std::string scene = R"(<node id="top"><translate>1 2 3</translate><instance_geometry url="#g"/></node>)";

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

Outcome RunHostile(const std::string& label, const std::string& text, Watchdog& watchdog) {
  const std::string path = testsupport::WriteFile("hostile.dae", text);
  watchdog.Arm(label);
  Outcome outcome = RunAll(path, label);
  watchdog.Disarm();
  return outcome;
}

bool Absent(const Outcome& o) { return !o.geometry && o.bufferSize == 0 && !o.displayList; }
bool Present(const Outcome& o) { return o.geometry && o.bufferSize > 0 && o.displayList; }

TEST(Mutation, HostileCountsEndCleanly) {
  Watchdog watchdog;
  ASSERT_TRUE(Present(RunHostile("intact", Document().Text(), watchdog)));

  // Declared sizes far beyond the text: the numbers present are still read.
  Document huge;
  huge.floatArray = R"(<float_array id="pa" count="2147483647">0 0 0 1 0 0 0 1 0</float_array>)";
  EXPECT_TRUE(Present(RunHostile("float_array count 2^31-1", huge.Text(), watchdog)));
  for (const char* count : {"2147483647", "1073741824", "715827883", "-5", "0"}) {
    Document d;
    d.primitive = std::string(R"(<triangles count=")") + count +
                  R"("><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>)";
    RunHostile(std::string("triangles count ") + count, d.Text(), watchdog);
    d.primitive = std::string(R"(<polylist count=")") + count +
                  R"("><input semantic="VERTEX" source="#v" offset="0"/><vcount>3</vcount>)"
                  R"(<p>0 1 2</p></polylist>)";
    RunHostile(std::string("polylist count ") + count, d.Text(), watchdog);
  }

  // Accessor layouts and index offsets that point anywhere.
  const char* const layouts[] = {
      R"(<accessor source="#pa" count="2147483647" stride="3"/>)",
      R"(<accessor source="#pa" count="-5" stride="3"/>)",
      R"(<accessor source="#pa" count="3" stride="0"/>)",
      R"(<accessor source="#pa" count="3" stride="-3"/>)",
      R"(<accessor source="#pa" count="3" stride="2147483647"/>)",
      R"(<accessor source="#pa" count="3" stride="3" offset="-3"/>)",
      R"(<accessor source="#pa" count="3" stride="3" offset="2147483647"/>)",
      R"(<accessor source="#pa" count="3" stride="3" offset="-2147483648"/>)"};
  for (const char* layout : layouts) {
    Document d;
    d.accessor = layout;
    RunHostile(layout, d.Text(), watchdog);
  }
  for (const char* offset : {"2147483647", "2147483646", "-2147483648", "-1", "1073741823"}) {
    Document d;
    d.primitive = std::string(R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset=")") +
                  offset + R"("/><p>0 1 2</p></triangles>)";
    RunHostile(std::string("input offset ") + offset, d.Text(), watchdog);
  }

  // Indices outside the arrays, polygon sizes of every kind.
  for (const char* p : {"0 1 2147483647", "-1 -2147483648 2", "5 6 7", "0 1"}) {
    Document d;
    d.primitive = std::string(R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/>)") +
                  R"(<input semantic="NORMAL" source="#p" offset="0"/><p>)" + p + "</p></triangles>";
    RunHostile(std::string("p ") + p, d.Text(), watchdog);
  }
  for (const char* vcount : {"0", "-3", "2147483647", "3 -2147483648 3", "2147483647 2147483647", ""}) {
    Document d;
    d.primitive = std::string(R"(<polylist count="3"><input semantic="VERTEX" source="#v" offset="0"/>)") +
                  "<vcount>" + vcount + "</vcount><p>0 1 2 0 1 2</p></polylist>";
    RunHostile(std::string("vcount ") + vcount, d.Text(), watchdog);
  }
}

// Peak resident memory of the process so far, in MB.
long PeakMegabytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

TEST(Mutation, BogusCountsClaimNoMemory) {
  Watchdog watchdog;
  // A thousand short "p" lists, each a million integers short: the fill that completes a short
  // list stays within what the document's size allows.
  Document shortLists;
  shortLists.primitive.clear();
  for (int k = 0; k < 1000; ++k)
    shortLists.primitive += R"(<triangles count="349525"><input semantic="VERTEX" source="#v" offset="0"/>)"
                            "<p>0 1 2</p></triangles>";
  RunHostile("1000 short p lists", shortLists.Text(), watchdog);
  // Thousands of float arrays and vcounts that each declare 2^31 - 1 numbers and hold one.
  Document arrays;
  arrays.primitive = R"(<polylist count="1"><input semantic="VERTEX" source="#v" offset="0"/>)"
                     "<vcount>3</vcount><p>0 1 2</p></polylist>";
  for (int k = 0; k < 3000; ++k) {
    arrays.primitive += "<source id=\"x" + std::to_string(k) +
                        R"("><float_array count="2147483647">1</float_array></source>)"
                        R"(<polylist count="2147483647"><vcount>3</vcount></polylist>)";
  }
  EXPECT_TRUE(Present(RunHostile("3000 bogus float_array counts", arrays.Text(), watchdog)));
  EXPECT_LT(PeakMegabytes(), kSanitized ? 2048 : 512);
}

TEST(Mutation, HostileStructureEndsCleanly) {
  Watchdog watchdog;

  // Nodes nested far beyond any real document, in the scene and in the node library.
  for (int levels : {1999, 2001, 100000}) {
    std::string open, close;
    for (int k = 0; k < levels; ++k) open += "<node>", close += "</node>";
    Document d;
    d.scene = open + R"(<instance_geometry url="#g"/>)" + close;
    RunHostile("scene nesting " + std::to_string(levels), d.Text(), watchdog);
    d.libraryNodes = R"(<node id="deep">)" + open + R"(<instance_geometry url="#g"/>)" + close + "</node>";
    d.scene = R"(<node><instance_node url="#deep"/></node>)";
    RunHostile("library nesting " + std::to_string(levels), d.Text(), watchdog);
  }

  // instance_node cycles: each node is drawn once per path that does not repeat it.
  Document cycle;
  cycle.libraryNodes = R"(<node id="a"><instance_geometry url="#g"/><instance_node url="#b"/></node>)"
                       R"(<node id="b"><instance_node url="#a"/><instance_node url="#b"/></node>)";
  cycle.scene = R"(<node><instance_node url="#a"/></node>)";
  EXPECT_TRUE(Present(RunHostile("instance_node cycle", cycle.Text(), watchdog)));

  // Lookups that scanned their table made these take minutes.
  Document wideScene;
  for (int k = 0; k < 30000; ++k) {
    wideScene.libraryNodes += "<node id=\"n" + std::to_string(k) + "\"/>";
    wideScene.scene += R"(<instance_node url="#n29999"/>)";
  }
  wideScene.scene = "<node>" + wideScene.scene + "</node>";
  EXPECT_TRUE(Present(RunHostile("30000 instances of the last of 30000 nodes", wideScene.Text(), watchdog)));
  Document wideMesh;
  wideMesh.primitive.clear();
  for (int k = 0; k < 20000; ++k) {
    wideMesh.primitive += "<source id=\"s" + std::to_string(k) + "\"/>";
    wideMesh.primitive += R"(<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/>)"
                          R"(<input semantic="NORMAL" source="#s19999" offset="0"/><p>0 1 2</p></triangles>)";
  }
  EXPECT_TRUE(Present(RunHostile("20000 sources and primitives", wideMesh.Text(), watchdog)));

  // A chain of nodes that each instance the next one twice: 2^40 paths to one triangle.
  Document doubling;
  doubling.libraryNodes = R"(<node id="n0"><instance_geometry url="#g"/></node>)";
  for (int k = 1; k <= 40; ++k) {
    const std::string below = "#n" + std::to_string(k - 1);
    doubling.libraryNodes += "<node id=\"n" + std::to_string(k) + "\"><instance_node url=\"" +
                             below + "\"/><instance_node url=\"" + below + "\"/></node>";
  }
  doubling.scene = R"(<node><instance_node url="#n40"/></node>)";
  RunHostile("2^40 instances", doubling.Text(), watchdog);

  // The same doubling over a geometry of 10000 triangles: more points than 31 bits can count.
  Document many = doubling;
  std::string p;
  for (int k = 0; k < 10000; ++k) p += "0 1 2 ";
  many.primitive = R"(<triangles count="10000"><input semantic="VERTEX" source="#v" offset="0"/><p>)" +
                   p + "</p></triangles>";
  for (int top : {16, 17}) {
    many.scene = "<node><instance_node url=\"#n" + std::to_string(top) + "\"/></node>";
    EXPECT_TRUE(Absent(RunHostile("2^" + std::to_string(top) + " instances of 30000 points",
                                  many.Text(), watchdog)));
  }
}

TEST(Mutation, HostileBytesEndCleanly) {
  Watchdog watchdog;
  const std::string text = Document().Text();
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"})
    RunHostile("byte-order mark", std::string(mark) + text, watchdog);
  for (size_t at = 0; at < text.size(); at += 97) {
    std::string broken = text;
    broken.insert(at, "\xFF");
    RunHostile("0xFF at " + std::to_string(at), broken, watchdog);
    RunHostile("cut at " + std::to_string(at), text.substr(0, at), watchdog);
  }
  // Attribute text beyond the attribute buffer, before and after the attributes that matter.
  Document wide;
  wide.floatArray = R"(<float_array junk=")" + std::string(1500, 'a') +
                    R"(" id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>)";
  RunHostile("1500-character attribute", wide.Text(), watchdog);
  // Tokens of the size that ends reading, in list text, in other text and as a tag.
  const std::string token(131171, '7');
  Document longList;
  longList.floatArray = R"(<float_array id="pa" count="9">0 0 0 1 0 0 0 1 0 )" + token + "</float_array>";
  RunHostile("long float_array token", longList.Text(), watchdog);
  Document longVcount;
  longVcount.primitive = R"(<polylist count="1"><input semantic="VERTEX" source="#v" offset="0"/>)"
                         "<vcount>" + token + "</vcount><p>0 1 2</p></polylist>";
  RunHostile("long vcount token", longVcount.Text(), watchdog);
  RunHostile("long tag", "<" + token + ">" + text, watchdog);
}

}  // namespace
}  // namespace varnel
