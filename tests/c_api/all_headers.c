/* Every public header compiles as C99, and a C program links against the shared library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tesmar/tesmar.h"

int main(void) {
  mpm_Status code = 0;
  int failures = 0;
  tmx_Initialize(0);
  if (strcmp(mpm_GetMessageName(OTM_NOTFOUND), "OTM_NOTFOUND") != 0) failures++;
  if (tmx_GetMessageCode("OTM_NOTFOUND", &code) != 0 || code != OTM_NOTFOUND) failures++;
  if (hdb_Validate() != 1 || hdb_IsBlock(NULL) != 0) failures++;
  {
    evm_Check checks[1] = {{7, 1, 2, 3, EVM_VALUE_INTEGER, 0, EVM_DEFAULT_TOLERANCE}};
    int32_t integers[1] = {41};
    double doubles[1] = {0.0};
    evm_Table table = {1, checks, integers, doubles, NULL, 0u, 0.5};
    evm_CheckRecord record;
    if (evm_GetCheck(&table, 7, &record) != 0 || record.value.integer != 41 ||
        record.tolerance != 0.5 || record.switch3 != 3)
      failures++;
  }
  {
    const uint32_t tfs[3] = {0x10000u, 0x50001u, 0x50002u};
    if (ddf_FindTFI(tfs, 3, 0x50001u) != 1 || ddf_FindTFI(tfs, 3, TF_NONE) != -1) failures++;
    if (ddf_types[DDF_DOUBLE].size != 8 || strcmp(ddf_sections[11].name, "fld_data") != 0)
      failures++;
    if (ddf_GetTFByName("point") != TF_NONE) failures++; /* no current schema */
  }
  {
    const double v[3] = {0.0, 3.0, 4.0};
    double unit[3];
    double sine = 0.0, cosine = 0.0;
    if (mth_NormalizeVector(3, v, unit) != 0 || unit[1] != 0.6) failures++;
    mth_SinCosSnapped(MTH_PI, &sine, &cosine);
    if (sine != 0.0 || cosine != -1.0) failures++;
    if (strcmp(mpm_GetMessageName(MTH_SINGULAR_MATRIX), "MTH_SINGULAR_MATRIX") != 0) failures++;
  }
  {
    DarArray array;
    DstString string;
    char *text = NULL;
    int32_t i, value = 0;
    if (dar_InitializeArray(&array, DAR_SEGMENTED, sizeof(int32_t), 3) != 0) failures++;
    for (i = 0; i < 10; i++) dar_AppendElement(&array, &i);
    if (dar_GetNumElements(&array) != 10 || *(int32_t *)dar_IndexElement(&array, 9) != 9) failures++;
    if (dar_ExtractLast(&array, &value) != 1 || value != 9) failures++;
    dar_Free(&array);
    if (dst_InitializeString(&string, 0) != 0 || dst_AppendString(&string, "C99") != 0 ||
        dst_CopyString(&string, &text) != 0 || strcmp(text, "C99") != 0)
      failures++;
    free(text);
    dst_Free(&string);
  }
  {
    char text[TMX_DOUBLE_TEXT_SIZE];
    char *utf8 = NULL;
    uint16_t *utf16 = NULL;
    tmx_TextReader reader;
    if (tmx_FormatDouble(-0.25, text) != 0 || strcmp(text, "-.25D0") != 0) failures++;
    if (unl_Initialize(0) != 0 || unl_JISToUnicode(1, 0x2121) != 0x3000u) failures++;
    if (unl_StrUTF8ToUTF16(0, "\xC3\xA9", &utf16) != 0 || utf16[0] != 0xE9 || utf16[1] != 0)
      failures++;
    if (unl_StrUTF16ToUTF8(0, utf16, &utf8) != 0 || strcmp(utf8, "\xC3\xA9") != 0) failures++;
    free(utf8);
    free(utf16);
    unl_Terminate(0);
    if (tmx_OpenTextReader(&reader, "/nonexistent/file") != 0) failures++;
    if (strcmp(tmx_OperatingSystemText, "Linux") != 0) failures++;
    if (mpm_GetModuleDesc(10)->count != 21) failures++;
  }
  {
    int32_t type = -1;
    void *block = NULL;
    tmx_FileTypeIges iges = {NULL, 80, 0};
    if (tmx_GetFileType(0, "/nonexistent/part.igs", &type, &block) != TMX_NOT_FOUND ||
        type != TMX_FILETYPE_UNKNOWN || block != NULL || iges.record_length != 80)
      failures++;
    mpm_DiscardPending(0);
  }
  tmx_Terminate(0);
  if (failures) fprintf(stderr, "%d C interface checks failed\n", failures);
  return failures ? 1 : 0;
}
