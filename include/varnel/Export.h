// Marks what libvarnel exports; everything else in the library is hidden.
#pragma once

#define VARNEL_API __attribute__((visibility("default")))
