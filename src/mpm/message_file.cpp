// The message-text file, through which a user replaces the built-in texts. It rests on the paged
// file, which does not exist yet; until it does no file can be open and every text is built in.
#include "mpm/mpm_internal.h"

namespace tesmar::mpm {

bool text_from_message_file(int32_t, int32_t, char **) { return false; }

void close_message_file() {}

}  // namespace tesmar::mpm
