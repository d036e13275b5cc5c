/*
 * Export macro of the Tesmar library.
 *
 * Every public function and variable is declared with TESMAR_API; everything else in the library
 * is hidden. Clients only include this header through the module headers.
 */
#ifndef TESMAR_EXPORT_H
#define TESMAR_EXPORT_H

#if defined(TESMAR_BUILDING)
#define TESMAR_API __attribute__((visibility("default")))
#else
#define TESMAR_API
#endif

#ifdef __cplusplus
#define TESMAR_EXTERN_C_BEGIN extern "C" {
#define TESMAR_EXTERN_C_END }
#else
#define TESMAR_EXTERN_C_BEGIN
#define TESMAR_EXTERN_C_END
#endif

#if defined(__cplusplus)
#define TESMAR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TESMAR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#endif
