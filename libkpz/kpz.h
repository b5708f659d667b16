/* SPDX-License-Identifier: BSD-3-Clause */
/* libkpz: compress files into .kpz files, restore them, and read their contents as a
 * stream, from C or any language that calls C. The library writes exactly the bytes the
 * kpz tool writes, through the same per-file steps: an output appears under its final name
 * only when it is complete, and an existing file is replaced only by a complete one.
 *
 * Every call that can fail returns 0 (KPZ_OK) or a negative error code; kpz_strerror gives
 * its text. Where a system call failed, errno holds its reason on return. Separate handles
 * and separate calls may run on separate threads at once. A reader may be read from
 * several threads at once (each read takes the next bytes); other calls on one handle
 * come from one thread at a time. Paths and passwords are NUL-terminated UTF-8 strings. */
#ifndef KPZ_H
#define KPZ_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(KPZ_BUILDING_LIBRARY)
#define KPZ_API __declspec(dllexport)
#elif defined(__GNUC__)
#define KPZ_API __attribute__((visibility("default")))
#else
#define KPZ_API
#endif

/* Error codes. */
enum kpz_error {
    KPZ_OK = 0,
    KPZ_ERROR_ARGUMENT = -1,           /* a required argument is NULL, or the password is "" */
    KPZ_ERROR_NO_MEMORY = -2,          /* the working memory could not be had */
    KPZ_ERROR_OPEN_SOURCE = -3,        /* the source could not be opened (errno says why) */
    KPZ_ERROR_SOURCE_NOT_FILE = -4,    /* the source is a folder, FIFO, device or socket */
    KPZ_ERROR_READ = -5,               /* reading the source failed */
    KPZ_ERROR_TOO_LARGE = -6,          /* the source has 4 GiB or more */
    KPZ_ERROR_NAME_TOO_LONG = -7,      /* the source's name takes more than 255 bytes */
    KPZ_ERROR_SIZE_CHANGED = -8,       /* the source grew or shrank while it was read */
    KPZ_ERROR_NOT_KPZ = -9,            /* the source is not a .kpz file */
    KPZ_ERROR_DAMAGED = -10,           /* the .kpz file is cut short or does not decode */
    KPZ_ERROR_PASSWORD_REQUIRED = -11, /* the file is protected and no password was given */
    KPZ_ERROR_CHECK_MISMATCH = -12,    /* the restored bytes differ from the stored check value:
                                          a wrong password or damaged data */
    KPZ_ERROR_NO_USABLE_NAME = -13,    /* the stored name cannot name a file */
    KPZ_ERROR_SAME_FILE = -14,         /* the output would replace its own source */
    KPZ_ERROR_OUTPUT_NOT_FILE = -15,   /* a folder, FIFO, device or socket is in the way */
    KPZ_ERROR_OUTPUT_EXISTS = -16,     /* a file is in the way and KPZ_REPLACE was not given */
    KPZ_ERROR_CREATE_OUTPUT = -17,     /* the output could not be created (errno says why) */
    KPZ_ERROR_WRITE = -18,             /* writing the output or putting it in place failed */
    KPZ_ERROR_CANCELLED = -19          /* the progress callback asked to stop */
};

/* Flags for kpz_compress_file_ex and kpz_restore_file_ex. */
/* Replace an existing file under the output's name. */
#define KPZ_REPLACE 1u
/* Compressing: store a check value of the source after the payload, so that a restore
 * detects a wrong password or damaged data. */
#define KPZ_CHECK 2u

/* Called after every 512 KiB written, with the bytes done so far (source bytes read when
 * compressing, bytes restored when restoring) and the total. Returning nonzero stops the
 * call, which then returns KPZ_ERROR_CANCELLED and leaves no output behind. */
typedef int (*kpz_progress_callback)(uint64_t done, uint64_t total, void* user_data);

/* The library's version, e.g. "1.32". */
KPZ_API const char* kpz_version_string(void);

/* The text for an error code; never NULL. */
KPZ_API const char* kpz_strerror(int code);

/* Compresses source into destination; a NULL destination means the source's path with its
 * extension replaced by ".kpz". A NULL password means none; only its first 16 characters
 * count. An existing file under the destination is kept (KPZ_ERROR_OUTPUT_EXISTS). */
KPZ_API int kpz_compress_file(const char* source, const char* destination, const char* password);

/* Restores source into destination; a NULL destination means the name stored in the file,
 * in the source's folder. An existing file under the destination is kept. */
KPZ_API int kpz_restore_file(const char* source, const char* destination, const char* password);

/* The same with flags (KPZ_REPLACE, KPZ_CHECK) and an optional progress callback (NULL for none).
 */
KPZ_API int kpz_compress_file_ex(const char* source, const char* destination, const char* password,
                                 unsigned flags, kpz_progress_callback progress, void* user_data);
KPZ_API int kpz_restore_file_ex(const char* source, const char* destination, const char* password,
                                unsigned flags, kpz_progress_callback progress, void* user_data);

/* A .kpz file open for reading its restored bytes in order. */
typedef struct kpz_reader kpz_reader;

/* Opens path and reads its header. On failure returns NULL and stores the error code in
 * *error (when error is not NULL). A protected file needs its password
 * (KPZ_ERROR_PASSWORD_REQUIRED otherwise); a password given for a plain file is ignored. */
KPZ_API kpz_reader* kpz_reader_open(const char* path, const char* password, int* error);

/* The header: the restored size in bytes; the stored name as its raw bytes; the name it
 * restores under (UTF-8, only its name part, "" when it cannot name a file); whether the
 * file is protected by a password; whether it holds a check value of its contents. */
KPZ_API uint64_t kpz_reader_size(const kpz_reader* reader);
KPZ_API const char* kpz_reader_stored_name(const kpz_reader* reader);
KPZ_API const char* kpz_reader_output_name(const kpz_reader* reader);
KPZ_API int kpz_reader_has_password(const kpz_reader* reader);
KPZ_API int kpz_reader_has_check(const kpz_reader* reader);

/* Reads up to size restored bytes into buffer. Returns the bytes read, 0 at the end of a
 * file that decoded completely, or a negative error code (KPZ_ERROR_DAMAGED, ...). A damage
 * found at the end of the file is reported after the bytes before it have been read;
 * after an error every further call returns the same code. */
KPZ_API long kpz_reader_read(kpz_reader* reader, void* buffer, size_t size);

/* Closes the file and frees the reader; NULL is allowed. */
KPZ_API void kpz_reader_close(kpz_reader* reader);

#ifdef __cplusplus
}
#endif

#endif /* KPZ_H */
