// Umbrella header of the xml folder: includes every public header of it.
#pragma once

