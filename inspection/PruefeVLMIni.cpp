// Data-path discovery of the directory updater.
#include "Haupt.h"
