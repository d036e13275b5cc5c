/*
 * TMX: the kernel (module 0).
 *
 * Starts and stops the library (tmx_Initialize / tmx_Terminate, counted per call), owns the
 * exception keys under which client handlers are registered with mpm_SetHandler and the general
 * file messages, keeps the library's identification strings, and offers the small services that
 * translators and the other modules share: files opened by UTF-8 name, file existence and size,
 * file-name extensions, gzip copies of files, a buffered UTF-8 text reader that counts lines and
 * columns, a table of open streams, EBCDIC to ASCII, the 'D'-exponent text of doubles, environment
 * lookup, and string and memory helpers.
 *
 * File names are UTF-8 and are used as they are. The file helpers report by their results (null,
 * -1, 0) and leave errno set; only tmx_GzipFile issues messages. Texts and arrays these functions
 * allocate for the caller are released with free() (or tmx_FreeArray / tmx_FreePointer).
 * All state is process-wide; use the library from one thread at a time.
 */
#ifndef TESMAR_TMX_H
#define TESMAR_TMX_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Exception keys (also TMX's first four message codes). */
#define TMX_EXC_NONE     1u /* every issued message of kind 1 */
#define TMX_EXC_MEMORY   2u /* out-of-memory messages, and the message system's own failures */
#define TMX_EXC_FILEIO   3u /* file input/output failures */
#define TMX_EXC_MAXERROR 4u /* a message suppressed by a limit */

/* Further message codes of module TMX. */
#define TMX_BAD_MSG_NAME     5u  /* " Invalid message name %s.\n" */
#define TMX_CLEANUP_ERR      6u  /* " Cleanup error (%lx) in %s at line %d.\n" */
#define TMX_READ_ERROR       7u  /* " Error reading from the file '%s'.\n" */
#define TMX_BAD_FILENAME     8u  /* " Invalid or null filename specified.\n" */
#define TMX_NOT_FOUND        9u  /* " File '%s' does not exist.\n" */
#define TMX_OPEN_ERROR       10u /* " Error opening the file '%s'.\n" */
#define TMX_CLOSE_ERROR      11u /* " Error closing the file '%s'.\n" */
#define TMX_BAD_EOL_DELIM    12u /* " The file contains end-of-line delimiters consisting of 3 or more ... */
#define TMX_UNKNOWN_FILETYPE 13u /* " File type could not be determined for the file '%s'.\n" */

/* Starts the library on the first call (registers every module's message table and starts the
 * modules in their fixed order); nested calls only count. Returns 0. */
TESMAR_API mpm_Status tmx_Initialize(uint32_t flags);

/* Undoes one tmx_Initialize; the call that balances the first stops the modules. Returns 0. */
TESMAR_API mpm_Status tmx_Terminate(uint32_t flags);

/* The code of a symbolic name ("OTM_NOTFOUND" gives 0x30006). The module part (before the first
 * '_') must be 3 or 4 characters, else TMX_BAD_MSG_NAME is issued; an unknown name gives 0xFFFF
 * without a message; found: 0. */
TESMAR_API mpm_Status tmx_GetMessageCode(const char *name, mpm_Status *code);

/* ---- Identification ---- */

/* The version of these headers, as compile-time numbers: TESMAR_VERSION_NUMBER is
 * MAJOR * 1000000 + MINOR * 1000 + PATCH (8.0.0 is 8000000), so versions compare as numbers. */
#define TESMAR_VERSION_MAJOR  8
#define TESMAR_VERSION_MINOR  0
#define TESMAR_VERSION_PATCH  0
#define TESMAR_VERSION_NUMBER 8000000
#define TESMAR_VERSION_STRING "8.0.0"

/* The version number of the library running, in the form of TESMAR_VERSION_NUMBER; a program
 * compares it with the macro to find a library older than the headers it was built with. */
TESMAR_API uint32_t tmx_GetVersionNumber(void);

