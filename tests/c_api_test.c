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
#include "vorpix_failure.h"
#include "words.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Map objects live as long as the process: keep it reachable. */
static void *map = NULL;

static char logged[256];
static void keep_line(int flags, const char *message, void *context) {
    (void)flags, (void)context;
    strncpy(logged, message, sizeof logged - 1);
}

/* Each failure is handed out as data too, as its log line tells it: a
 * shoreline header cut short, arguments that cannot be right. */
static int failures_are_data(void) {
    const char header[10] = {0};
    GSHHSHdr hdr;
    ESRISHPRECStr rec;
    long position = 0;
    vorpix_failure failure;
    void *old_context = NULL;
    elog_handler old = elog_set_thread_handler(keep_line, NULL, &old_context);
    int ok = vorpix_last_failure(NULL) == VORPIX_FAILURE_NONE;
    ok &= gshhs_unstuff_hdr_sized(&hdr, header, sizeof header, &position) < 0;
    ok &= vorpix_last_failure(&failure) == VORPIX_FAILURE_TRUNCATED && failure.kind == VORPIX_FAILURE_TRUNCATED;
    ok &= strcmp(failure.function, "gshhs_unstuff_hdr_sized") == 0 && failure.detail[0] != '\0';
    ok &= strncmp(logged, "gshhs_unstuff_hdr_sized: ", 25) == 0 && strstr(logged, failure.detail) == logged + 25;
    memset(&rec, 0, sizeof rec);
    ok &= esri_decode_shapefile_record_sized(&rec, NULL, -1, 0) < 0;
    ok &= vorpix_last_failure(&failure) == VORPIX_FAILURE_INVALID_ARGUMENT && failure.position == -1;
    ok &= strcmp(failure.function, "esri_decode_shapefile_record_sized") == 0 && failure.file[0] == '\0';
    vorpix_clear_failure();
    ok &= vorpix_last_failure(&failure) == VORPIX_FAILURE_NONE && failure.function[0] == '\0';
    elog_set_thread_handler(old, old_context, NULL);
    return ok;
}

int main(void) {
    Tbl *t = newtbl(0);
    Arr *a = newarr(NULL);
    int n = 0;
    char **words = NULL;
    float lon[4] = {0, 1, 1, 0}, lat[4] = {0, 0, 1, 1};
    unsigned char be[4] = {0, 0, 1, 2};
    int host = 0;
    if (!failures_are_data()) return 1;
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
    {
        /* The listings on a stream of the caller's: a record, a shapefile's
         * header alone (no records table), a dBase header, a DDS header. */
        ESRISHPRECPOINTStr point = {1, 1.5, -2.0};
        ESRISHPRECStr rec;
        ESRISHPStr shp;
        ESRIDBASEStr dbf;
        DDSFILEStr dds;
        char prefix[] = "", line[128];
        int lines = 0;
        FILE *out = tmpfile();
        if (!out) return 1;
        memset(&rec, 0, sizeof rec);
        memset(&shp, 0, sizeof shp);
        memset(&dbf, 0, sizeof dbf);
        memset(&dds, 0, sizeof dds);
        rec.offset = 100;
        rec.shape_type = 1;
        rec.record = &point;
        dbf.level = 5;
        esri_fprint_shapefile_record(out, prefix, &rec, -1);
        esri_fprint_shapefile(out, prefix, &shp);
        esri_fprint_dbase_file(out, prefix, &dbf);
        dds_fprint_file(out, prefix, &dds);
        rewind(out);
        if (!fgets(line, sizeof line, out) || strcmp(line, "offset=100\n") != 0) return 1;
        while (fgets(line, sizeof line, out)) ++lines;
        fclose(out);
        /* After offset=100: the record's 7 lines, the shapefile header's 18,
         * the dBase header's 15 and the DDS header's 23. */
        if (lines != 7 + 18 + 15 + 23) return 1;
    }
    freearr(a, NULL);
    freetbl(t, NULL);
    puts("C API links");
    return 0;
}
