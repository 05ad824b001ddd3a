// The one export macro of the Orlin library.
//
// Needs no Qt: Qt's macro is used when Qt's headers came first, otherwise
// the same attributes are spelt out, so the interface headers compile for any
// compiler and ABI on their own.
#pragma once

#if defined(QT_VERSION)
#  define ORLIN_DECL_EXPORT Q_DECL_EXPORT
#  define ORLIN_DECL_IMPORT Q_DECL_IMPORT
#elif defined(_WIN32) || defined(__CYGWIN__)
#  define ORLIN_DECL_EXPORT __declspec(dllexport)
#  define ORLIN_DECL_IMPORT __declspec(dllimport)
#elif defined(__GNUC__)
#  define ORLIN_DECL_EXPORT __attribute__((visibility("default")))
#  define ORLIN_DECL_IMPORT __attribute__((visibility("default")))
#else
#  define ORLIN_DECL_EXPORT
#  define ORLIN_DECL_IMPORT
#endif

#if defined(ORLIN_BUILD_LIBRARY)
#  define ORLIN_EXPORT ORLIN_DECL_EXPORT
#else
#  define ORLIN_EXPORT ORLIN_DECL_IMPORT
#endif
