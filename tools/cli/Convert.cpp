#include "cli/Convert.h"
#include "cli/Modules.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include <cpl_error.h>

#include "gis/ogr/Fields.h"
#include "gis/PrivateFolder.h"
#include "gis/Staging.h"
#include "gis/ogr/OgrOutput.h"

namespace varnel::cli {

namespace {

// One input's models on their way from the worker converting them to the writer.
struct Stream {
  std::deque<gis::ConvertedModel> models;  // converted, not yet taken by the writer
  bool done = false;                       // the worker is through with the input
  std::string reason;                      // why it gave nothing, when it did
  std::string writeError;                  // a texture could not be written: the run fails
};

std::string TextureFolder(const ConvertCommand& command) {
  if (!command.textureFolder.empty()) return command.textureFolder;
  const std::string& destination = command.output.destination;
  if (destination.rfind("PG:", 0) == 0) return "";
  std::filesystem::path folder = std::filesystem::path(destination).parent_path();
  // A File Geodatabase is itself a folder: textures go beside it.
  if (!destination.empty() && destination.back() == '/') folder = folder.parent_path();
  return folder.empty() ? "." : folder.string();
}

// GDAL's messages from threads without a handler of their own (the workers') in the tool's form,
// never as GDAL prints them.
class GdalInToolForm {
 public:
  explicit GdalInToolForm(const std::string& destination) {
    destination_ = destination;
    previous_ = CPLSetErrorHandler(Print);
  }
  ~GdalInToolForm() { CPLSetErrorHandler(previous_); }

 private:
  static void CPL_STDCALL Print(CPLErr level, CPLErrorNum, const char* message) {
    if (level >= CE_Warning && message) Report(destination_, ("GDAL: " + std::string(message)).c_str());
  }
  static inline std::string destination_;
  CPLErrorHandler previous_;
};

// Converts the models of one input, handing each to `emit` as it is done; `emit` returns false
// when the run wants no more. Fills the stream's reason and write error.
template <class Emit>
void ConvertInput(const std::string& input, const gis::ConvertOptions& base,
                  const ReadOptions& read, const PlaceOptions& place, const std::string& layer,
                  Stream& result, Emit emit) {
  Diagnostics diagnostics(input, read);
  Inputs inputs;
  if (!inputs.Open(input, place, diagnostics)) {
    result.reason = diagnostics.TakeReason();
    return;
  }
  const bool single = inputs.chosen().size() == 1;
  gis::ConvertOptions options = base;
  options.texturePrefix = layer;
  gis::ImportCache cache;  // placemarks of one archive often place one document many times
  bool gave = false;
  for (const gis::Model* model : inputs.chosen()) {
    Diagnostics modelDiagnostics(input, read);
    modelDiagnostics.Reading(*model);
    gis::ConvertedModel converted;
    if (gis::ConvertModel(*model, options, &modelDiagnostics, converted, &cache)) {
      gave = true;
      if (!emit(std::move(converted))) return;
    } else if (!converted.writeError.empty()) {
      result.writeError = converted.writeError;
      return;
    } else if (single) {
      result.reason = modelDiagnostics.TakeReason();
    } else {
      Report(input, modelDiagnostics.TakeReason().c_str());
    }
  }
  if (!gave && result.reason.empty()) result.reason = "no model gave output";
}

// Textures are written into a folder of their own beside where they go and moved there once the
// layer is in place; a name already there holds the same bytes (it is their hash).
class TextureStaging {
 public:
  ~TextureStaging() {
    if (!folder_.empty()) gis::RemoveFolder(folder_);
  }
  bool Open(const std::string& target, const std::string& layer, Interrupts& interrupts) {
    target_ = target;
    folder_ = gis::StagingFolderBeside(target + "/" + layer);
    if (!folder_.empty()) interrupts.Track(folder_);
    return !folder_.empty();
  }
  const std::string& folder() const { return folder_; }
  bool MoveIntoPlace(std::string& error) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored)) {
      std::string name = entry.path().filename().string();
      if (!gis::MoveInto(entry.path().string(), target_ + "/" + name, false) && errno != EEXIST) {
        error = target_ + "/" + name + ": " + gis::SystemReason(errno);
        return false;
      }
    }
    return true;
  }

 private:
  std::string target_, folder_;
};

}  // namespace

