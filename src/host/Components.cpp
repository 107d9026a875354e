// The library's own component classes. Each class adds one registration line here; the
// factories are defined beside the components.
#include "host/Com.h"

namespace varnel {

void RegisterBuiltinComponents() {
}

}  // namespace varnel
