#include "cli/Convert.h"
#include "cli/Modules.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "gis/ogr/Fields.h"
#include "gis/ogr/OgrOutput.h"

namespace varnel::cli {

namespace {

// What one input gave: its models' features, or the reason it gave none.
struct Converted {
  std::vector<gis::ConvertedModel> models;
  std::string reason;
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

Converted ConvertInput(size_t index, const std::string& input, const gis::ConvertOptions& base,
                       const ReadOptions& read, const PlaceOptions& place,
                       const std::string& layer) {
  Converted result;
  Diagnostics diagnostics(input, read);
  Inputs inputs;
  if (!inputs.Open(input, place, diagnostics)) {
    result.reason = diagnostics.TakeReason();
    return result;
  }
  size_t number = 0;
  for (const gis::Model* model : inputs.chosen()) {
    gis::ConvertOptions options = base;
    options.texturePrefix = layer + "_" + std::to_string(index + 1) + "_" + std::to_string(++number);
    Diagnostics modelDiagnostics(model->source, read);
    gis::ConvertedModel converted;
    if (gis::ConvertModel(*model, options, &modelDiagnostics, converted))
      result.models.push_back(std::move(converted));
    else if (inputs.chosen().size() == 1)
      result.reason = modelDiagnostics.TakeReason();
    else
      Report(model->source, modelDiagnostics.TakeReason().c_str());
  }
  if (result.models.empty() && result.reason.empty()) result.reason = "no model gave output";
  return result;
}

}  // namespace

int RunConvert(const ConvertCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  gis::OgrOutput output;
  std::string error;
  gis::OutputOptions outputOptions = command.output;
  outputOptions.split = gis::SplitNamed(command.split).value_or(gis::Split::kModel);
  if (!output.Open(outputOptions, error)) {
    Report(command.output.destination, error.c_str());
    return 2;
  }
  gis::ConvertOptions base;
  base.extended = read.extended;
  base.confineTextures = read.confineTextures;
  base.place = place.request;
  base.split = outputOptions.split;
  base.surface = output.surface();
  if (base.split == gis::Split::kMaterial || base.split == gis::Split::kPart)
    base.textureFolder = TextureFolder(command);
  std::string layer = std::filesystem::path(command.output.destination).stem().string();
  if (layer.empty() || command.output.destination.rfind("PG:", 0) == 0) layer = "model";

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
      Converted converted = ConvertInput(index, inputs[index], base, read, place, layer);
      std::lock_guard<std::mutex> guard(lock);
      results[index] = std::move(converted);
      ready.notify_all();
    }
  };
  size_t jobs = std::min(static_cast<size_t>(std::max(command.jobs, 1)), inputs.size());
  std::vector<std::thread> workers;
  for (size_t i = 0; i < jobs; ++i) workers.emplace_back(work);

  const bool progress = isatty(STDERR_FILENO);
  std::vector<std::string> reasons(inputs.size());
  int converted = 0;
  for (size_t i = 0; i < inputs.size() && !output.failed(); ++i) {
    Converted result;
    {
      std::unique_lock<std::mutex> guard(lock);
      ready.wait(guard, [&] { return results[i].has_value(); });
      result = std::move(*results[i]);
      results[i].reset();
    }
    reasons[i] = result.reason;
    bool wrote = false;
    for (gis::ConvertedModel& model : result.models) {
      if (output.Write(model, error)) wrote = true;
      else if (result.models.size() == 1) reasons[i] = error;
      else Report(model.source, error.c_str());
      if (output.failed()) break;
    }
    if (wrote) ++converted;
    if (progress) std::fprintf(stderr, "\rconverted %zu/%zu", i + 1, inputs.size());
  }
  if (output.failed()) {
    // The output is gone: the workers finish what they took and nothing more.
    std::lock_guard<std::mutex> guard(lock);
    next = inputs.size();
  }
  for (std::thread& worker : workers) worker.join();
  if (progress) std::fprintf(stderr, "\r\033[K");
  bool closed = !output.failed() && output.Close(error);
  for (const std::string& warning : output.warnings())
    Report(command.output.destination, ("GDAL: " + warning).c_str());
  if (!closed) {
    Report(command.output.destination, ("cannot write the output: " + error).c_str());
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