/* Constant texts. */
TESMAR_API extern const char tmx_VersionText[];      /* "Tesmar Version v8.0.0, created ..." */
TESMAR_API extern const char tmx_BuildPlatformText[]; /* build platform marker */
TESMAR_API extern const char tmx_OperatingSystemText[]; /* "Linux" */
TESMAR_API extern const char tmx_CompilerText[];     /* compiler and version used for the build */
TESMAR_API extern const char tmx_CompileOptionsText[]; /* the options the library was compiled with */

/* ---- Files ---- */

/* Opens a stream like fopen() ("r", "w", "a", "r+", "w+", "a+", with 'b' and 't' accepted and
 * ignored, 'x' for exclusive creation, 'e' for close-on-exec). Opening a FIFO never blocks: one
 * without a writer reads as empty, one without a reader fails with ENXIO. Null with errno set when
 * the name or mode is null or invalid (EINVAL) or the open fails. */
TESMAR_API FILE *tmx_Fopen(const char *file_name, const char *mode);

/* open() with this platform's flags (<fcntl.h>); `permission` is read only when the flags create a
 * file (O_CREAT, O_TMPFILE). The descriptor, or -1 with errno set. */
TESMAR_API int32_t tmx_Open(const char *file_name, int32_t flags, int32_t permission);

/* 1 when a file of that name exists (any kind, also one the caller may not read), 0 when the name
 * is null or empty or nothing of that name exists (no such file, a path component that is not a
 * directory, a name too long). Only the file's status is read: nothing is opened. */
TESMAR_API int32_t tmx_FileExists(uint32_t flags, const char *file_name);

/* The size in bytes of a regular file (or block device) in *size; 0 when the name cannot be
 * opened for reading or is a directory, FIFO or other kind of file. Never blocks. Returns 0. */
TESMAR_API mpm_Status tmx_GetFileSize(uint32_t flags, const char *file_name, int64_t *size);

/* Writes into `buffer` the name with its extension replaced by `extension` (without the dot):
 * "part.igs" + "stp" gives "part.stp", "part" gives "part.stp", "dir.v2/part" gives
 * "dir.v2/part.stp" (only a '.' after the last '/' or '\' starts an extension). The buffer must
 * hold strlen(name) + strlen(extension) + 2 bytes. Returns 1; 0 (buffer untouched) when an
 * argument is null or the name or extension is empty. */
TESMAR_API int32_t tmx_MakeFileName(uint32_t flags, const char *name, const char *extension,
                                    char *buffer);

/* Copies the source file into a gzip file `target_name`, in 16384-byte pieces. Failures are
 * reported at once (mpm_ReportMessage, MPM_ERROR) with UGN's messages, the file name and errno:
 * UGN_FILE_OPEN_ERROR (source or target; also when both names are the same file),
 * UGN_FILE_READ_ERROR (source), UGN_FILE_WRITE_ERROR (target; the first one ends the copy),
 * UGN_FILE_CLOSE_ERROR. After a failure the incomplete target is removed. Returns the last
 * failure's code, 0 when the copy is complete. */
TESMAR_API mpm_Status tmx_GzipFile(uint32_t flags, const char *target_name,
                                   const char *source_name);

/* ---- Stream table (20 slots, emptied at start-up) ---- */
#define TMX_STREAM_SLOTS 20

/* Stores an open stream in the first free slot and returns the slot; when all are taken the
 * stream is closed and -1 returned. A null stream gives -1. */
TESMAR_API int32_t tmx_RegisterStream(FILE *stream);

/* The slot holding the stream, or -1. */
TESMAR_API int32_t tmx_FindStream(FILE *stream);

/* ---- Text reader ---- */
#define TMX_READER_BUFFER_SIZE 65536

/* A buffered reader of one text file, in caller storage. Line ends CR LF, LF CR and LF read as one
 * LF; a 0x1A as the file's last byte reads as the end. `error` is errno of a failed read (the
 * reader then reports the end), 0 otherwise. */
typedef struct tmx_TextReader {
  int64_t byte_count;   /* bytes consumed so far */
  int64_t line;         /* from 1 */
  int64_t column;       /* from 0 */
  uint8_t *buffer;      /* TMX_READER_BUFFER_SIZE bytes, malloc'ed */
  uint8_t *position;    /* next byte to consume */
  uint8_t *end;         /* end of the valid data */
  FILE *stream;
  int32_t pushed_back;  /* a character read ahead, or -1 */
  int32_t error;
} tmx_TextReader;

