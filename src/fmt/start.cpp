// FMT's message table (module 13): every line the directives print is one of these texts; and its
// start-up, which registers the directives.
#include "fmt/fmt_internal.h"
#include "mpm/message_table.h"

namespace tesmar::fmt {
namespace {
// The entity listing's rule and padding, spelt out once.
#define RULE_78 \
  "----------------------------------------" \
  "--------------------------------------"
#define BLANKS_62 "                                                              "
#define BLANKS_68 BLANKS_62 "      "
constexpr MessageRow kRows[] = {
    {"CURDATE", kOrdinary, " %.3s, %.3s %.2s, %.4s"},
    {"CURTIME", kOrdinary, " %.8s"},
    {"ERRORTOTAL", kOrdinary, " The following message was issued %d time(s)"},
    {"ERRORISSUE", kOrdinary, "  and suppressed after %d time(s)"},
    {"ERRORTERM", kOrdinary, " \n"},
    {"NOERROR", kOrdinary, " No errors.\n"},
    {"ERRORSUMMARY", kOrdinary,
     " Information: %d\nStatus:      %d\nWarning:     %d\nError:       %d\nFatal:       %d\n"},
    {"ELAPSEDTIME", kOrdinary, " %02d:%02d:%02d"},
    {"TF", kOrdinary, " %s:%s"},
    {"PTR", kOrdinary, "+#%ld:%<lld>"},
    {"TEST", kOrdinary, "+TF = %<TF>, PTR = %<PTR>\n"},
    {"PTR2", kOrdinary, "+0x%<llx>"},
    {"DTF", kOrdinary, " %s:%s:%s"},
    {"ENTITYHEADER", kOrdinary,
     "  Name" BLANKS_68 "Count\n" RULE_78 "\n"},
    {"ENTITYCOUNT", kOrdinary, "  %-69s   %5d\n"},
    {"ENTITYTOTAL", kOrdinary, " " RULE_78 "\n" BLANKS_62 "Total      %5d\n"},
    {"NOMODEL", kOrdinary, " No model active.\n"},
    {"IGES_ORIG", kOrdinary, "+IGES %<TF> %s DE#%ld"},
    {"DXFI_ORIG", kOrdinary, " DXF %s handle:%s"},
    {"STEP_ORIG", kOrdinary, " STEP %s PFID #%ld"},
    {"VDAF_ORIG", kOrdinary, " VDAFS %s name:%s"},
    {"MDA_ORIG", kOrdinary, "+MDA %s model:entity %<PTR>"},
    {"LD", kOrdinary, " %ld"},
    {"LLD", kOrdinary, " %lld"},
    {"LX", kOrdinary, " %lx"},
    {"LLX", kOrdinary, " %llx"},
};
#undef RULE_78
#undef BLANKS_62
#undef BLANKS_68
constinit const MessageTable kTable(13, "FMT", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::fmt

extern "C" mpm_Status fmt_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::fmt::module_desc());
  tesmar::fmt::register_directives();
  return 0;
}
