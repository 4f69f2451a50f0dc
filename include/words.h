/* Word splitting and trimming. */
#ifndef VORPIX_HOST_WORDS_H
#define VORPIX_HOST_WORDS_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Splits s at runs of white space (blanks, tabs, newlines) into words; *n
 * receives their number and *list a new array of n new strings. s is not
 * modified. Returns 0, or -1 when s or an output is NULL or memory runs out. */
VORPIX_HOST_API int splitlist(const char *s, int *n, char ***list);
/* Releases what splitlist returned. */
VORPIX_HOST_API void freeargs(int n, char **list);
/* Removes leading and trailing blanks (white space) from s in place and
 * returns s. */
VORPIX_HOST_API char *strtrim(char *s);

#ifdef __cplusplus
}
#endif

#endif