TESMAR_STATIC_ASSERT(sizeof(tmx_TextReader) == 64, "tmx_TextReader layout");

/* Opens the file for reading and sets the reader to line 1, column 0, nothing pushed back. A
 * directory cannot be opened; a FIFO without a writer reads as empty. 1, or 0 when the file or
 * the buffer cannot be had (nothing stays open, errno set). */
TESMAR_API int32_t tmx_OpenTextReader(tmx_TextReader *reader, const char *file_name);

/* Closes the stream, frees the buffer and resets the reader. 1 when the stream closed without
 * error (or none was open), 0 otherwise. */
TESMAR_API int32_t tmx_CloseTextReader(tmx_TextReader *reader);

/* The next byte (0..255), or -1 at the end of the file or after a read error. */
TESMAR_API int32_t tmx_ReadByte(tmx_TextReader *reader);

/* The next character decoded from UTF-8, a pushed-back character first. -1 at the end; 0xFFFD for
 * a byte that cannot start a character, for a sequence cut short by a byte that does not continue
 * it (that byte then starts the next character) or by the end, and for an overlong form, a
 * surrogate or a value above 0x10FFFF (the whole sequence is consumed). */
TESMAR_API int32_t tmx_ReadUTF8Char(tmx_TextReader *reader);

/* The next character with line ends folded to LF (10), counting lines and columns. A CR that is
 * not part of a line end is returned as CR (13); of two CRs in a row the first is dropped. */
TESMAR_API int32_t tmx_ReadChar(tmx_TextReader *reader);

/* ---- Characters and numbers ---- */

/* EBCDIC to ASCII: 256 entries, -1 for codes without an ASCII character. */
TESMAR_API extern const int32_t tmx_EbcdicTable[256];

/* The ASCII code of an EBCDIC code, or -1 (no ASCII character, or a code outside 0..255). */
TESMAR_API int32_t tmx_EbcdicToAscii(int32_t code);

#define TMX_DOUBLE_TEXT_SIZE 24

/* The text of a double with 15 significant digits and a 'D' exponent, independent of the locale:
 * 1.0 gives "1.0D0", -0.25 "-.25D0", 2.0e14 "2.0D14", 1.0e-20 "1.0D-20". The buffer (24 bytes) is
 * cleared first. Returns 0; UGN_MAXEXP_ERR when the exponent is clamped to 308 (also for an
 * infinity, written as "1.0D308" or "-1.0D308"), UGN_MINEXP_ERR when clamped to -307, and
 * UGN_BAD_FLOAT for a NaN (written "0.0D0"). These codes are returned, not issued. */
TESMAR_API mpm_Status tmx_FormatDouble(double value, char *buffer);

/* Looks up an environment variable (through the environment override table when one is set up).
 * *value is the value, or null when the name is not set; the text belongs to the kernel and stays
 * valid until the next lookup. Returns 0. */
TESMAR_API mpm_Status tmx_GetEnv(uint32_t flags, const char *name, const char **value);

/* qsort() comparison of two doubles: -1, 0, 1. NaNs sort after every number and equal each
 * other, so the order stays consistent. */
TESMAR_API int tmx_CompareDoubles(const void *a, const void *b);

/* ---- Strings (ASCII letters only; null texts are left alone) ---- */
TESMAR_API void tmx_StrLower(char *text);
TESMAR_API void tmx_StrUpper(char *text);

/* Lower-cases the text, then upper-cases its first character that is not a blank or tab when it
 * is a letter. Returns that character (after the change), 0 when there is none. */
TESMAR_API int32_t tmx_StrCapitalize(char *text);

/* 1 when the text, after characters that are neither letters nor digits, starts with the word;
 * 0 when a letter or digit or the end comes first. */
TESMAR_API int32_t tmx_StrStartsWithWord(const char *word, const char *text);

/* 1 when every character is a blank, a control character or 127 (also for an empty or null text),
 * else 0. */
TESMAR_API int32_t tmx_StrIsBlank(const char *text);

