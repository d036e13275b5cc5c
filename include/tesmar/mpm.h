/*
 * MPM: the message and error system (module 1), with its formatting engine and line writer.
 *
 * Every public operation of the library returns a 32-bit status code: 0 is success, otherwise
 * (module id << 16) | message number, the number counting from 1 over the module's message table.
 * A failing operation issues its module's message: the message is counted and kept as a pending
 * message (the newest at the head of mpm_pending_list) until the client reports (mpm_ReportMessage)
 * or drops (mpm_FlushPending, mpm_DiscardPending) the chain. Client handlers registered per key
 * (the exception keys TMX_EXC_* of tmx.h and the severity codes) turn chosen failures into the
 * client's own control flow; a handler may leave the operation by longjmp or by throwing.
 *
 * Message texts begin with a marker that is never printed: ' ' formats the rest with the C
 * library's printf, '+' with the library's engine, which adds positional arguments ("%2$s") and
 * named directives ("%<NAME>") whose handlers live in mpm_directive_table. Formatted text goes
 * through the line writer, which wraps, indents and justifies it and hands every line to
 * mpm_output_function, for the screen stream and for the log file.
 *
 * Ownership: texts returned by mpm_GetMessageText, mpm_FormatString and appended by
 * mpm_AppendMessage are malloc'ed and freed by the caller with free(); names returned by
 * mpm_GetMessageName belong to the message system and live until mpm_Terminate.
 *
 * All state is process-wide; use the library from one thread at a time.
 */
#ifndef TESMAR_MPM_H
#define TESMAR_MPM_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include "tesmar/types.h"
#include "tesmar/otm.h"
#include "tesmar/olm.h"

TESMAR_EXTERN_C_BEGIN

/* Severities (also MPM's first five message codes). */
#define MPM_INFO    0x10001u
#define MPM_STATUS  0x10002u
#define MPM_WARNING 0x10003u
#define MPM_ERROR   0x10004u
#define MPM_FATAL   0x10005u

/* Further message codes of module MPM. */
#define MPM__STARS          0x10006u /* " ***\n" */
#define MPM__DEBUG          0x10007u /* " @%s(%d) " */
#define MPM__INVALIDMESSAGE 0x10008u /* " ..... INVALID MESSAGE .....\n" */
#define MPM__UNKNOWN        0x10009u /* " UNKNOWN" */
#define MPM_OPENERROR       0x1000Au /* " Error opening file %s for write.\n" */
#define MPM_CLOSEERROR      0x1000Bu /* " Error closing file.\n" */
#define MPM_DOFERROR        0x1000Cu /* " DOF error %d\n" */
#define MPM__NOERR          0x1000Du /* " NOERR" */
#define MPM_USER_DEFINED    0x1000Eu /* " " */

/* Issue flags (OR-ed with mpm_global_flags). */
#define MPM_SHOW_OLDEST     0x1u
#define MPM_SHOW_NEWEST     0x2u
#define MPM_SHOW_ALL        0x4u
#define MPM_NO_HEADER       0x10u
#define MPM_NO_NEWLINE      0x20u
#define MPM_DISCARD_PENDING 0x40u
#define MPM_IMMEDIATE       0x80u
#define MPM_RAW_TEXT        0x100u
#define MPM_ALT_INDEX       0x200u
#define MPM_NO_SCREEN       0x400u
#define MPM_NO_LOG          0x800u
#define MPM_OPTIONS         0x1000u
#define MPM_NO_COUNT        0x2000u
#define MPM_HEADER_ONLY     0x4000u
#define MPM_UPDATE_FILE     0x10000000u
#define MPM_KEEP_PENDING    0x20000000u
#define MPM_DIRECTIVES      0x40000000u

