#include "gshhsmap.h"
extern "C" {
int gshhsmap_open(void **) { return 0; }
int gshhsmap_inside_eo(float, float, int, float *, float *) { return 1; }
}
