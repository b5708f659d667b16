/* SPDX-License-Identifier: BSD-3-Clause */
/* libkpz: compress files into .kpz files, restore them, and read their contents as a
 * stream, from C or any language that calls C. The library works through the same per-file
 * steps as the kpz tool: an output appears under its final name only when it is complete,
 * and an existing file is replaced only by a complete one. It writes the bytes kpz writes
 * with the same choice of check value: the library stores one only when given KPZ_CHECK
 * (as kpz --no-check without it), while kpz stores one unless given --no-check.
 *
 * Every call that can fail returns 0 (KPZ_OK) or a negative error code; kpz_strerror gives
 * its text. Where a system call failed, errno holds its reason on return; otherwise errno
 * is left as the caller had it. Separate handles and separate calls may run on separate
 * threads at once. A reader may be read from several threads at once (each read takes the
 * next bytes); other calls on one handle come from one thread at a time. Paths and
 * passwords are NUL-terminated UTF-8 strings; the library copies what it keeps, and every
 * string it returns belongs to it. A password protects with a 16-bit scrambling code, not
 * with encryption: it keeps out the curious, not an attacker. */
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

/* The library's version, apart from the programs' version. The major number is the
 * SONAME's (libkpz.so.1): it changes only when a call changes incompatibly. The minor
 * number counts additions to the interface, the patch number fixes. */
#define KPZ_VERSION_MAJOR 1
#define KPZ_VERSION_MINOR 2
#define KPZ_VERSION_PATCH 0
/* One number for comparisons: MAJOR * 10000 + MINOR * 100 + PATCH (10100 for 1.1.0). */
#define KPZ_VERSION_NUMBER (KPZ_VERSION_MAJOR * 10000 + KPZ_VERSION_MINOR * 100 + KPZ_VERSION_PATCH)

/* Error codes. */
enum kpz_error {
    KPZ_OK = 0,
    KPZ_ERROR_ARGUMENT = -1, /* a required argument is NULL, the password is "", or
                                flags has a bit this library does not know */
    KPZ_ERROR_INVALID_ARGUMENT = KPZ_ERROR_ARGUMENT, /* the same code, by its longer name */
    KPZ_ERROR_NO_MEMORY = -2,                        /* the working memory could not be had */
    KPZ_ERROR_OPEN_SOURCE = -3,        /* the source could not be opened (errno says why) */
    KPZ_ERROR_SOURCE_NOT_FILE = -4,    /* the source is a folder, FIFO, device or socket */
    KPZ_ERROR_READ = -5,               /* reading the source failed (errno says why when a
                                          system call failed) */
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
    KPZ_ERROR_WRITE = -18,             /* writing the output or putting it in place failed
                                          (errno says why when a system call failed, e.g.
                                          ENOSPC, EFBIG, or EPIPE for a pipe without reader) */
    KPZ_ERROR_CANCELLED = -19,         /* the progress callback asked to stop */
    /* Codes added in 1.1.0. */
    KPZ_ERROR_WRONG_PASSWORD = -20,   /* the file is protected and holds a check value, and the
                                         restore did not match it: the password is wrong (or,
                                         less likely, the data is damaged). The same verdict
                                         whichever way the file comes in: read as a stream,
                                         the file is read to its end for it */
    KPZ_ERROR_BUFFER_TOO_SMALL = -21, /* the caller's buffer cannot hold the result; the size
                                         it needs has been stored */
    KPZ_ERROR_MORE_MEMBERS = -22,     /* the file holds further compressed files after the
                                         first, which the call does not restore (nothing is
                                         written); kpz -d restores them all */
    /* Codes added in 1.2.0. */
    KPZ_ERROR_TEMPORARY_FILE = -23 /* the input of kpz_compress_fd or kpz_compress_callbacks
                                      could not be kept in a temporary file: the folder for
                                      them ($TMPDIR, else /tmp) is missing, not writable or
                                      full (errno says why) */
};

/* Flags for the calls that take them. A bit not defined here makes the call fail with
 * KPZ_ERROR_INVALID_ARGUMENT before it does anything. */
/* Replace an existing file under the output's name. */
#define KPZ_REPLACE 1u
/* Compressing: store a check value of the source after the payload, so that a restore
 * detects a wrong password or damaged data. Ignored when restoring. */
#define KPZ_CHECK 2u
/* Writing a file: give it the mode and times a new file gets (the umask, the current time)
 * instead of copying the source's permission bits and modification time, which is the
 * default. Added in 1.1.0. */
#define KPZ_FRESH_ATTRIBUTES 4u

/* Called as the work goes on, with the bytes done so far (source bytes read when
 * compressing, bytes restored when restoring) and the total: when compressing, once before
 * the first byte and after every 512 KiB written; when restoring, after every 512 KiB and
 * about sixteen times for a file under 8 MiB. The last call reports the total. It runs on
 * the calling thread, never at the same time as another call for the same work.
 * Returning nonzero stops the call, which then returns KPZ_ERROR_CANCELLED and leaves no
 * output behind (what kpz_compress_fd and kpz_compress_callbacks leave is said there). */