int RunConvert(const ConvertCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  const std::string& destination = command.output.destination;
  Interrupts& interrupts = *command.interrupts;
  interrupts.Defer(destination);
  GdalInToolForm gdalMessages(destination);
  gis::OgrOutput output;
  std::string error;
  gis::OutputOptions outputOptions = command.output;
  outputOptions.split = gis::SplitNamed(command.split).value_or(gis::Split::kModel);
  if (!output.Open(outputOptions, error)) {
    Report(destination, error.c_str());
    return 2;
  }
  output.SetHooks({[&] { Report(destination, "another run is writing it: waiting"); },
                   [&](const std::string& folder) { interrupts.Track(folder); },
                   &interrupts.mutex()});
  gis::ConvertOptions base;
  base.extended = read.extended;
  base.confineTextures = read.confineTextures;
  base.place = place.request;
  base.split = outputOptions.split;
  base.surface = output.surface();
  std::string layer = std::filesystem::path(destination).stem().string();
  if (layer.empty() || destination.rfind("PG:", 0) == 0) layer = "model";
  TextureStaging textures;
  if ((base.split == gis::Split::kMaterial || base.split == gis::Split::kPart) &&
      !TextureFolder(command).empty()) {
    const std::string folder = TextureFolder(command);
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    if (textures.Open(folder, layer, interrupts)) {
      base.textureFolder = textures.folder();
    } else if (errno == EACCES || errno == EROFS || errno == EPERM) {
      // Nothing can be written there: the first texture a model brings says so, naming itself,
      // while models without textures still convert.
      base.textureFolder = folder;
    } else {
      Report(folder, gis::SystemReason(errno).c_str());
      return 2;
    }
  }

  // Workers convert files in any order; the layer receives them in the order given. Converted
  // models wait for the writer in their input's stream, at most `waitingCap` in all beyond those
  // of the input being written, so memory stays bounded whatever the inputs hold.
  const std::vector<std::string>& inputs = command.inputs;
  std::vector<Stream> streams(inputs.size());
  std::mutex lock;
  std::condition_variable ready, room;
  size_t next = 0, writing = 0, waiting = 0;
  bool stop = false;
  size_t jobs = std::min(static_cast<size_t>(std::max(command.jobs, 1)), inputs.size());
  const size_t waitingCap = 2 * jobs;
  auto work = [&] {
    for (;;) {
      size_t index;
      {
        std::lock_guard<std::mutex> guard(lock);
        if (next >= inputs.size()) return;
        index = next++;
      }
      Stream result;
      // The worker of the input being written never waits: the writer waits on it alone.
      auto emit = [&](gis::ConvertedModel&& model) {
        std::unique_lock<std::mutex> guard(lock);
        room.wait(guard, [&] { return stop || index == writing || waiting < waitingCap; });
        if (stop) return false;
        streams[index].models.push_back(std::move(model));
        ++waiting;
        ready.notify_all();
        return true;
      };
      ConvertInput(inputs[index], base, read, place, layer, result, emit);
      std::lock_guard<std::mutex> guard(lock);
      Stream& stream = streams[index];
      stream.done = true;
      stream.reason = std::move(result.reason), stream.writeError = std::move(result.writeError);
      ready.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (size_t i = 0; i < jobs; ++i) workers.emplace_back(work);
  // Nothing more is taken, and workers waiting for room give up their models.
  auto stopWorkers = [&] {
    std::lock_guard<std::mutex> guard(lock);
    next = inputs.size(), stop = true;
    room.notify_all();
  };
  // Interrupted: the output is rolled back or dropped, and the process ends without waiting for
  // the models under way.
  auto interrupted = [&] {
    if (!interrupts.signal()) return;
    stopWorkers();
    output.Abandon();
    interrupts.Exit();
  };

  const bool progress = isatty(STDERR_FILENO);
  std::vector<std::string> reasons(inputs.size());
  std::string failure;
  bool textureFailed = false;  // the failure is "NAME: REASON" of a texture
  int converted = 0;
  for (size_t i = 0; i < inputs.size() && failure.empty(); ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      writing = i;
      room.notify_all();
    }
    bool wrote = false;
    size_t taken = 0;
    std::vector<std::string> refused;  // why the layer would not take a model
    for (;;) {
      std::optional<gis::ConvertedModel> model;
      {
        std::unique_lock<std::mutex> guard(lock);
        Stream& stream = streams[i];
        while (!ready.wait_for(guard, std::chrono::milliseconds(50), [&] {
          return !stream.models.empty() || stream.done || interrupts.signal();
        })) {
        }
        if (stream.models.empty() && !stream.done) {
          guard.unlock();
          interrupted();
        }
        if (stream.models.empty()) break;
        model = std::move(stream.models.front());
        stream.models.pop_front();
        --waiting;
        room.notify_all();
      }
      interrupted();
      if (!failure.empty()) continue;  // the output is gone: the rest is dropped
      ++taken;
      if (output.Write(*model, error)) {
        wrote = true;
      } else if (output.failed()) {
        failure = error;
        stopWorkers();
      } else {
        refused.push_back(gis::ModelPrefix(inputs[i], model->name, model->source) + error);
      }
    }
    interrupted();
    Stream& stream = streams[i];
    if (failure.empty() && !stream.writeError.empty())
      failure = stream.writeError, textureFailed = true;
    reasons[i] = stream.reason;
    // The one model an input gave, refused by the layer, is the input's reason; more are named.
    if (taken == 1 && refused.size() == 1)
      reasons[i] = refused[0];
    else
      for (const std::string& why : refused) Report(inputs[i], why.c_str());
    streams[i] = {};
    if (wrote) ++converted;
    if (progress) std::fprintf(stderr, "\rconverted %zu/%zu", i + 1, inputs.size());
  }
  if (!failure.empty()) stopWorkers();
  for (std::thread& worker : workers) worker.join();
  if (progress) std::fprintf(stderr, "\r\033[K");
  interrupted();
  if (failure.empty() && !output.Close(error)) failure = error;
  if (failure.empty() && !textures.folder().empty() && !textures.MoveIntoPlace(error))
    failure = error;
  output.Abandon();
  for (const std::string& warning : output.warnings())
    Report(destination, ("GDAL: " + warning).c_str());
  if (textureFailed) {
    // A texture is part of what the user asked for: without it nothing is written.
    size_t colon = failure.find(": ");
    Report(TextureFolder(command) + "/" + failure.substr(0, colon), failure.c_str() + colon + 2);
    return 1;
  }
  if (!failure.empty()) {
    Report(destination, failure.c_str());
    return 2;
  }
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!reasons[i].empty()) Report(inputs[i], reasons[i].c_str());
  if (inputs.size() > 1)
    std::fprintf(stderr, "varnel convert: %d of %zu files converted, %lld features\n", converted,
                 inputs.size(), static_cast<long long>(output.featuresWritten()));
  return converted == static_cast<int>(inputs.size()) ? 0 : 1;
}

}  // namespace varnel::cli

VARNEL_MODULE_ENTRY int varnel_module_convert(
    const varnel::cli::ConvertCommand* command, const varnel::cli::ReadOptions* read,
    const varnel::cli::PlaceOptions* place) {
  return varnel::cli::RunConvert(*command, *read, *place);
}
