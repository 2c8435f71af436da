#pragma once

#include <QtCore/qglobal.h>

#if defined(THING_LIBRARY)
#define THING_EXPORT Q_DECL_EXPORT
#else
#define THING_EXPORT Q_DECL_IMPORT
#endif
