#pragma once

#include <QtCore/qglobal.h>

#if defined(HIDLINK_LIBRARY)
#define HIDLINK_EXPORT Q_DECL_EXPORT
#else
#define HIDLINK_EXPORT Q_DECL_IMPORT
#endif
