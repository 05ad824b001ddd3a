// The one export macro of the Orlin library.
#pragma once

#include <QtCore/qglobal.h>

#if defined(ORLIN_BUILD_LIBRARY)
#  define ORLIN_EXPORT Q_DECL_EXPORT
#else
#  define ORLIN_EXPORT Q_DECL_IMPORT
#endif
