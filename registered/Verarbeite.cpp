// The update run of the registered-installation updater.
#include "Haupt.h"

void TFHaupt::Verarbeite() {}
