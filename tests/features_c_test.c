/* The feature layer's C interface, from C11: a shapefile's features with
 * their attributes, and errors as data. */
#include "vorpix/vorpix_features.h"

#include <stdio.h>
#include <string.h>

#define CHECK(condition) \
    do { \
        if (!(condition)) { \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            return 1; \
        } \
    } while (0)

int main(void) {
    vpx_error error;
    vpx_options options;
    vpx_feature f;
    vpx_reader *reader;
    vpx_options_init(&options);

    reader = vpx_open_shapefile(VORPIX_FIXTURES "/esri/areas.shp", &options, &error);
    CHECK(reader != NULL && error.code == VPX_OK);
    CHECK(vpx_field_count(reader) == 4 && strcmp(vpx_field_name(reader, 0), "name") == 0);
    CHECK(vpx_field_type(reader, 1) == 'N' && vpx_field_name(reader, 4) == NULL);
    CHECK(vpx_next(reader, &f, &error) == 1);
    /* Two polygons, the first with a hole: rings closed, exterior first. */
    CHECK(f.id == 0 && f.geometry_type == VPX_MULTIPOLYGON && f.polygon_count == 2 && f.run_count == 3);
    CHECK(f.parts[0] == 0 && f.parts[1] == 2 && f.parts[2] == 3 && f.z == NULL);
    CHECK(f.x[f.runs[0]] == f.x[f.runs[1] - 1] && f.y[f.runs[0]] == f.y[f.runs[1] - 1]);
    CHECK(f.value_count == 4 && f.values[0].type == VPX_STRING && strcmp(f.values[0].text, "lake island") == 0);
    CHECK(f.values[1].type == VPX_INTEGER && f.values[1].integer == 3);
    CHECK(f.values[3].type == VPX_DATE && f.values[3].integer == 20010304);
    CHECK(vpx_next(reader, &f, &error) == 1 && f.id == 1 && f.values[3].type == VPX_NULL);
    CHECK(vpx_next(reader, &f, &error) == 0);
    vpx_close(reader);

    /* A box that meets neither gives nothing. */
    options.boxed = 1;
    options.box[0] = 100, options.box[1] = 110, options.box[2] = -10, options.box[3] = 0;
    reader = vpx_open_shapefile(VORPIX_FIXTURES "/esri/areas.shp", &options, &error);
    CHECK(reader != NULL && vpx_next(reader, &f, &error) == 0);
    vpx_close(reader);

    reader = vpx_open_shapefile(VORPIX_FIXTURES "/esri/none.shp", NULL, &error);
    CHECK(reader == NULL && error.code == VPX_IO);
    CHECK(strcmp(error.file, VORPIX_FIXTURES "/esri/none.shp") == 0);
    CHECK(strstr(error.message, "cannot open") != NULL);
    CHECK(vpx_next(NULL, &f, &error) == -1 && error.code == VPX_INVALID);
    vpx_close(NULL);
    return 0;
}