/* ---- Memory ---- */

/* Copies |size| bytes (a negative size counts as its absolute value); the areas may overlap.
 * Returns the target. */
TESMAR_API void *tmx_MoveBytes(int64_t size, const void *source, void *target);

/* Sets `count` bytes to `value` (nothing for a count below 1). */
TESMAR_API void tmx_FillBytes(int64_t count, int32_t value, void *target);

/* Allocates count * size bytes (zeroed when mode is 1) into *pointer. 0; 1 on failure (negative
 * or overflowing sizes, no memory), *pointer then null. Release with free(). */
TESMAR_API int32_t tmx_AllocArray(int32_t mode, int64_t count, int64_t size, void **pointer);

/* Makes room for `needed` more elements after `used` in the array at *pointer of *capacity
 * elements of `element_size` bytes. Mode 1 (fixed): allocates `increment` zeroed elements when
 * there is no array yet, then answers 1 when used + needed does not fit. Otherwise: allocates
 * `increment` elements when there is no array, and grows the array by as many increments as it
 * takes until used + needed is below the capacity; new elements are zeroed. Returns 0, or 1 on
 * failure (negative arguments, size overflow, no memory), the array then unchanged. */
TESMAR_API int32_t tmx_GrowArray(int32_t mode, int32_t used, int32_t needed, int32_t increment,
                                 int32_t element_size, int32_t *capacity, void **pointer);

/* Frees the array of tmx_GrowArray (when there is one); sets *array to null and *count and
 * *capacity to 0. */
TESMAR_API void tmx_FreeArray(int32_t *count, int32_t *capacity, void **array);

/* Frees the block at *pointer (when there is one) and sets the pointer to null. */
TESMAR_API void tmx_FreePointer(void **pointer);

/* The process id. */
TESMAR_API int32_t tmx_GetPid(void);

/* ---- CAD file types ----
 *
 * tmx_GetFileType decides which CAD exchange format a file holds, so that a translator can pick
 * its reader. It tests fixed columns of the first 160 bytes (the IGES record layout) and then reads
 * the file as a stream of tokens from its start; for some formats it returns a small block of facts
 * found on the way. Only regular files are read (a directory, FIFO or device is refused), so the
 * call always ends; a file that matches nothing is scanned to its end.
 */
#define TMX_FILETYPE_ACIS_TEXT        0  /* four integers at the start of the file */
#define TMX_FILETYPE_ACIS_BINARY      1  /* first token "ACIS" followed by "BinaryFile" */
#define TMX_FILETYPE_DXF              2  /* token "0" followed by token "SECTION" */
#define TMX_FILETYPE_DXF_BINARY       3  /* token "AutoCAD" followed by token "Binary" */
#define TMX_FILETYPE_DWG              4  /* a token starting with "AC10" */
#define TMX_FILETYPE_IGES             5  /* section letter S or G in column 73 of the first record */
#define TMX_FILETYPE_IGES_COMPRESSED  6  /* 'C' in column 73 */
#define TMX_FILETYPE_IGES_BINARY      7  /* 'B' in column 73 */
#define TMX_FILETYPE_MODEL            9  /* token "BEGIN_MODEL": a saved-model file */
#define TMX_FILETYPE_STEP             11 /* token "ISO-10303-21;" */
#define TMX_FILETYPE_VDAFS            12 /* a token containing "VDAFS", or "HEADER" early on */
#define TMX_FILETYPE_AP242_XML        13 /* tokens "AP242", "BO", "Model", "XML", "Assembly" */
#define TMX_FILETYPE_UNKNOWN          14 /* nothing recognised; also the type on any failure */

/* Result block of TMX_FILETYPE_ACIS_TEXT (the first of the four integers) and of the DXF, binary
 * DXF and DWG types (value 0). */
typedef struct tmx_FileTypeValue {
  int32_t value;
} tmx_FileTypeValue;
TESMAR_STATIC_ASSERT(sizeof(tmx_FileTypeValue) == 4, "tmx_FileTypeValue layout");