typedef int (*kpz_progress_callback)(uint64_t done, uint64_t total, void* user_data);

/* The version of the library loaded at run time, as "MAJOR.MINOR.PATCH" (e.g. "1.1.0"),
 * which may be newer than the header a program was built with. Static string; any thread. */
KPZ_API const char* kpz_version_string(void);

/* The same as a number, as KPZ_VERSION_NUMBER gives it: a program built with a newer header
 * can check that the library has the calls it uses (kpz_version_number() >= 10100).
 * Added in 1.1.0. */
KPZ_API unsigned kpz_version_number(void);

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
 * file is protected by a password; whether it holds a check value of its contents. The
 * check value lies at the file's end: where that cannot be seen before the payload is read
 * (a pipe, callbacks without a seek function, a descriptor not at the start of a regular
 * file), kpz_reader_has_check gives 0 until the end has been read, that is until
 * kpz_reader_read has returned 0 or KPZ_ERROR_WRONG_PASSWORD, and the answer then. */
KPZ_API uint64_t kpz_reader_size(const kpz_reader* reader);
KPZ_API const char* kpz_reader_stored_name(const kpz_reader* reader);
KPZ_API const char* kpz_reader_output_name(const kpz_reader* reader);
KPZ_API int kpz_reader_has_password(const kpz_reader* reader);
KPZ_API int kpz_reader_has_check(const kpz_reader* reader);

/* Reads up to size restored bytes into buffer. Returns the bytes read, 0 at the end of a
 * file that decoded completely, or a negative error code (KPZ_ERROR_DAMAGED,
 * KPZ_ERROR_CHECK_MISMATCH, KPZ_ERROR_WRONG_PASSWORD, ...). A damage found at the end of the
 * file is reported after the bytes before it have been read; after an error every further
 * call returns the same code. A read of size 0 reads nothing and returns 0 (or the error
 * already met): it tells nothing about the end, which only a read of at least one byte
 * that returns 0 reports. Several threads may call it on one reader at once (each gets
 * its own bytes, in turn), but not while another thread closes the reader.
 * The count is a long, which has 32 bits on some systems: a read never returns more than
 * LONG_MAX bytes. */
KPZ_API long kpz_reader_read(kpz_reader* reader, void* buffer, size_t size);

/* The same with a 64-bit count, whatever the system's long. Added in 1.1.0. */
KPZ_API int64_t kpz_reader_read64(kpz_reader* reader, void* buffer, size_t size);

/* Closes the file and frees the reader; NULL is allowed. A decoder still running is
 * stopped first. */
KPZ_API void kpz_reader_close(kpz_reader* reader);

/* ---- Added in 1.1.0: embedding without paths ------------------------------------------- */

/* The caller's own input and output, for programs whose data is not in a file of its own
 * (a network stream, an archive member, a buffer of their own). user_data is passed back
 * unchanged; the library never frees it.
 *
 * kpz_read_callback: stores up to size bytes at buffer and returns how many, 0 at the end
 * of the data, or -1 on an error (the call then fails with KPZ_ERROR_READ). It may return
 * fewer bytes than asked for; it is called again.
 * kpz_write_callback: writes up to size bytes and returns how many (at least 1), or -1 on an
 * error (the call fails with KPZ_ERROR_WRITE). It is called again for the rest.
 * kpz_seek_callback: moves to offset from the start (KPZ_SEEK_SET), the current position
 * (KPZ_SEEK_CUR) or the end (KPZ_SEEK_END) and returns the new position from the start,
 * or -1 when the data cannot seek. */
typedef int64_t (*kpz_read_callback)(void* user_data, void* buffer, size_t size);
typedef int64_t (*kpz_write_callback)(void* user_data, const void* data, size_t size);
typedef int64_t (*kpz_seek_callback)(void* user_data, int64_t offset, int whence);
#define KPZ_SEEK_SET 0
#define KPZ_SEEK_CUR 1
#define KPZ_SEEK_END 2

/* A reader on a descriptor open for reading: a file, a pipe, a socket. The compressed file
 * starts at the descriptor's current position. The library reads through its own copy of
 * the descriptor (so the caller may close fd at once), which shares the position with fd.
 * Otherwise as kpz_reader_open. */
KPZ_API kpz_reader* kpz_reader_open_fd(int fd, const char* password, int* error);

/* A reader on the caller's read function, and seek function when the data can seek (NULL
 * otherwise). The header is read before this returns, on the calling thread; the rest is
 * read by the reader's decoder thread, one call at a time, from the first kpz_reader_read
 * until the end of the data or kpz_reader_close. With a seek function the compressed file
 * starts at the current position, its length is known at once, and a check value at its
 * end is found before the first read. A seek function that answers -1 when asked for the
 * position or the end is taken for none: the data is read as a stream (one that answers -1
 * when asked to come back from the end fails the call with KPZ_ERROR_READ). Otherwise as
 * kpz_reader_open. */
