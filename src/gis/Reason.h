// Why a file gave nothing, in the words varnel's tools use: the first diagnostic that stands
// in the way of output.
#pragma once

#include <string>

#include <varnel/ImportOptions.h>

namespace varnel::gis {

class Reason {
 public:
  // `extended`: the reading was extended, so what it passes over is no reason. `hint` says how
  // the caller gets the extended reading ("varnel reads it without --strict").
  Reason(bool extended, std::string hint) : extended_(extended), hint_(std::move(hint)) {}
  void Hear(const Diagnostic& diagnostic);
  // The first reason heard, or that there was no readable scene geometry.
  std::string Text() const;

 private:
  bool extended_;
  std::string hint_;
  std::string reason_;
  bool placement_ = false;  // the reason is about a placement
};

}  // namespace varnel::gis