/* Option-list tags (with MPM_OPTIONS, the variable arguments begin with these, each an int):
 *   MPM_OPT_END                    end of options; the message's arguments follow
 *   MPM_OPT_ARGS, va_list *        end of options; the message's arguments come from that list
 *   MPM_OPT_TEXT, char *           heap text written between header and message; freed by MPM
 *   MPM_OPT_SOURCE, char *, int    sets the current source file and line
 *   MPM_OPT_STREAM, FILE *         the stream to write to instead of the default */
#define MPM_OPT_END    1
#define MPM_OPT_ARGS   2
#define MPM_OPT_TEXT   4
#define MPM_OPT_SOURCE 8
#define MPM_OPT_STREAM 16

/* One row of a module's names table. `kind` is the exception key raised when the message is
 * issued (TMX_EXC_NONE 1, TMX_EXC_MEMORY 2, TMX_EXC_FILEIO 3); `text_index` selects the text. */
typedef struct mpm_MsgName {
  const char *name;
  uint32_t kind;
  int32_t text_index;
} mpm_MsgName;

/* A module's message table. `texts` and `names` have `count` rows each. */
typedef struct mpm_ModuleDesc {
  uint16_t module_id;
  uint16_t count;
  const char *name;
  const char *const *texts;
  const mpm_MsgName *names;
} mpm_ModuleDesc;

TESMAR_STATIC_ASSERT(sizeof(mpm_MsgName) == 16, "mpm_MsgName layout");
TESMAR_STATIC_ASSERT(sizeof(mpm_ModuleDesc) == 32, "mpm_ModuleDesc layout");

/* Record of mpm_count_tree (ordered by code). A limit of -1 is unlimited. */
typedef struct mpm_CountRecord {
  int32_t code;
  int32_t limit;
  int32_t issued;
  int32_t total;
} mpm_CountRecord;

/* Record of mpm_pending_list (head = newest). `counted` is 0 for messages issued with
 * MPM_NO_COUNT, which a discard does not take out of the counters. */
typedef struct mpm_PendingMessage {
  mpm_Status severity;
  mpm_Status code;
  char *text;
  uint32_t counted;
  uint32_t reserved;
} mpm_PendingMessage;

/* Handler of a key: called with (key, code). */
typedef void (*mpm_Handler)(uint32_t key, mpm_Status code);

/* Record of mpm_handler_tree (ordered by key). */
typedef struct mpm_HandlerRecord {
  uint32_t key;
  uint32_t reserved;
  mpm_Handler handler;
} mpm_HandlerRecord;

/* One parsed conversion of the formatting engine, handed to a directive handler. */
typedef struct mpm_DirectiveRecord {
  int32_t arg_number;
  int32_t flag_count;
  const char *flag_chars;   /* the flag characters ('+', '-', '#', ' ', '0'), not terminated */
  int32_t width;            /* -1 none, -2 taken from the arguments */
  int32_t precision;        /* -1 none, -2 taken from the arguments */
  char length;              /* 'l', 'L', 'h' or 0 */
  char reserved[3];
  int32_t conversion_length;
  const char *conversion;   /* the conversion character or directive name, not terminated */
  char *result;             /* heap text: the handler's output (the engine frees it) */
} mpm_DirectiveRecord;

/* A directive handler takes its arguments from the cursor (in order, with va_arg) and leaves its
 * output in record->result, typically with mpm_AppendMessage. */
typedef mpm_Status (*mpm_DirectiveHandler)(uint32_t flags, mpm_DirectiveRecord *record,
                                           va_list *args);

/* Record of mpm_directive_table (ordered by name with mpm_CompareNames). */
typedef struct mpm_Directive {
  char name[32];
  mpm_DirectiveHandler handler;
} mpm_Directive;

/* Record of the name cache. */
typedef struct mpm_NameRecord {
  int32_t code;
  char name[68];
} mpm_NameRecord;

/* Output function: called as (line, stream) for every line written, once for the screen stream
 * and once for the log stream. */
typedef int (*mpm_OutputFunction)(const char *line, FILE *stream);

