#include "pmupdater.h"

PMUpdater::~PMUpdater() = default;
