// Umbrella header of the runtime folder: includes every public header of it.
#pragma once

