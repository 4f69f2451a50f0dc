/* Shoreline maps: GSHHS polygon files, selection by resolution, kind, level
 * and box, delivery clipped to the box, and the even-odd polygon test. */
#ifndef VORPIX_GSHHSMAP_H
#define VORPIX_GSHHSMAP_H

#include <stddef.h>
#include <stdint.h>

#include "vorpix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One decoded polygon header. */
typedef struct GSHHSHdr {
    int32_t id;
    int32_t n;
    int32_t level;
    int32_t west;
    int32_t east;
    int32_t south;
    int32_t north;
    int32_t area;
    int16_t greenwich;
    int16_t source;
    int32_t version;
    int32_t area_full;
    int32_t container;
    int32_t ancestor;
} GSHHSHdr;

/* Decodes the polygon header at *stream into *gshhshdr (allocated when NULL)
 * and moves *stream to the polygon's first point. 0, or -1 when out of memory. */
VORPIX_API int gshhs_unstuff_hdr(GSHHSHdr **gshhshdr, char **stream);
/* Moves *stream past the polygon's points. Returns 0. */
VORPIX_API int gshhs_skip_pts(GSHHSHdr *gshhshdr, char **stream);

/* Sized forms: decode from a file of size bytes at offset *position, which
 * they advance. -1 with a message naming the offset when the header or the
 * points run past the end or the point count is negative. */
VORPIX_API int gshhs_unstuff_hdr_sized(GSHHSHdr *gshhshdr, const char *data, long size, long *position);
VORPIX_API int gshhs_skip_pts_sized(const GSHHSHdr *gshhshdr, long size, long *position);
/* Decodes the polygon's points at offset *position into lon[0..n-1] and
 * lat[0..n-1] (degrees; the caller gives room for gshhshdr->n of each) and
 * moves *position past them: for clients that want whole polygons, such as
 * those the selection leaves out. 0, or -1 as gshhs_skip_pts_sized fails. */
VORPIX_API int gshhs_unstuff_pts_sized(const GSHHSHdr *gshhshdr, const char *data, long size, long *position,
                                       double *lon, double *lat);

VORPIX_API int gshhsmap_open(void **handle);
VORPIX_API int gshhsmap_select(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast,
                               double bb_latsouth, double bb_latnorth, double bb_lonref, double bb_latref);
VORPIX_API int gshhsmap_reset(void *handle);
/* Releases a map object made by gshhsmap_open: its selection and its own
 * memory. The shoreline files it read stay available to other map objects
 * (the host keeps one copy of an unchanged file, however many objects read
 * it). NULL is accepted. Returns 0. */
VORPIX_API int gshhsmap_close(void *handle);
VORPIX_API int gshhsmap_nextseg(void *handle, int *npts, int *npts_size, float **lon, float **lat, char *type,
                                int *level, int *antipode);
VORPIX_API int gshhsmap_inside_eo(float lontest, float lattest, int npts, float *lon, float *lat);

/* Makes size bytes at data the shoreline file of the resolution named by its
 * first character, as if it had been found and mapped: later selections of
 * that resolution read it. The bytes must outlive the map object or the next
 * call for the same resolution. 0, or -1 for a negative size. */
VORPIX_API int gshhsmap_use_data(void *handle, const char *resolution, const char *data, long size);

/* The header of the segment that the next gshhsmap_nextseg call delivers, or
 * NULL at the end: for clients that want the polygon's id or extent. */
VORPIX_API const GSHHSHdr *gshhsmap_peek(void *handle);

#ifdef __cplusplus
}
#endif

#endif
