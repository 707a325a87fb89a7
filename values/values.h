// Umbrella header of the values folder: includes every public header of it.
#pragma once

