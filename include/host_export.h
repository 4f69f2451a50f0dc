#ifndef VORPIX_HOST_EXPORT_H
#define VORPIX_HOST_EXPORT_H

#if defined(__GNUC__)
#define VORPIX_HOST_API __attribute__((visibility("default")))
#else
#define VORPIX_HOST_API
#endif

#endif
