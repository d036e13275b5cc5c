// Private declarations of the message-text file.
#pragma once

namespace tesmar::msgfile {

// Does a replacement text (marker included) take exactly the arguments of the built-in text, in
// the same order, however it is formatted? Replacements that use "%n", unknown conversions or huge
// widths never do.
bool same_arguments(const char *built_in, const char *replacement);

}  // namespace tesmar::msgfile
