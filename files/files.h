// Umbrella header of the files folder: includes every public header of it.
#pragma once