/* ---- Settings and state (process-wide, readable and settable by clients) ---- */
TESMAR_API extern uint32_t mpm_global_flags;          /* OR-ed into every issue and write */
TESMAR_API extern int32_t mpm_default_limit;          /* limit of new count records; -1 none */
TESMAR_API extern int32_t mpm_severity_limits[5];     /* info, status, warning, error, fatal */
TESMAR_API extern int32_t mpm_severity_counts[5];     /* counted since the last reset */
TESMAR_API extern mpm_Status mpm_last_status;         /* code of the last issue */
TESMAR_API extern mpm_Status mpm_last_severity;       /* severity of the last issue */
TESMAR_API extern const char *mpm_source_file;        /* last MPM_OPT_SOURCE location */
TESMAR_API extern int32_t mpm_source_line;
TESMAR_API extern FILE *mpm_log_stream;               /* the open log file, or null */
TESMAR_API extern olm_List *mpm_pending_list;         /* mpm_PendingMessage records */
TESMAR_API extern otm_Tree *mpm_count_tree;           /* mpm_CountRecord records */
TESMAR_API extern otm_Tree *mpm_handler_tree;         /* mpm_HandlerRecord records */
TESMAR_API extern otm_Tree *mpm_directive_table;      /* mpm_Directive records */

/* Line writer settings. */
TESMAR_API extern mpm_OutputFunction mpm_output_function; /* fputs unless set */
TESMAR_API extern int32_t mpm_line_width;             /* 80; 0 turns wrapping off */
TESMAR_API extern int32_t mpm_left_indent;            /* 0 */
TESMAR_API extern int32_t mpm_right_margin;           /* 0 */
TESMAR_API extern int32_t mpm_justification;          /* 1 left, 2 right, 3 centred */
TESMAR_API extern int32_t mpm_current_column;         /* characters already on the current line */
TESMAR_API extern int32_t mpm_last_line;              /* 1 while a message's last line is output */

/* ---- Module registry ---- */

/* Copies a module's message table into the registry entry of its id (replacing what was there).
 * Clients register their own modules the same way. NULLPOINTER-free: a null table is ignored. */
TESMAR_API mpm_Status mpm_RegisterModule(uint32_t flags, const mpm_ModuleDesc *desc);

/* Empties all 256 registry entries (done by the library's start-up). */
TESMAR_API mpm_Status mpm_ClearRegistry(uint32_t flags);

/* The registry entry of a module id (0..255), or null when the id is out of range. An entry whose
 * count is 0 is an unregistered module. */
TESMAR_API const mpm_ModuleDesc *mpm_GetModuleDesc(int32_t module_id);

/* ---- Life cycle ---- */

/* Starts the message system (run by tmx_Initialize; a client does not call it): registers MPM's
 * table, sets the output function to fputs when unset, resets the counters, limits and the
 * pending list, makes the handler, directive and name tables anew, and makes stdout and stderr
 * unbuffered. Returns 0. */
TESMAR_API mpm_Status mpm_Initialize(uint32_t flags);

/* Stops the message system (run by tmx_Terminate): closes an open message-text file, discards the
 * pending messages, frees the counters, handlers, directives and the name cache, and closes the
 * log file this module opened. Messages issued afterwards are returned without being kept.
 * Returns 0. */
TESMAR_API mpm_Status mpm_Terminate(uint32_t flags);

/* ---- Issuing ---- */

/* Issues a message: counts it, formats "header + option text + message text" and inserts it at the
 * head of the pending list (MPM_IMMEDIATE: reports it at once instead). Calls the handlers of the
 * row's kind and of the severity. Returns `code`. The arguments are those of the message's text,
 * preceded by an option list when MPM_OPTIONS is set. */
TESMAR_API mpm_Status mpm_IssueMessage(uint32_t flags, mpm_Status code, mpm_Status severity, ...);

