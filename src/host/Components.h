// The component classes the library brings along.
#pragma once

namespace varnel {

// Registers the library's own component classes (Components.cpp: one line per class). Runs
// once, before the first creation or registration; explicit calls are not needed.
void RegisterBuiltinComponents();

}  // namespace varnel