/* Result block of TMX_FILETYPE_IGES. `line_end` holds the line-end characters that follow the
 * first 80-column record, terminated by a 0 byte; it is null when the records have no line ends.
 * The caller frees `line_end`, then the block. */
typedef struct tmx_FileTypeIges {
  char *line_end;
  int32_t record_length;  /* 80 + line_end_count */
  int32_t line_end_count;
} tmx_FileTypeIges;
TESMAR_STATIC_ASSERT(sizeof(tmx_FileTypeIges) == 16, "tmx_FileTypeIges layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeIges, record_length) == 8, "tmx_FileTypeIges layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeIges, line_end_count) == 12, "tmx_FileTypeIges layout");

#define TMX_MODEL_NAME_SIZE 120 /* a token of at most 119 characters and its terminator */

/* Result block of TMX_FILETYPE_MODEL: the four tokens after "BEGIN_MODEL" (model number, schema
 * name, version, release; the numbers read as atoi() reads them, saturated to 32 bits). */
typedef struct tmx_FileTypeModel {
  int32_t model_number;
  char schema_name[TMX_MODEL_NAME_SIZE];
  int32_t version;
  int32_t release;
} tmx_FileTypeModel;
TESMAR_STATIC_ASSERT(sizeof(tmx_FileTypeModel) == 132, "tmx_FileTypeModel layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeModel, schema_name) == 4, "tmx_FileTypeModel layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeModel, version) == 124, "tmx_FileTypeModel layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeModel, release) == 128, "tmx_FileTypeModel layout");

#define TMX_STEP_SCHEMA_COUNT 5     /* schema names kept from FILE_SCHEMA */
#define TMX_STEP_SCHEMA_SIZE  1025  /* room for one name and its terminator */

/* Result block of TMX_FILETYPE_STEP: the schema names of the header's FILE_SCHEMA entry (at most
 * five; quotes removed) and their count. */
typedef struct tmx_FileTypeStep {
  int32_t schema_count;
  char schema_names[TMX_STEP_SCHEMA_COUNT][TMX_STEP_SCHEMA_SIZE];
} tmx_FileTypeStep;
TESMAR_STATIC_ASSERT(sizeof(tmx_FileTypeStep) == 5132, "tmx_FileTypeStep layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeStep, schema_names) == 4, "tmx_FileTypeStep layout");

/* Result block of TMX_FILETYPE_VDAFS: the first two line-end characters of the first line (0 when
 * absent) and the number of line-end characters. */
typedef struct tmx_FileTypeVdafs {
  char line_end[2];
  int32_t line_end_count;
} tmx_FileTypeVdafs;
TESMAR_STATIC_ASSERT(sizeof(tmx_FileTypeVdafs) == 8, "tmx_FileTypeVdafs layout");
TESMAR_STATIC_ASSERT(offsetof(tmx_FileTypeVdafs, line_end_count) == 4, "tmx_FileTypeVdafs layout");

/* Determines the type of the file named `file_name` (UTF-8). *type receives a TMX_FILETYPE_ code
 * and *result a result block allocated with malloc() for the types that have one (ACIS text, DXF,
 * binary DXF, DWG, IGES, saved model, STEP and VDAFS), null otherwise; the caller frees it (for
 * IGES, its line_end first). `result` may be null when the block is not wanted. `flags` is unused.
 *
 * Returns 0 when the file could be read, whatever its type. Failures leave the type
 * TMX_FILETYPE_UNKNOWN and no block, and are issued at MPM_ERROR: TMX_BAD_FILENAME (null or empty
 * name), TMX_NOT_FOUND (no such file), TMX_OPEN_ERROR (cannot be opened, or not a regular file),
 * TMX_READ_ERROR, TMX_CLOSE_ERROR; no memory issues TMX_EXC_MEMORY at MPM_FATAL. Whenever the type
 * is TMX_FILETYPE_UNKNOWN, TMX_UNKNOWN_FILETYPE is also issued at MPM_WARNING (this does not change
 * the status). All messages wait as pending messages. */
TESMAR_API mpm_Status tmx_GetFileType(uint32_t flags, const char *file_name, int32_t *type,
                                      void **result);

TESMAR_EXTERN_C_END

#endif
