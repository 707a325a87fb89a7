// Umbrella header of the platform folder: includes every public header of it.
#pragma once

