// Umbrella header of the json folder: includes every public header of it.
#pragma once

