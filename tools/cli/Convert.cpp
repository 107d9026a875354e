#include "cli/Convert.h"
#include "cli/Modules.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "gis/ogr/Fields.h"
#include "gis/PrivateFolder.h"
#include "gis/Staging.h"
#include "gis/ogr/OgrOutput.h"

namespace varnel::cli {

namespace {

// What one input gave: its models' features, or the reason it gave none.
struct Converted {
  std::vector<gis::ConvertedModel> models;
  std::string reason;
  std::string writeError;  // a texture could not be written: the run fails
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

Converted ConvertInput(const std::string& input, const gis::ConvertOptions& base,
                       const ReadOptions& read, const PlaceOptions& place,
                       const std::string& layer) {
  Converted result;
  Diagnostics diagnostics(input, read);
  Inputs inputs;
  if (!inputs.Open(input, place, diagnostics)) {
    result.reason = diagnostics.TakeReason();
    return result;
  }
  for (const gis::Model* model : inputs.chosen()) {
    gis::ConvertOptions options = base;
    options.texturePrefix = layer;
    Diagnostics modelDiagnostics(model->source, read);
    gis::ConvertedModel converted;
    if (gis::ConvertModel(*model, options, &modelDiagnostics, converted))
      result.models.push_back(std::move(converted));
    else if (!converted.writeError.empty())
      result.writeError = converted.writeError;
    else if (inputs.chosen().size() == 1)
      result.reason = modelDiagnostics.TakeReason();
    else
      Report(model->source, modelDiagnostics.TakeReason().c_str());
  }
  if (result.models.empty() && result.reason.empty()) result.reason = "no model gave output";
  return result;
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
    if (!textures.Open(TextureFolder(command), layer, interrupts)) {
      Report(TextureFolder(command), gis::SystemReason(errno).c_str());
      return 2;
    }
    base.textureFolder = textures.folder();
  }

  // Workers convert files in any order; the layer receives them in the order given.
  const std::vector<std::string>& inputs = command.inputs;
  std::vector<std::optional<Converted>> results(inputs.size());
  std::mutex lock;
  std::condition_variable ready;
  size_t next = 0;
  auto work = [&] {
    for (;;) {
      size_t index;
      {
        std::lock_guard<std::mutex> guard(lock);
        if (next >= inputs.size()) return;
        index = next++;
      }
      Converted converted = ConvertInput(inputs[index], base, read, place, layer);
      std::lock_guard<std::mutex> guard(lock);
      results[index] = std::move(converted);
      ready.notify_all();
    }
  };
  size_t jobs = std::min(static_cast<size_t>(std::max(command.jobs, 1)), inputs.size());
  std::vector<std::thread> workers;
  for (size_t i = 0; i < jobs; ++i) workers.emplace_back(work);
  // Interrupted: the workers take nothing more, the output is rolled back or dropped, and the
  // process ends without waiting for the models under way.
  auto interrupted = [&] {
    if (!interrupts.signal()) return;
    {
      std::lock_guard<std::mutex> guard(lock);
      next = inputs.size();
    }
    output.Abandon();
    interrupts.Exit();
  };

  const bool progress = isatty(STDERR_FILENO);
  std::vector<std::string> reasons(inputs.size());
  std::string failure;
  int converted = 0;
  for (size_t i = 0; i < inputs.size() && failure.empty(); ++i) {
    Converted result;
    {
      std::unique_lock<std::mutex> guard(lock);
      while (!ready.wait_for(guard, std::chrono::milliseconds(50),
                             [&] { return results[i].has_value() || interrupts.signal(); })) {
      }
      if (!results[i]) {
        guard.unlock();
        interrupted();
      }
      result = std::move(*results[i]);
      results[i].reset();
    }
    interrupted();
    reasons[i] = result.reason;
    failure = result.writeError;
    bool wrote = false;
    for (gis::ConvertedModel& model : result.models) {
      if (!failure.empty()) break;
      if (output.Write(model, error)) wrote = true;
      else if (output.failed()) failure = error;
      else if (result.models.size() == 1) reasons[i] = error;
      else Report(model.source, error.c_str());
    }
    if (wrote) ++converted;
    if (progress) std::fprintf(stderr, "\rconverted %zu/%zu", i + 1, inputs.size());
  }
  if (!failure.empty()) {
    // The output is gone: the workers finish what they took and nothing more.
    std::lock_guard<std::mutex> guard(lock);
    next = inputs.size();
  }
  for (std::thread& worker : workers) worker.join();
  if (progress) std::fprintf(stderr, "\r\033[K");
  interrupted();
  if (failure.empty() && !output.Close(error)) failure = error;
  if (failure.empty() && !textures.folder().empty() && !textures.MoveIntoPlace(error))
    failure = error;
  output.Abandon();
  for (const std::string& warning : output.warnings())
    Report(destination, ("GDAL: " + warning).c_str());
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
