/*
 * UNL: Unicode and Japanese code pages (module 24).
 *
 * Converts strings between UTF-8, UTF-16 and UTF-32, validates and measures UTF-8 and UTF-16
 * strings, prints them as hexadecimal code units, and converts single characters between JIS X 0208
 * and JIS X 0212 codes, Shift_JIS codes and Unicode through three code-page tables.
 *
 * UTF-8 strings are char texts, UTF-16 strings uint16_t code units in this machine's byte order,
 * UTF-32 strings uint32_t code points; all end with a zero unit unless an end pointer is given.
 * JIS and Shift_JIS codes are passed as 32-bit numbers with the first byte in bits 8 to 15 and the
 * second in bits 0 to 7.
 *
 * unl_Initialize (called by the client, not by tmx_Initialize) registers the module's messages and
 * points the exported table pointers at the library's constant tables; before it, and after
 * unl_Terminate, the pointers are null and the JIS lookups answer 0. The string operations do not
 * need the tables. Strings returned through out-arguments are malloc'ed; release them with free().
 */
#ifndef TESMAR_UNL_H
#define TESMAR_UNL_H

#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module UNL. */
#define UNL_INVALID_INDEX_ERR 0x180001u /* " The index %i or %i is too large or too small ..." */
#define UNL_MALLOC_ERR        0x180002u /* " Error allocating memory.\n" */
#define UNL_CONVERSION_ERR    0x180003u /* " Unable to convert source string to target encoding.\n" */

/* Table sizes and the tags of unl_UnicodeTable entries. */
#define UNL_JIS0208_ENTRIES 7896   /* 84 rows of 94 cells */
#define UNL_JIS0212_ENTRIES 7238   /* 77 rows of 94 cells */
#define UNL_UNICODE_ENTRIES 65536
#define UNL_TAG_JIS0208     0x38u  /* '8' */
#define UNL_TAG_JIS0212     0x32u  /* '2' */
#define UNL_TAG_INVALID     0x69u  /* 'i': unl_UnicodeToJIS of a code point outside the BMP */

/* JIS X 0208 to Unicode: entry (first byte - 0x21) * 94 + (second byte - 0x21) is the character's
 * code point, 0 where the code is unassigned (6,879 characters). */
TESMAR_API extern const uint16_t *unl_JIS0208Table;
/* JIS X 0212 to Unicode, laid out the same way (6,067 characters). */
TESMAR_API extern const uint16_t *unl_JIS0212Table;
/* Unicode (BMP) to JIS: 0 where the code point has no JIS character; otherwise the JIS code in bits
 * 0 to 15 and UNL_TAG_JIS0208 or UNL_TAG_JIS0212 in bits 16 to 23 (12,946 characters). */
TESMAR_API extern const uint32_t *unl_UnicodeTable;

/* Registers UNL's messages and points the three table pointers at the tables. Calling it again is
 * harmless. Returns 0. */
TESMAR_API mpm_Status unl_Initialize(uint32_t options);

/* Sets the three table pointers to null. Returns 0. */
TESMAR_API mpm_Status unl_Terminate(uint32_t options);

/* Converts a zero-terminated UTF-16 string to a new zero-terminated UTF-8 string in *out. Unpaired
 * surrogates are refused. Returns 0; UNL_CONVERSION_ERR when the string is malformed (issued unless
 * the string already fails unl_UTF16Length), UNL_MALLOC_ERR (issued) when memory fails; *out is
 * null after any failure. */
TESMAR_API mpm_Status unl_StrUTF16ToUTF8(uint32_t options, const uint16_t *in, char **out);

/* Converts a zero-terminated UTF-8 string to a new zero-terminated UTF-16 string in *out. Only
 * well-formed UTF-8 is accepted: no overlong forms, no surrogates, nothing above U+10FFFF, no
 * truncated sequence. Failures as for unl_StrUTF16ToUTF8. */
TESMAR_API mpm_Status unl_StrUTF8ToUTF16(uint32_t options, const char *in, uint16_t **out);

/* Encodes a zero-terminated string of code points as UTF-8. With *out null, a new string of exactly
 * the needed size is allocated into *out; otherwise the caller's buffer at *out is written, which
 * must hold 4 bytes per code point plus 1. Surrogates and values above 0x10FFFF are refused with
 * UNL_CONVERSION_ERR (not issued); a caller's buffer then holds the bytes written before the
 * failing code point, terminated. UNL_MALLOC_ERR (not issued) when memory fails. */
TESMAR_API mpm_Status unl_StrUTF32ToUTF8(const uint32_t *in, char **out);

/* Walks a UTF-16 string up to its zero unit (end null) or up to `end`, checking that surrogates
 * pair up: *bytes gets 2 per unit walked, *characters the characters (a pair counts once); either
 * may be null. A pair left open at the end is not an error here. UNL_CONVERSION_ERR (not issued)
 * for a low surrogate that closes nothing or a high surrogate not followed by a low one. */
TESMAR_API mpm_Status unl_UTF16Length(const uint16_t *in, const uint16_t *end, uint64_t *bytes,
                                      uint64_t *characters);

/* Walks a UTF-8 string up to its zero byte (end null) or up to `end`, checking its structure (lead
 * bytes and continuation bytes; overlong forms and surrogates are not looked at): *bytes gets the
 * bytes walked, *characters the complete characters; either may be null. A sequence left open at
 * the end is not an error here. UNL_CONVERSION_ERR (not issued) for a misplaced byte. */
TESMAR_API mpm_Status unl_UTF8Length(const char *in, const char *end, uint64_t *bytes,
                                     uint64_t *characters);

/* Print the code units on standard output, one character per line ("%04X " / "%02X " per unit),
 * then for a zero-terminated string the terminator and "bytes: %lu chars: %lu" (terminator
 * included). UNL_CONVERSION_ERR (not issued) at the first invalid unit. */
TESMAR_API mpm_Status unl_DumpUTF16(const uint16_t *in, const uint16_t *end);
TESMAR_API mpm_Status unl_DumpUTF8(const char *in, const char *end);

/* The Unicode character of a JIS code in set 1 (JIS X 0208) or 2 (JIS X 0212); 0 when unassigned,
 * for another set, or before unl_Initialize. A code outside the set's rows and cells reports
 * UNL_INVALID_INDEX_ERR at once (with the row and cell) and gives 0. */
TESMAR_API uint32_t unl_JISToUnicode(int32_t character_set, int32_t code);

/* The unl_UnicodeTable entry of a code point (0 before unl_Initialize). A code point above 0xFFFF
 * or negative reports UNL_INVALID_INDEX_ERR at once and gives UNL_TAG_INVALID << 16. */
TESMAR_API uint32_t unl_UnicodeToJIS(int32_t unused, int32_t code_point);

/* JIS to Shift_JIS by arithmetic (0x2121 gives 0x8140); 0 when the lead byte would be negative. */
TESMAR_API int32_t unl_JISToSJIS(int32_t code);

/* Shift_JIS to JIS by arithmetic (0x8140 gives 0x2121); 0 when the row or cell would be negative. */
TESMAR_API int32_t unl_SJISToJIS(int32_t code);

TESMAR_EXTERN_C_END

#endif
