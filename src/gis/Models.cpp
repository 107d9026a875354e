#include "gis/Models.h"

namespace varnel::gis {

ModelSet::ModelSet() = default;
ModelSet::~ModelSet() = default;

bool ModelSet::Open(const std::string& path, const OpenOptions&) {
  models_.clear();
  size_t slash = path.find_last_of('/');
  models_.push_back({path.substr(slash == std::string::npos ? 0 : slash + 1), path, path, {}});
  return true;
}

}  // namespace varnel::gis
