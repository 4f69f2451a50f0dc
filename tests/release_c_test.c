/* A C caller frees everything the ESRI decoders hand out through the public
 * release functions alone, and closes its map objects; under the sanitizers
 * and valgrind a block left behind fails the run. */
#include "arrays.h"
#include "esri.h"
#include "gshhsmap.h"
#include "netcdf.h"

#include <stdio.h>
#include <stdlib.h>

static unsigned char *read_file(const char *name, long *size) {
    char path[1024];
    FILE *f;
    unsigned char *bytes;
    snprintf(path, sizeof path, "%s/esri/%s", VORPIX_FIXTURES, name);
    if (!(f = fopen(path, "rb")) || fseek(f, 0, SEEK_END) != 0 || (*size = ftell(f)) <= 0) return NULL;
    rewind(f);
    bytes = malloc((size_t)*size);
    if (!bytes || fread(bytes, 1, (size_t)*size, f) != (size_t)*size) return NULL;
    fclose(f);
    return bytes;
}

int main(void) {
    long shp_size = 0, dbf_size = 0;
    unsigned char *shp_bytes = read_file("nc.shp", &shp_size), *dbf_bytes = read_file("nc.dbf", &dbf_size);
    ESRISHPStr shp = {0};
    ESRIDBASEStr dbf = {0};
    void *shore = NULL, *borders = NULL;
    if (!shp_bytes || !dbf_bytes) return 2;

    if (esri_decode_shapefile_sized(&shp, shp_bytes, shp_size) != 0 || cnttbl(shp.records) != 100) return 3;
    esri_release_shapefile(&shp);
    if (shp.records || shp.hdr.length) return 4;
    esri_release_shapefile(&shp); /* twice, and on nothing, does no harm */
    esri_release_shapefile(NULL);

    if (esri_decode_dbase_file_sized(&dbf, dbf_bytes, dbf_size) != 0 || dbf.hdr.numrecs != 100) return 5;
    esri_release_dbase_file(&dbf);
    if (dbf.records || dbf.field_descriptors) return 6;

    if (gshhsmap_open(&shore) != 0 || gmtmap_open(&borders) != 0) return 7;
    if (gshhsmap_close(shore) != 0 || gmtmap_close(borders) != 0) return 8;

    free(shp_bytes);
    free(dbf_bytes);
    puts("released");
    return 0;
}
