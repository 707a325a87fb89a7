// Umbrella header of the xml folder: includes every public header of it.
#pragma once

#include "xml/IXMLHandler.h"
#include "xml/VXMLBagHandler.h"
#include "xml/VXMLParser.h"
#include "xml/VLocalizationManager.h"
#include "xml/VLocalizationXMLHandler.h"
#include "xml/IXMLDomWrapper.h"
#include "xml/VUTI.h"
#include "xml/VUTIManager.h"
#include "xml/VUTIManagerXMLHandler.h"
