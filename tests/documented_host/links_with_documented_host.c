/* Linked against the library and the stand-in host only: the link succeeds
 * when every host function that the library calls is a documented one. */
#include "esri.h"

int main(void) { return esri_get_shapetype(0) == 0; }