/* Issues a message and writes it at once (default stream: stderr), then flushes the pending
 * messages with these flags (or discards them with MPM_DISCARD_PENDING, or leaves them with
 * MPM_KEEP_PENDING). Returns `code`. */
TESMAR_API mpm_Status mpm_ReportMessage(uint32_t flags, mpm_Status code, mpm_Status severity, ...);

/* Reports the caller's text (a message text with its marker) under MPM_USER_DEFINED. Returns
 * MPM_USER_DEFINED. */
TESMAR_API mpm_Status mpm_IssueUserMessage(uint32_t flags, const char *text, mpm_Status severity,
                                           ...);

/* Writes the formatted text of a message, without header and counting, through the line writer
 * (default stream: stdout). Returns 0. */
TESMAR_API mpm_Status mpm_PrintMessage(uint32_t flags, mpm_Status code, ...);

/* Formats the message's text and appends it to the malloc'ed text at *text (allocating it when
 * null). An invalid code appends the text of MPM__INVALIDMESSAGE. MPM_RAW_TEXT appends the stored
 * text without its marker and unformatted. Returns 0. */
TESMAR_API mpm_Status mpm_AppendMessage(uint32_t flags, mpm_Status code, char **text, ...);

/* The same with the arguments taken from `args` (which is advanced). */
TESMAR_API mpm_Status mpm_AppendMessageV(uint32_t flags, mpm_Status code, char **text,
                                         va_list *args);

/* Symbolic name of a code ("OTM_NOTFOUND"), "NOERR" for 0, "UNKNOWN" for an invalid code. The text
 * belongs to the message system and stays valid until mpm_Terminate. */
TESMAR_API const char *mpm_GetMessageName(mpm_Status code);

/* A malloc'ed copy of a message's stored text, marker included (from the message-text file when one
 * is open and replaces it); null when the module or number is not valid. */
TESMAR_API char *mpm_GetMessageText(uint32_t flags, int32_t module_id, int32_t msg_number);

/* Splits a code. MPM__INVALIDMESSAGE (returned, not issued) when the module id is outside 0..255 or
 * the number below 1 or above the module's count; the out values are written in any case. */
TESMAR_API mpm_Status mpm_DecodeStatus(mpm_Status code, int32_t *module_id, int32_t *msg_number);

/* Sets mpm_last_status and mpm_last_severity, as issuing a message would, without issuing
 * anything. Returns 0. */
TESMAR_API mpm_Status mpm_SetLastStatus(uint32_t flags, mpm_Status code, mpm_Status severity);

/* Registers (or replaces, or with a null handler removes) the handler of a key. Returns the
 * handler record, or null when it could not be stored. */
TESMAR_API mpm_HandlerRecord *mpm_SetHandler(uint32_t key, mpm_Handler handler);

/* Calls the key's handler with (key, code) when one is registered. Returns 0. */
TESMAR_API mpm_Status mpm_CallHandler(uint32_t flags, uint32_t key, mpm_Status code);

/* 0 when the code's issued counter already exceeds its limit, or the severity's counter exceeds its
 * severity limit; otherwise 1. Counts nothing. */
TESMAR_API int32_t mpm_CheckLimits(mpm_Status code, mpm_Status severity);

/* Discards the pending messages, empties the count tree and zeroes the severity counters. */
TESMAR_API mpm_Status mpm_ResetCounts(uint32_t flags);

/* Removes every pending message, taking each counted one out of its counters, and clears the last
 * status. Counters never go below 0. */
TESMAR_API mpm_Status mpm_DiscardPending(uint32_t flags);

/* Writes or drops the pending messages by the show flags (MPM_SHOW_ALL: all, newest first;
 * MPM_SHOW_OLDEST: the oldest; MPM_SHOW_NEWEST: the newest) on stderr; dropped ones stay counted.
 * Clears the last status. */
TESMAR_API mpm_Status mpm_FlushPending(uint32_t flags);

