#ifndef VORPIX_EXPORT_H
#define VORPIX_EXPORT_H

#if defined(__GNUC__)
#define VORPIX_API __attribute__((visibility("default")))
#else
#define VORPIX_API
#endif

#endif
