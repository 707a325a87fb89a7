// Umbrella header of the json folder: includes every public header of it.
#pragma once

#include "json/VJSONValue.h"
#include "json/IJSONObject.h"
#include "json/VJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VStorageLocker.h"
#include "json/VJSONUser.h"
#include "json/VJSONGraph.h"
#include "json/VJSONCloner.h"
#include "json/VJSONImporter.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONWriter.h"
#include "json/VJSONTools.h"
#include "json/IJSONFunctionContext.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONClass.h"
#include "json/VJSONClassStore.h"