/* Opens the log file (UTF-8 name) for writing, unbuffered; a log file the library opened before is
 * closed first. Failure: MPM_OPENERROR with the name, and no log stream. */
TESMAR_API mpm_Status mpm_OpenLogFile(uint32_t flags, const char *file_name);

/* Closes the log file the library opened (0 when none is open). Failure: MPM_CLOSEERROR. */
TESMAR_API mpm_Status mpm_CloseLogFile(uint32_t flags);

/* ---- Message-text file ----
 *
 * A paged file (dof.h) of texts that replace the built-in ones: at offset 0 a table of 256
 * little-endian 32-bit offsets indexed by module id (0xFFFFFFFF: no texts); at a module's offset
 * one 8-byte entry {offset, length} per text index; a text of length 1 or more replaces the
 * built-in text of its index, marker included, provided it takes the same arguments (the same
 * sequence of argument types, however the text is formatted); otherwise, and wherever the file is
 * damaged, the built-in text stays. `tesmar msgfile build` writes such files from a listing. */

/* The open message-text file and its module table. A program that writes texts into the file
 * (opened with MPM_UPDATE_FILE) appends them with dof_AllocateBlock and dof_ReadWrite on this
 * handle and records their entries' offsets in the table, which goes back to the file at close. */
struct DofFile;
TESMAR_API extern struct DofFile *mpm_message_file;
TESMAR_API extern uint32_t mpm_message_modules[256];

/* Opens the message-text file (UTF-8 name); a file already open is closed first. Without
 * MPM_UPDATE_FILE the file is opened read-only. With it, an existing file is opened for update, and
 * a missing one is created with an empty table. Any failure of the paged file, or a table that does
 * not lie inside the file, issues MPM_DOFERROR with the paged file's status and returns
 * MPM_DOFERROR; no file is open then. */
TESMAR_API mpm_Status mpm_OpenMessageFile(uint32_t flags, const char *file_name);

/* Closes the message-text file (0 when none is open). A file opened for update gets its module
 * table written back first. Failure: MPM_DOFERROR with the paged file's status; the file is closed
 * all the same. */
TESMAR_API mpm_Status mpm_CloseMessageFile(uint32_t flags);

/* Compare functions for trees: signed comparison of the first 32-bit field; strcmp of the name
 * field (a record that begins with a 32-byte name). */
TESMAR_API int mpm_CompareCodes(const void *a, const void *b);
TESMAR_API int mpm_CompareInts(const void *a, const void *b);
TESMAR_API int mpm_CompareNames(const void *a, const void *b);

/* ---- Formatting engine and line writer ---- */

/* Replaces the malloc'ed text at *text (which begins with its marker) by its formatted form. The
 * arguments are taken from *args in order. Returns 0. */
TESMAR_API mpm_Status mpm_ExpandDirectives(uint32_t flags, char **text, va_list *args);

/* Expands a format (without marker) with the engine; a malloc'ed text, or null when memory fails. */
TESMAR_API char *mpm_FormatString(uint32_t flags, const char *format, va_list *args);

/* mpm_FormatString, then fputs of the result on the stream (not through the line writer). */
TESMAR_API mpm_Status mpm_Fprintf(FILE *stream, const char *format, ...);
TESMAR_API mpm_Status mpm_Printf(const char *format, ...);

/* The same into the caller's buffer, which must be large enough for the result. */
TESMAR_API mpm_Status mpm_Sprintf(char *buffer, const char *format, ...);

/* The line writer: wraps, indents and justifies the text and hands each line to the output
 * function for `stream` (unless MPM_NO_SCREEN) and the log stream (unless MPM_NO_LOG). Takes
 * ownership of the malloc'ed text. Returns 0. */
TESMAR_API mpm_Status mpm_WriteText(uint32_t flags, FILE *stream, char *text);

TESMAR_EXTERN_C_END

#endif