KPZ_API kpz_reader* kpz_reader_open_callbacks(kpz_read_callback read, kpz_seek_callback seek,
                                              void* user_data, const char* password, int* error);

/* The compressed file's size in bytes: known at once for a regular file read from its
 * start and for callbacks with a seek function; for a pipe or callbacks without one, -1
 * until kpz_reader_read has returned 0, and the bytes read then. */
KPZ_API int64_t kpz_reader_compressed_size(const kpz_reader* reader);

/* Members: a .kpz file may hold several compressed files one after the other (kpz -c a b
 * writes two). The library restores files of one member: a reader gives the first
 * member's bytes and then KPZ_ERROR_MORE_MEMBERS instead of the end, and the calls that
 * restore or test a whole file fail with it, so that no caller takes the first member for
 * the whole file. Bytes after the last member that are no member (other data appended to
 * the file) do not fail a restore: once kpz_reader_read has returned 0, this gives their
 * number (0 for most files); before that, or after an error, -1. */
KPZ_API int64_t kpz_reader_bytes_after(const kpz_reader* reader);

/* Compresses everything read from in_fd into out_fd, storing stored_name (UTF-8, its name
 * part counts; "" for none) as the name to restore under. The input may be a pipe: it is
 * kept in an unnamed temporary file first (in $TMPDIR, else /tmp), since the header needs
 * its size; KPZ_ERROR_TEMPORARY_FILE when that fails. Flags: KPZ_CHECK. Neither descriptor
 * is closed; each is used through a copy sharing its position. Errors as
 * kpz_compress_file_ex, and KPZ_ERROR_READ or KPZ_ERROR_WRITE for the descriptors. Progress
 * as for kpz_compress_file_ex, counted once the input has been read.
 * When the call fails (a cancel included) and out_fd is a regular file, what it wrote is
 * taken back: the file is cut back to where the output began (where the descriptor stood,
 * or the file's end when it stood past it or appends) and the descriptor is put back where
 * it stood. A pipe or socket keeps the bytes written before the failure: the beginning of
 * a .kpz file, which every reader refuses as cut short (KPZ_ERROR_DAMAGED).
 * A pipe or socket whose reader has gone fails the call with KPZ_ERROR_WRITE and errno
 * EPIPE: while the call runs, SIGPIPE is blocked on the calling thread (the progress
 * callback runs so too), and one raised by the call's own writes is discarded, so that no
 * caller has to ignore SIGPIPE for the whole program. A SIGPIPE already pending stays. */
KPZ_API int kpz_compress_fd(int in_fd, int out_fd, const char* stored_name, const char* password,
                            unsigned flags, kpz_progress_callback progress, void* user_data);

/* The same through the caller's read and write functions, called on the calling thread
 * with io_data. What the write function has taken before a failure stays with it. */
KPZ_API int kpz_compress_callbacks(kpz_read_callback read, kpz_write_callback write, void* io_data,
                                   const char* stored_name, const char* password, unsigned flags,
                                   kpz_progress_callback progress, void* user_data);

/* The most bytes kpz_compress_buffer can write for size bytes of input, with any name and a
 * check value; 0 when that does not fit in a size_t. */
KPZ_API size_t kpz_compress_bound(size_t size);

/* Compresses size bytes at source into a complete .kpz file at destination, which has
 * capacity bytes of room, storing stored_name. The file's length is stored in *written;
 * when it does not fit, the call returns KPZ_ERROR_BUFFER_TOO_SMALL with the length needed
 * in *written (a NULL destination with capacity 0 asks for it). Flags: KPZ_CHECK. Works in
 * memory only, on the calling thread; the bytes equal those kpz_compress_file writes for
 * the same data and name. */
KPZ_API int kpz_compress_buffer(const void* source, size_t size, const char* stored_name,
                                const char* password, unsigned flags, void* destination,
                                size_t capacity, size_t* written);

/* Restores the .kpz file of size bytes at source into destination (capacity bytes of
 * room) and stores the restored size in *restored; KPZ_ERROR_BUFFER_TOO_SMALL with the
 * size needed in *restored when it does not fit (a NULL destination with capacity 0 asks
 * for it without decoding). Errors as kpz_reader_read; on an error the destination's
 * contents are unspecified. */
KPZ_API int kpz_restore_buffer(const void* source, size_t size, const char* password,
                               void* destination, size_t capacity, size_t* restored);

/* Decodes the file at path completely and writes nothing: KPZ_OK when it restores (and
 * matches its check value when it has one), otherwise the error a restore would give. */
KPZ_API int kpz_test_file(const char* path, const char* password, kpz_progress_callback progress,
                          void* user_data);

#ifdef __cplusplus
}
#endif

#endif /* KPZ_H */
