// The update run of the directory updater.
#include "Haupt.h"

void TFHaupt::Verarbeite() {}
