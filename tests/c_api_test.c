/* The public headers compile as C11 and the libraries link from C. */
#include "arrays.h"
#include "byteorder.h"
#include "datafile.h"
#include "db.h"
#include "dds.h"
#include "elog.h"
#include "esri.h"
#include "gshhsmap.h"
#include "netcdf.h"
#include "redblack.h"
#include "words.h"

#include <stdio.h>
#include <stdlib.h>

/* Map objects live as long as the process: keep it reachable. */
static void *map = NULL;

int main(void) {
    Tbl *t = newtbl(0);
    Arr *a = newarr(NULL);
    int n = 0;
    char **words = NULL;
    float lon[4] = {0, 1, 1, 0}, lat[4] = {0, 0, 1, 1};
    unsigned char be[4] = {0, 0, 1, 2};
    int host = 0;
    if (!t || !a || gshhsmap_open(&map) != 0) return 1;
    settbl(t, -1, a);
    setarr(a, "key", t);
    if (gettbl(t, 0) != a || getarr(a, "key") != t || cnttbl(t) != 1) return 1;
    if (splitlist("c:1 f:15", &n, &words) != 0 || n != 2) return 1;
    freeargs(n, words);
    N2H4(&host, be, 1);
    if (host != 258) return 1;
    if (gshhsmap_inside_eo(0.5f, 0.5f, 4, lon, lat) != 1) return 1;
    if (PackARGB(255, 1, 2, 3) != 0xFF010203u) return 1;
    if (esri_get_shapetype(59)[0] != 'F' || esri_strdefs_init() != 0) return 1;
    if (netcdf_type2str(NETCDF_INT)[0] == '\0') return 1;
    {
        int (*open_db)(const char *, const char *, Dbptr *) = dbopen;
        if (!open_db) return 1;
    }
    freearr(a, NULL);
    freetbl(t, NULL);
    puts("C API links");
    return 0;
}
