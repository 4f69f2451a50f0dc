/* Conversion of big-endian (network order) items to host order. */
#ifndef VORPIX_HOST_BYTEORDER_H
#define VORPIX_HOST_BYTEORDER_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Copy n items of 2, 4 or 8 bytes, each stored most significant byte first at
 * src, to dst in host order. Neither pointer needs any alignment; the two
 * areas must not overlap. */
VORPIX_HOST_API void N2H2(void *dst, const void *src, int n);
VORPIX_HOST_API void N2H4(void *dst, const void *src, int n);
VORPIX_HOST_API void N2H8(void *dst, const void *src, int n);

#ifdef __cplusplus
}
#endif

#endif
