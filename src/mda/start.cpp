// MDA's message table (module 9), the rule by which its bare codes become failures, and its
// start-up and shut-down.
#include "mda/mda_internal.h"
#include <iterator>

#include "mpm/message_table.h"

namespace tesmar::mda {
namespace {
constexpr MessageRow kRows[] = {
    {"INVALID_MODEL", kOrdinary, " Invalid model number specified.\n"},
    {"INVALID_PTR", kOrdinary, " Invalid database pointer.\n"},
    {"NULL_MEMPTR", kOrdinary, " Unexpected NULL memory pointer.\n"},
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"REALLOC_ERR", kMemory, " Error reallocating memory.\n"},
    {"INVALID_ARG", kOrdinary, " Invalid argument.\n"},
    {"INVALID_OPTIONS", kOrdinary, " Invalid combination of options.\n"},
    {"CACHE_FULL", kOrdinary, " Entity cache is full.\n"},
    {"NO_MORE_MODEL", kOrdinary, " No more models available.\n"},
    {"NO_DDF", kOrdinary, " No DDF was specified.\n"},
    {"NOT_RWLOCKED", kOrdinary, " Entity must be read/write locked.\n"},
    {"TOO_MANY_LOCKS", kOrdinary, " Entity locked too many times without being unlocked.\n"},
    {"PAR_LIST_ERR", kOrdinary, " Error processing entity parent list.\n"},
    {"NO_BACKPTRS", kOrdinary, " No back pointer information exists in model.\n"},
    {"PAR_NOT_FOUND", kOrdinary, " Parent not found in parent list of entity.\n"},
    {"HAS_PARENTS", kOrdinary, " Entity is referenced from another entity.\n"},
    {"ZERO_DIM", kOrdinary,
     " Can not allocate an array which has 0 elements in one or more dimensions.\n"},
    {"ARRAY_MISMATCH", kOrdinary,
     " Number of dimensions or element size specified is different than array was originally "
     "declared with.\n"},
    {"CHILD_NOT_FOUND", kOrdinary, " Reference to child entity not found in parent entity.\n"},
    {"DBG_BADMEMREF", kOrdinary, "+Invalid memory reference found in entity %<PTR2>.\n"},
    {"DBG_BIGDBLOCK", kOrdinary,
     "+Questionably large disk block (%ld bytes) found in entity %<PTR2>.\n"},
    {"DBG_BADBLOCKNUM", kOrdinary, "+Bad block number (%d) in DBlock chain for entity %<PTR2>.\n"},
    {"DBG_BADPTRNUM", kOrdinary,
     "+Bad pointer block number (%d) in DBlock chain for entity %<PTR2>.\n"},
    {"CALLBACK_NOT_FOUND", kOrdinary, " Callback function not found in callback list.\n"},
    {"TREE_ERR", kOrdinary, " Error using OTM tree.\n"},
    {"OPEN_ERR", kOrdinary, " Error opening file %s.\n"},
    {"INCORRECT_SIGNATURE", kOrdinary,
     " Incorrect signature found while reading binary file %s.  Expected \"%6.6s\" but found "
     "\"%6.6s\".  Parsing aborted.\n"},
    {"INCORRECT_DBNAME", kOrdinary,
     " Incorrect database name found in saved model file %s.  Expected \"%s\" but found \"%s\".  "
     "Parsing aborted.\n"},
    {"NEWER_DBVERSION", kOrdinary,
     " Newer database version number found in saved model file %s.  Expected %d but found %d.  "
     "Parsing aborted\n"},
    {"OLDER_DBVERSION", kOrdinary,
     " Older database version number found in saved model file %s.  Expected %d but found %d.\n"},
    {"NEWER_DBRELEASE", kOrdinary,
     " Newer database release number found in saved model file %s.  Expected %d but found %d.\n"},
    {"OLDER_DBRELEASE", kOrdinary,
     " Older database release number found in saved model file %s.  Expected %d but found %d.\n"},
    {"UNKNOWN_NAME", kOrdinary,
     " Unknown entity name \"%s\" found in saved model file %s.  Parsing aborted.\n"},
    {"FILE_READ_ERR", kOrdinary,
     " An error occurred while reading from the saved model file %s.  Parsing aborted.\n"},
    {"FILE_WRITE_ERR", kOrdinary,
     " An error occurred while writing to the saved model file %s.  Formatting aborted.\n"},
    {"FILE_EXISTS", kOrdinary, " File already exists.\n"},
    {"INTERNAL_ERR", kOrdinary, " An internal error occurred in function %s.\n"},
    {"MODEL_NOT_EMPTY", kOrdinary, " Model %d specified as target of restore is not empty.\n"},
    {"CROSS_MODEL_PTR", kOrdinary,
     "+Cross model pointers are not currently supported.  Entity %<PTR> (%<PTR2>) referenced "
     "entity %<PTR> (%<PTR2>).  Pointer will be changed to MDA_NULL_PTR.\n"},
    {"NOT_IND_MBLOCK", kOrdinary, " Non-independent MBlock passed to mda_AddMemory.\n"},
    {"BAD_MBLOCK", kOrdinary, " Bad MBlock found at address 0x%p.\n"},
    {"BAD_BACKPTRS", kOrdinary, " Bad backpointers found.\n"},
    {"NO_MORE_PTR", kOrdinary, " No more db_ptr available.\n"},
    {"DUPLICATE_ENTLIST_ENTRY", kOrdinary,
     "+The entity %<PTR> (%<PTR2>) is already defined in the current entity list. The new entry "
     "was not added to the current entity list.\n"},
    {"PTR_ALREADY_CREATED", kOrdinary,
     "+The pointer %<PTR> has already been created in the current model.\n"},
    {"MODELS_DIFFER", kOrdinary, " Unable to replace the db_ptr across the model.\n"},
    {"ENTITY_NOT_DELETED", kOrdinary, " Target entity of repalce db_ptr has not been deleted.\n"},
    {"NOLONGER_SUPPORTED", kOrdinary,
     " The MDA_INVALIDATE option is no longer supporeted as a default.\nIf this option must be "
     "used, use MDA_NO_DELAYED_WRITE option in mda_AllocateModel() for backward compatibility.\n"},
};
static_assert(std::size(kRows) == 48, "MDA has 48 messages");
constinit const MessageTable kTable(9, "MDA", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

Failure from_code(mpm_Status code) {
  if (code == 0 || (code >> 16) != 9 || is_quiet(code)) return Failure::issued(code);
  switch (code) {
    case MDA_BAD_MBLOCK:
      return bad_block(nullptr);
    case MDA_DUPLICATE_ENTLIST_ENTRY:
      return fail(code).with(uint64_t{0}).with(uint64_t{0});
    case MDA_PTR_ALREADY_CREATED:
      return fail(code).with(uint64_t{0});
    case MDA_INTERNAL_ERR:
    case MDA_OPEN_ERR:
      return fail(code).with("");
    case MDA_MODEL_NOT_EMPTY:
      return fail(code).with(int32_t{0});
    default:
      return fail(code);
  }
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_Initialize(uint32_t) {
  mpm_RegisterModule(0, &module_desc());
  reset_model_table();
  mda_DbgStream = stdout;
  mda_copy_table = nullptr;
  create_registry();
  return 0;
}

mpm_Status mda_Terminate(uint32_t) {
  if (mpm_Status status = free_every_model(); status != 0) return status;
  drop_registry();
  return 0;
}

}  // extern "C"
