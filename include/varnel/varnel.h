// Public interface of libvarnel: include this one header.
//
//   varnel::Varnel importer;
//   varnel::IGeometry* geometry = nullptr;
//   importer.CreateGeometryFromFile(varnel::String::FromUtf8("model.dae"), &geometry);
//   if (geometry) { ... geometry->Release(); }
#pragma once

#include <varnel/Varnel.h>
#include <varnel/Com.h>
#include <varnel/Geometry.h>
#include <varnel/ImportOptions.h>
#include <varnel/MaterialProperties.h>
#include <varnel/String.h>
#include <varnel/DaeDisplayList.h>
#include <varnel/DataBufferWriter.h>
#include <varnel/MultipatchLayout.h>
