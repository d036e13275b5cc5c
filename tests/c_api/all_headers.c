/* Every public header compiles as C99, and a C program links against the shared library. */
#include <stdio.h>
#include <string.h>

#include "tesmar/tesmar.h"

int main(void) {
  mpm_Status code = 0;
  int failures = 0;
  tmx_Initialize(0);
  if (strcmp(mpm_GetMessageName(OTM_NOTFOUND), "OTM_NOTFOUND") != 0) failures++;
  if (tmx_GetMessageCode("OTM_NOTFOUND", &code) != 0 || code != OTM_NOTFOUND) failures++;
  tmx_Terminate(0);
  if (failures) fprintf(stderr, "%d C interface checks failed\n", failures);
  return failures ? 1 : 0;
}
