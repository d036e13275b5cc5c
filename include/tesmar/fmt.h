/*
 * FMT: named formatting directives (module 13).
 *
 * fmt_Initialize registers FMT's message table and twelve directives in the formatting engine's
 * directive table (mpm.h). Message texts marked '+', and formats given to mpm_Printf, mpm_Fprintf
 * and mpm_Sprintf, can then use:
 *
 *   %<CurDate>       today, as "Mon, Dec  7, 2026"                     (no argument)
 *   %<CurTime>       the time of day, as "hh:mm:ss"                     (no argument)
 *   %<ErrorSummary>  every counted message with its counts, then the five severity counters
 *   %<ElapsedCPU>    processor time since the library started, "hh:mm:ss"
 *   %<ElapsedClock>  calendar time since the library started, "hh:mm:ss"
 *   %<TF>            a type form (uint32_t): "type:form", 16001 in either half prints "*",
 *                    the form as a signed 16-bit number
 *   %<DTF>           a pointer to an fmt_NamedTypeForm: "name:type:form" ("NULL" without a name)
 *   %<PTR>           an entity handle (db_ptr): "#model:entity"
 *   %<PTR2>          a 64-bit value: "0x" and lower-case hexadecimal
 *   %<ModelList>     the current model's entities counted by entity name, with a total
 *   %<lld>, %<llx>   a 64-bit integer in decimal or lower-case hexadecimal
 *
 * Every line these print is one of FMT's message texts, so a message-text file can replace the
 * wording. Width, precision and flags written before a directive name are accepted and ignored.
 * The directives have no failure of their own. Use from one thread at a time.
 */
#ifndef TESMAR_FMT_H
#define TESMAR_FMT_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module FMT. */
#define FMT_CURDATE      0xD0001u /* " %.3s, %.3s %.2s, %.4s" */
#define FMT_CURTIME      0xD0002u /* " %.8s" */
#define FMT_ERRORTOTAL   0xD0003u /* " The following message was issued %d time(s)" */
#define FMT_ERRORISSUE   0xD0004u /* "  and suppressed after %d time(s)" */
#define FMT_ERRORTERM    0xD0005u /* " \n" */
#define FMT_NOERROR      0xD0006u /* " No errors.\n" */
#define FMT_ERRORSUMMARY 0xD0007u /* the five severity counters */
#define FMT_ELAPSEDTIME  0xD0008u /* " %02d:%02d:%02d" */
#define FMT_TF           0xD0009u /* " %s:%s" */
#define FMT_PTR          0xD000Au /* "+#%ld:%<lld>" */
#define FMT_TEST         0xD000Bu /* "+TF = %<TF>, PTR = %<PTR>\n" */
#define FMT_PTR2         0xD000Cu /* "+0x%<llx>" */
#define FMT_DTF          0xD000Du /* " %s:%s:%s" */
#define FMT_ENTITYHEADER 0xD000Eu /* the heading of the entity listing */
#define FMT_ENTITYCOUNT  0xD000Fu /* "  %-69s   %5d\n" */
#define FMT_ENTITYTOTAL  0xD0010u /* the rule and total of the entity listing */
#define FMT_NOMODEL      0xD0011u /* " No model active.\n" */
#define FMT_IGES_ORIG    0xD0012u /* "+IGES %<TF> %s DE#%ld": type form, text, directory entry */
#define FMT_DXFI_ORIG    0xD0013u /* " DXF %s handle:%s": text, entity handle text */
#define FMT_STEP_ORIG    0xD0014u /* " STEP %s PFID #%ld": text, instance number */
#define FMT_VDAF_ORIG    0xD0015u /* " VDAFS %s name:%s": text, element name */
#define FMT_MDA_ORIG     0xD0016u /* "+MDA %s model:entity %<PTR>": text, entity handle */
#define FMT_LD           0xD0017u /* " %ld" */
#define FMT_LLD          0xD0018u /* " %lld" */
#define FMT_LX           0xD0019u /* " %lx" */
#define FMT_LLX          0xD001Au /* " %llx" */

/* The type form value that stands for "any" in either half; it prints as "*". */
#define FMT_TF_WILDCARD 16001

/* The argument of %<DTF>: a name (or null) and a type form. A mapping DTF {schema, type form}
 * has this layout, and a schema begins with its database name, so it prints as "dbname:type:form". */
typedef struct fmt_NamedTypeForm {
  const char *name;
  uint32_t type_form;
  uint32_t reserved;
} fmt_NamedTypeForm;

TESMAR_STATIC_ASSERT(sizeof(fmt_NamedTypeForm) == 16, "fmt_NamedTypeForm layout");
TESMAR_STATIC_ASSERT(offsetof(fmt_NamedTypeForm, type_form) == 8, "fmt_NamedTypeForm field");

/* Module start-up: registers FMT's message table, then the directives CurDate, CurTime,
 * ErrorSummary, ElapsedCPU, ElapsedClock, TF, DTF, PTR, PTR2, ModelList, lld and llx (replacing
 * handlers of the same names). Needs the message system started. Returns 0. */
TESMAR_API mpm_Status fmt_Initialize(uint32_t flags);

TESMAR_EXTERN_C_END

#endif
