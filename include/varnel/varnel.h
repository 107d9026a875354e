// Public interface of libvarnel: include this one header.
//
//   varnel::Varnel importer;
//   varnel::IGeometry* geometry = nullptr;
//   importer.CreateGeometryFromFile(varnel::String::FromUtf8("model.dae"), &geometry);
//   if (geometry) { ... geometry->Release(); }
#pragma once

#include "facade/Varnel.h"
#include "host/Com.h"
#include "host/Geometry.h"
#include "host/MaterialProperties.h"
#include "host/String.h"
#include "output/DaeDisplayList.h"
