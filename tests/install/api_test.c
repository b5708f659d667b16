/* SPDX-License-Identifier: BSD-3-Clause */
/* libkpz as another program uses it: built against the installed header and library only.
 * Usage: api_test KPZ_TOOL WORK_DIR VERSION
 * KPZ_TOOL is the installed kpz, whose outputs the library's must equal byte for byte. */
#define _POSIX_C_SOURCE 200809L
#include <kpz.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: %s (case %s)\n", __FILE__, __LINE__, #cond, current);          \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)
#define CHECK_CODE(got, want)                                                                      \
    do {                                                                                           \
        int got_ = (got);                                                                          \
        if (got_ != (want)) {                                                                      \
            fprintf(stderr, "%s:%d: %s gave %d (%s), expected %s (case %s)\n", __FILE__, __LINE__, \
                    #got, got_, kpz_strerror(got_), #want, current);                               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static const char* current = "";
static const char* work;

static char* path_of(const char* name) {
    static char paths[8][4096];
    static int next = 0;
    char* p = paths[next++ % 8];
    snprintf(p, 4096, "%s/%s", work, name);
    return p;
}

typedef struct {
    unsigned char* data;
    size_t size;
} bytes;

static bytes read_all(const char* path) {
    bytes b = {NULL, 0};
    FILE* f = fopen(path, "rb");
    if (!f) return b;
    size_t cap = 1 << 16;
    b.data = malloc(cap);
    size_t n;
    while ((n = fread(b.data + b.size, 1, cap - b.size, f)) > 0) {
        b.size += n;
        if (b.size == cap) b.data = realloc(b.data, cap *= 2);
    }
    fclose(f);
    return b;
}

static int same_contents(const char* a, const char* b) {
    bytes x = read_all(a), y = read_all(b);
    int same = x.data && y.data && x.size == y.size && memcmp(x.data, y.data, x.size) == 0;
    free(x.data);
    free(y.data);
    return same;
}

static int exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

/* Audio-like bytes: two slow waves with noise, plus a tail of pure noise, so both small
 * and wide residuals occur. */
static void write_source(const char* path, size_t size, unsigned seed) {
    FILE* f = fopen(path, "wb");
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        int wave = (int)((i / 4) % 200) - 100;
        unsigned char c =
            (unsigned char)(i < size * 3 / 4 ? (wave + (int)(state >> 29)) : (int)(state >> 24));
        fputc(c, f);
    }
    fclose(f);
}

static int run_tool(const char* tool, const char* password, const char* args) {
    if (password)
        setenv("KPZ_PASSWORD", password, 1);
    else
        unsetenv("KPZ_PASSWORD");
    char command[16384];
    snprintf(command, sizeof command, "'%s' -q %s", tool, args);
    int status = system(command);
    unsetenv("KPZ_PASSWORD");
    return status;
}

/* Reads the whole file through a reader in pieces of step bytes, with kpz_reader_read or,
 * when step is odd, kpz_reader_read64. */
static int stream_equals(const char* kpz, const char* password, const char* original, size_t step) {
    int error = 1;
    kpz_reader* r = kpz_reader_open(kpz, password, &error);
    CHECK_CODE(error, KPZ_OK);
    if (!r) return 0;
    bytes want = read_all(original);
    CHECK(kpz_reader_size(r) == want.size);
    unsigned char* got = malloc(want.size + step + 1);
    size_t have = 0;
    int64_t n;
    while ((n = step % 2 ? kpz_reader_read64(r, got + have, step)
                         : kpz_reader_read(r, got + have, step)) > 0)
        have += (size_t)n;
    CHECK_CODE((int)n, 0);
    int same = have == want.size && memcmp(got, want.data, have) == 0;
    kpz_reader_close(r);
    free(got);
    free(want.data);
    return same;
}

struct progress_seen {
    int calls;
    int stop_at;
    uint64_t last_done, total;
    int decreasing;
};

static int on_progress(uint64_t done, uint64_t total, void* user) {
    struct progress_seen* p = user;
    if (done < p->last_done || done > total) p->decreasing = 1;
    p->last_done = done;
    p->total = total;
    return ++p->calls == p->stop_at;
}

/* Bytes in memory behind the read, write and seek callbacks: reads come from data, writes
 * go to out. */
struct memory_io {
    unsigned char* data;
    size_t size, position;
    size_t most; /* the most bytes one read or write takes, to exercise short ones */
    unsigned char* out;
    size_t out_size, out_capacity;
};

static int64_t memory_read(void* user, void* buffer, size_t size) {
    struct memory_io* m = user;
    size_t n = m->size - m->position;
    if (n > size) n = size;
    if (m->most && n > m->most) n = m->most;
    memcpy(buffer, m->data + m->position, n);
    m->position += n;
    return (int64_t)n;
}

static int64_t memory_write(void* user, const void* data, size_t size) {
    struct memory_io* m = user;
    if (m->most && size > m->most) size = m->most;
    if (m->out_size + size > m->out_capacity) {
        m->out_capacity = (m->out_size + size) * 2;
        m->out = realloc(m->out, m->out_capacity);
    }
    memcpy(m->out + m->out_size, data, size);
    m->out_size += size;
    return (int64_t)size;
}

static int64_t failing_write(void* user, const void* data, size_t size) {
    (void)user, (void)data, (void)size;
    return -1;
}

static int64_t memory_seek(void* user, int64_t offset, int whence) {
    struct memory_io* m = user;
    int64_t base = whence == KPZ_SEEK_SET   ? 0
                   : whence == KPZ_SEEK_CUR ? (int64_t)m->position
                                            : (int64_t)m->size;
    if (base + offset < 0 || base + offset > (int64_t)m->size) return -1;
    m->position = (size_t)(base + offset);
    return (int64_t)m->position;
}

/* A pipe whose writing end a child process fills with the file at path, then closes. */
static int pipe_from(const char* path, pid_t* child) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    *child = fork();
    if (*child == 0) {
        close(fds[0]);
        bytes b = read_all(path);
        size_t done = 0;
        while (done < b.size) {
            ssize_t n = write(fds[1], b.data + done, b.size - done > 1000 ? 1000 : b.size - done);
            if (n <= 0) _exit(1);
            done += (size_t)n;
        }
        _exit(0);
    }
    close(fds[1]);
    return fds[0];
}

/* Reads a reader to its end; 1 when it gave exactly the bytes of the file at original. */
/* Whether the reader gives the original's bytes and then end, the code given. */
static int reader_ends_with(kpz_reader* r, const char* original, int64_t end) {
    bytes want = read_all(original);
    unsigned char* got = malloc(want.size + 4096);
    size_t have = 0;
    int64_t n;
    while ((n = kpz_reader_read64(r, got + have, 4096)) > 0)
        have += (size_t)n;
    int same = n == end && have == want.size && memcmp(got, want.data, have) == 0;
    free(got);
    free(want.data);
    return same;
}

static int reader_equals(kpz_reader* r, const char* original) {
    return reader_ends_with(r, original, 0);
}

static int bytes_equal_file(const unsigned char* data, size_t size, const char* path) {
    bytes b = read_all(path);
    int same = b.data && b.size == size && memcmp(b.data, data, size) == 0;
    free(b.data);
    return same;
}

/* The last error code this test knows. */
#define KPZ_ERROR_LAST KPZ_ERROR_TEMPORARY_FILE

struct shared_reader {
    kpz_reader* reader;
    uint64_t total;
    int failed;
};

static void* read_shared(void* arg) {
    struct shared_reader* shared = arg;
    unsigned char buffer[3000];
    int64_t n;
    uint64_t mine = 0;
    while ((n = kpz_reader_read64(shared->reader, buffer, sizeof buffer)) > 0)
        mine += (uint64_t)n;
    __atomic_add_fetch(&shared->total, mine, __ATOMIC_SEQ_CST);
    if (n < 0) __atomic_add_fetch(&shared->failed, 1, __ATOMIC_SEQ_CST);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: api_test KPZ_TOOL WORK_DIR VERSION\n");
        return 2;
    }
    const char* tool = argv[1];
    work = argv[2];
    /* The library's own version, the same in the header, the library and the build. */
    CHECK(strcmp(kpz_version_string(), argv[3]) == 0);
    CHECK(kpz_version_number() == KPZ_VERSION_NUMBER);
    {
        char text[32];
        snprintf(text, sizeof text, "%d.%d.%d", KPZ_VERSION_MAJOR, KPZ_VERSION_MINOR,
                 KPZ_VERSION_PATCH);
        CHECK(strcmp(kpz_version_string(), text) == 0);
    }

    /* Round trips against the tool: same bytes out, the source back by both ways of
     * restoring. Sizes around block and buffer edges. */
    static const struct {
        const char* name;
        size_t size;
        const char* password;
    } cases[] = {
        {"empty.wav", 0, NULL},
        {"one.raw", 1, NULL},
        {"odd.wav", 64 * 1024 + 3, NULL},
        {"two-chunks.wav", 2 * 524288 + 77, NULL},
        {"locked.wav", 300001, "s3cret pass"},
        {"umlaut.wav", 4099,
         "gr\xc3\xbc\xc3\x9f"
         "e-und-mehr-als-sechzehn"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        current = cases[i].name;
        char* source = path_of(cases[i].name);
        write_source(source, cases[i].size, (unsigned)i);
        char kpz_name[512], tool_dir[512], cmd[8192];
        snprintf(kpz_name, sizeof kpz_name, "lib-%s.kpz", cases[i].name);
        char* ours = path_of(kpz_name);
        CHECK_CODE(kpz_compress_file(source, ours, cases[i].password), KPZ_OK);

        snprintf(tool_dir, sizeof tool_dir, "%s/tool-%zu", work, i);
        mkdir(tool_dir, 0700);
        snprintf(cmd, sizeof cmd, "--no-check -o '%s' '%s'", tool_dir, source);
        CHECK(run_tool(tool, cases[i].password, cmd) == 0);
        char theirs[4096], stem[512];
        snprintf(stem, sizeof stem, "%s", cases[i].name);
        char* dot = strrchr(stem, '.');
        if (dot) *dot = 0;
        snprintf(theirs, sizeof theirs, "%s/%s.kpz", tool_dir, stem);
        CHECK(same_contents(ours, theirs));

        /* Restore beside the .kpz under the stored name, into the tool's folder. */
        CHECK_CODE(kpz_restore_file(theirs, NULL, cases[i].password), KPZ_OK);
        char restored[4096];
        snprintf(restored, sizeof restored, "%s/%s", tool_dir, cases[i].name);
        CHECK(same_contents(restored, source));

        CHECK(stream_equals(ours, cases[i].password, source, 777));
        CHECK(stream_equals(ours, cases[i].password, source, 1 << 20));
        CHECK(stream_equals(ours, cases[i].password, source, (1 << 20) + 1));

        kpz_reader* r = kpz_reader_open(ours, cases[i].password, NULL);
        CHECK(r != NULL);
        if (r) {
            CHECK(strcmp(kpz_reader_stored_name(r), cases[i].name) == 0);
            CHECK(strcmp(kpz_reader_output_name(r), cases[i].name) == 0);
            CHECK(kpz_reader_has_password(r) == (cases[i].password != NULL));
            CHECK(kpz_reader_has_check(r) == 0);
            kpz_reader_close(r);
        }
        if (cases[i].password) {
            int error = 0;
            CHECK(kpz_reader_open(ours, NULL, &error) == NULL);
            CHECK_CODE(error, KPZ_ERROR_PASSWORD_REQUIRED);
            CHECK_CODE(kpz_restore_file(ours, path_of("never"), NULL), KPZ_ERROR_PASSWORD_REQUIRED);
            CHECK(!exists(path_of("never")));
        }
    }

    /* A file cut short anywhere is an error in every way of reading it, and a failed
     * restore leaves nothing. */
    current = "damaged";
    {
        bytes whole = read_all(path_of("lib-odd.wav.kpz"));
        static const size_t cut[] = {1, 2, 3, 700, 20000};
        for (size_t i = 0; i < sizeof cut / sizeof cut[0]; ++i) {
            char* damaged = path_of("damaged.kpz");
            FILE* f = fopen(damaged, "wb");
            fwrite(whole.data, 1, whole.size - cut[i], f);
            fclose(f);
            int code = kpz_restore_file(damaged, path_of("damaged.out"), NULL);
            CHECK(code == KPZ_ERROR_DAMAGED);
            CHECK(!exists(path_of("damaged.out")));

            int error = 0;
            kpz_reader* r = kpz_reader_open(damaged, NULL, &error);
            long n = 0;
            if (r) {
                unsigned char buffer[4096];
                while ((n = kpz_reader_read(r, buffer, sizeof buffer)) > 0) {
                }
                CHECK(kpz_reader_read(r, buffer, sizeof buffer) == n);
                kpz_reader_close(r);
            }
            /* Refused at the header or when the payload runs out. */
            CHECK((r == NULL && error == KPZ_ERROR_DAMAGED) || n == KPZ_ERROR_DAMAGED);
        }
        free(whole.data);
    }

    current = "not a kpz file";
    {
        int error = 0;
        CHECK(kpz_reader_open(path_of("odd.wav"), NULL, &error) == NULL);
        CHECK_CODE(error, KPZ_ERROR_NOT_KPZ);
        CHECK_CODE(kpz_restore_file(path_of("odd.wav"), path_of("x.out"), NULL), KPZ_ERROR_NOT_KPZ);
        CHECK_CODE(kpz_compress_file(path_of("no-such-file"), NULL, NULL), KPZ_ERROR_OPEN_SOURCE);
        CHECK(errno == ENOENT);
        CHECK_CODE(kpz_compress_file(work, path_of("x.kpz"), NULL), KPZ_ERROR_SOURCE_NOT_FILE);
        CHECK_CODE(kpz_compress_file(NULL, NULL, NULL), KPZ_ERROR_ARGUMENT);
        CHECK_CODE(kpz_compress_file(path_of("odd.wav"), NULL, ""), KPZ_ERROR_ARGUMENT);
        CHECK(kpz_reader_read(NULL, NULL, 0) == KPZ_ERROR_ARGUMENT);
        kpz_reader_close(NULL);
    }

    /* An existing output is kept unless KPZ_REPLACE is given; an output over its own source
     * is refused either way. */
    current = "existing output";
    {
        char* keep = path_of("kept.kpz");
        FILE* f = fopen(keep, "wb");
        fputs("mine", f);
        fclose(f);
        CHECK_CODE(kpz_compress_file(path_of("odd.wav"), keep, NULL), KPZ_ERROR_OUTPUT_EXISTS);
        bytes b = read_all(keep);
        CHECK(b.size == 4 && memcmp(b.data, "mine", 4) == 0);
        free(b.data);
        CHECK_CODE(kpz_compress_file_ex(path_of("odd.wav"), keep, NULL, KPZ_REPLACE, NULL, NULL),
                   KPZ_OK);
        CHECK(same_contents(keep, path_of("lib-odd.wav.kpz")));
        CHECK_CODE(kpz_compress_file_ex(keep, keep, NULL, KPZ_REPLACE, NULL, NULL),
                   KPZ_ERROR_SAME_FILE);
        CHECK_CODE(kpz_restore_file(keep, path_of("odd.wav"), NULL), KPZ_ERROR_OUTPUT_EXISTS);
    }

    /* Progress counts up to the total; a nonzero answer stops the call and leaves no
     * output. */
    current = "progress";
    {
        struct progress_seen seen = {0, 0, 0, 0, 0};
        CHECK_CODE(kpz_compress_file_ex(path_of("two-chunks.wav"), path_of("p.kpz"), NULL, 0,
                                        on_progress, &seen),
                   KPZ_OK);
        CHECK(seen.calls >= 2 && !seen.decreasing && seen.total == 2 * 524288 + 77);
        CHECK(seen.last_done == seen.total);

        struct progress_seen restore = {0, 0, 0, 0, 0};
        CHECK_CODE(
            kpz_restore_file_ex(path_of("p.kpz"), path_of("p.out"), NULL, 0, on_progress, &restore),
            KPZ_OK);
        CHECK(restore.calls >= 2 && !restore.decreasing && restore.last_done == restore.total);

        /* A file of a few KiB reports more than its end: its start when compressing, and
         * several pieces when restoring. */
        struct progress_seen small = {0, 0, 0, 0, 0};
        CHECK_CODE(kpz_compress_file_ex(path_of("umlaut.wav"), path_of("small.kpz"), NULL, 0,
                                        on_progress, &small),
                   KPZ_OK);
        CHECK(small.calls >= 2 && !small.decreasing && small.last_done == 4099);
        struct progress_seen small_restore = {0, 0, 0, 0, 0};
        CHECK_CODE(kpz_restore_file_ex(path_of("small.kpz"), path_of("small.out"), NULL, 0,
                                       on_progress, &small_restore),
                   KPZ_OK);
        CHECK(small_restore.calls >= 4 && !small_restore.decreasing &&
              small_restore.last_done == 4099);
        CHECK(same_contents(path_of("small.out"), path_of("umlaut.wav")));

        struct progress_seen stop = {0, 1, 0, 0, 0};
        CHECK_CODE(kpz_compress_file_ex(path_of("two-chunks.wav"), path_of("stopped.kpz"), NULL, 0,
                                        on_progress, &stop),
                   KPZ_ERROR_CANCELLED);
        CHECK(!exists(path_of("stopped.kpz")));
        struct progress_seen stop2 = {0, 1, 0, 0, 0};
        CHECK_CODE(kpz_restore_file_ex(path_of("p.kpz"), path_of("stopped.out"), NULL, 0,
                                       on_progress, &stop2),
                   KPZ_ERROR_CANCELLED);
        CHECK(!exists(path_of("stopped.out")));
    }

    /* A reader closed half way through stops its decoder. */
    current = "early close";
    {
        kpz_reader* r = kpz_reader_open(path_of("p.kpz"), NULL, NULL);
        unsigned char buffer[1000];
        CHECK(r && kpz_reader_read(r, buffer, sizeof buffer) == (long)sizeof buffer);
        kpz_reader_close(r);
    }

    /* With a check value, a wrong password is an error, not wrong bytes. */
    current = "check value";
    {
        char checked[4096];
        snprintf(checked, sizeof checked, "%s", path_of("checked.kpz"));
        CHECK_CODE(
            kpz_compress_file_ex(path_of("odd.wav"), checked, "right", KPZ_CHECK, NULL, NULL),
            KPZ_OK);
        char tool_dir[2048], cmd[8192], theirs[4096];
        snprintf(tool_dir, sizeof tool_dir, "%s/tool-check", work);
        mkdir(tool_dir, 0700);
        snprintf(cmd, sizeof cmd, "--check -o '%s' '%s'", tool_dir, path_of("odd.wav"));
        CHECK(run_tool(tool, "right", cmd) == 0);
        snprintf(theirs, sizeof theirs, "%s/odd.kpz", tool_dir);
        CHECK(same_contents(checked, theirs));

        kpz_reader* r = kpz_reader_open(checked, "right", NULL);
        CHECK(r && kpz_reader_has_check(r) == 1);
        kpz_reader_close(r);
        CHECK(stream_equals(checked, "right", path_of("odd.wav"), 4096));
        /* Wrong passwords scramble the payload differently: some make it undecodable,
         * others decode to other bytes; the check value shows both as a wrong password. */
        static const char* const wrong[] = {"wrong", "righ", "rigth", "x", "another password"};
        for (size_t i = 0; i < sizeof wrong / sizeof wrong[0]; ++i) {
            CHECK_CODE(kpz_restore_file(checked, path_of("wrong.out"), wrong[i]),
                       KPZ_ERROR_WRONG_PASSWORD);
            CHECK(!exists(path_of("wrong.out")));
            r = kpz_reader_open(checked, wrong[i], NULL);
            int64_t n = 0;
            if (r) {
                unsigned char buffer[4096];
                while ((n = kpz_reader_read64(r, buffer, sizeof buffer)) > 0) {
                }
                kpz_reader_close(r);
            }
            CHECK_CODE((int)n, KPZ_ERROR_WRONG_PASSWORD);
        }
        /* Without a password the same mismatch is damage. */
        char* plain = path_of("checked-plain.kpz");
        CHECK_CODE(kpz_compress_file_ex(path_of("odd.wav"), plain, NULL, KPZ_CHECK, NULL, NULL),
                   KPZ_OK);
        bytes b = read_all(plain);
        b.data[b.size - 3] ^= 0x40; /* inside the stored check value */
        FILE* f = fopen(plain, "wb");
        fwrite(b.data, 1, b.size, f);
        fclose(f);
        free(b.data);
        CHECK_CODE(kpz_restore_file(plain, path_of("plain.out"), NULL), KPZ_ERROR_CHECK_MISMATCH);
        CHECK(!exists(path_of("plain.out")));
    }

    /* Flags this library does not know are refused before anything happens; errno stays as
     * the caller left it unless a system call failed. */
    current = "contract";
    {
        static const unsigned unknown[] = {0x8u, 0x80u, 0x80000000u};
        for (size_t i = 0; i < sizeof unknown / sizeof unknown[0]; ++i) {
            CHECK_CODE(kpz_compress_file_ex(path_of("odd.wav"), path_of("flags.kpz"), NULL,
                                            unknown[i], NULL, NULL),
                       KPZ_ERROR_INVALID_ARGUMENT);
            CHECK(!exists(path_of("flags.kpz")));
            CHECK_CODE(kpz_restore_file_ex(path_of("p.kpz"), path_of("flags.out"), NULL,
                                           unknown[i] | KPZ_REPLACE, NULL, NULL),
                       KPZ_ERROR_INVALID_ARGUMENT);
            CHECK(!exists(path_of("flags.out")));
        }
        CHECK(KPZ_ERROR_INVALID_ARGUMENT == KPZ_ERROR_ARGUMENT);

        FILE* f = fopen(path_of("cut.kpz"), "wb");
        bytes whole = read_all(path_of("p.kpz"));
        fwrite(whole.data, 1, whole.size / 2, f);
        fclose(f);
        free(whole.data);
        errno = EDOM;
        CHECK_CODE(kpz_restore_file(path_of("cut.kpz"), path_of("cut.out"), NULL),
                   KPZ_ERROR_DAMAGED);
        CHECK(errno == EDOM);
        struct progress_seen stop = {0, 1, 0, 0, 0};
        errno = EDOM;
        CHECK_CODE(kpz_restore_file_ex(path_of("p.kpz"), path_of("stopped.out"), NULL, 0,
                                       on_progress, &stop),
                   KPZ_ERROR_CANCELLED);
        CHECK(errno == EDOM);
        errno = EDOM;
        CHECK_CODE(kpz_restore_file(path_of("p.kpz"), path_of("ok.out"), NULL), KPZ_OK);
        CHECK(errno == EDOM);
        errno = EDOM;
        kpz_reader* r = kpz_reader_open(path_of("cut.kpz"), NULL, NULL);
        unsigned char buffer[4096];
        int64_t n = 0;
        while (r && (n = kpz_reader_read64(r, buffer, sizeof buffer)) > 0) {
        }
        kpz_reader_close(r);
        CHECK(n == KPZ_ERROR_DAMAGED && errno == EDOM);
        errno = EDOM;
        CHECK_CODE(kpz_restore_file(path_of("no-such.kpz"), path_of("x.out"), NULL),
                   KPZ_ERROR_OPEN_SOURCE);
        CHECK(errno == ENOENT);
    }

    /* Mode and times: copied from the source by default, a new file's with
     * KPZ_FRESH_ATTRIBUTES. */
    current = "attributes";
    {
        char* old = path_of("old.wav");
        write_source(old, 5000, 9);
        chmod(old, 0640);
        struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
        utimes(old, times);
        struct stat st;
        CHECK_CODE(kpz_compress_file(old, path_of("old-copied.kpz"), NULL), KPZ_OK);
        CHECK(stat(path_of("old-copied.kpz"), &st) == 0 && st.st_mtime == 1000000000 &&
              (st.st_mode & 0777) == 0640);
        CHECK_CODE(kpz_compress_file_ex(old, path_of("old-fresh.kpz"), NULL, KPZ_FRESH_ATTRIBUTES,
                                        NULL, NULL),
                   KPZ_OK);
        CHECK(stat(path_of("old-fresh.kpz"), &st) == 0 && st.st_mtime > time(NULL) - 3600);
        CHECK_CODE(kpz_restore_file_ex(path_of("old-copied.kpz"), path_of("old-fresh.wav"), NULL,
                                       KPZ_FRESH_ATTRIBUTES, NULL, NULL),
                   KPZ_OK);
        CHECK(stat(path_of("old-fresh.wav"), &st) == 0 && st.st_mtime > time(NULL) - 3600);
        CHECK(same_contents(path_of("old-fresh.wav"), old));
    }

    /* Threads that make the first read of one reader at the same moment: the decoder
     * starts once, and the pieces they get make up the file, each byte once. */
    current = "threads";
    for (int round = 0; round < 20; ++round) {
        struct shared_reader shared;
        memset(&shared, 0, sizeof shared);
        shared.reader = kpz_reader_open(path_of("p.kpz"), NULL, NULL);
        CHECK(shared.reader != NULL);
        if (!shared.reader) break;
        pthread_t threads[4];
        for (int t = 0; t < 4; ++t)
            pthread_create(&threads[t], NULL, read_shared, &shared);
        for (int t = 0; t < 4; ++t)
            pthread_join(threads[t], NULL);
        CHECK(shared.total == 2 * 524288 + 77 && shared.failed == 0);
        kpz_reader_close(shared.reader);
    }

    /* A descriptor, a pipe and the caller's functions give the same bytes as a path. */
    current = "descriptors and callbacks";
    {
        char kpz[4096], original[4096], checked[4096];
        snprintf(kpz, sizeof kpz, "%s", path_of("lib-two-chunks.wav.kpz"));
        snprintf(original, sizeof original, "%s", path_of("two-chunks.wav"));
        snprintf(checked, sizeof checked, "%s", path_of("checked.kpz"));
        bytes file = read_all(kpz);

        int fd = open(kpz, O_RDONLY);
        int error = 1;
        kpz_reader* r = kpz_reader_open_fd(fd, NULL, &error);
        close(fd); /* the reader keeps its own copy */
        CHECK_CODE(error, KPZ_OK);
        CHECK(r && kpz_reader_compressed_size(r) == (int64_t)file.size);
        CHECK(r && reader_equals(r, original));
        CHECK(r && kpz_reader_bytes_after(r) == 0);
        kpz_reader_close(r);

        pid_t child;
        fd = pipe_from(kpz, &child);
        r = kpz_reader_open_fd(fd, NULL, &error);
        CHECK_CODE(error, KPZ_OK);
        CHECK(r && kpz_reader_compressed_size(r) == -1 && kpz_reader_bytes_after(r) == -1);
        CHECK(r && reader_equals(r, original));
        CHECK(r && kpz_reader_compressed_size(r) == (int64_t)file.size);
        kpz_reader_close(r);
        close(fd);
        waitpid(child, NULL, 0);

        /* With and without seeking, in short reads. */
        for (int seekable = 0; seekable < 2; ++seekable) {
            struct memory_io in = {file.data, file.size, 0, 333, NULL, 0, 0};
            r = kpz_reader_open_callbacks(memory_read, seekable ? memory_seek : NULL, &in, NULL,
                                          &error);
            CHECK_CODE(error, KPZ_OK);
            CHECK(r && kpz_reader_compressed_size(r) == (seekable ? (int64_t)file.size : -1));
            CHECK(r && reader_equals(r, original));
            CHECK(r && kpz_reader_compressed_size(r) == (int64_t)file.size);
            kpz_reader_close(r);
        }

        /* A check value is seen at once where the data can seek, and after the end
         * otherwise; a wrong password gets the same verdict either way. */
        bytes c = read_all(checked);
        for (int seekable = 0; seekable < 2; ++seekable) {
            struct memory_io in = {c.data, c.size, 0, 0, NULL, 0, 0};
            r = kpz_reader_open_callbacks(memory_read, seekable ? memory_seek : NULL, &in, "right",
                                          &error);
            CHECK(r && kpz_reader_has_check(r) == seekable);
            CHECK(r && reader_equals(r, path_of("odd.wav")));
            CHECK(r && kpz_reader_has_check(r) == 1);
            kpz_reader_close(r);
            in.position = 0;
            r = kpz_reader_open_callbacks(memory_read, seekable ? memory_seek : NULL, &in, "wrong",
                                          &error);
            unsigned char buffer[4096];
            int64_t n = 0;
            while (r && (n = kpz_reader_read64(r, buffer, sizeof buffer)) > 0) {
            }
            kpz_reader_close(r);
            CHECK_CODE((int)n, KPZ_ERROR_WRONG_PASSWORD);
        }
        free(c.data);

        /* Members: a second file after the first is never taken for the end of the file:
         * every call that restores or tests the whole file fails and writes nothing. Other
         * bytes appended to a file are counted and do not fail it. */
        bytes one = read_all(path_of("lib-odd.wav.kpz"));
        FILE* f = fopen(path_of("two-members.kpz"), "wb");
        fwrite(one.data, 1, one.size, f);
        fwrite(file.data, 1, file.size, f);
        fclose(f);
        r = kpz_reader_open(path_of("two-members.kpz"), NULL, &error);
        CHECK(r && reader_ends_with(r, path_of("odd.wav"), KPZ_ERROR_MORE_MEMBERS));
        CHECK(r && kpz_reader_bytes_after(r) == -1);
        kpz_reader_close(r);
        CHECK_CODE(kpz_restore_file(path_of("two-members.kpz"), path_of("members.out"), NULL),
                   KPZ_ERROR_MORE_MEMBERS);
        CHECK(!exists(path_of("members.out")));
        CHECK_CODE(kpz_test_file(path_of("two-members.kpz"), NULL, NULL, NULL),
                   KPZ_ERROR_MORE_MEMBERS);
        bytes both = read_all(path_of("two-members.kpz"));
        unsigned char* room = malloc(one.size * 8 + 4096);
        size_t restored = 0;
        CHECK_CODE(
            kpz_restore_buffer(both.data, both.size, NULL, room, one.size * 8 + 4096, &restored),
            KPZ_ERROR_MORE_MEMBERS);
        free(room);
        free(both.data);
        f = fopen(path_of("appended.kpz"), "wb");
        fwrite(one.data, 1, one.size, f);
        fwrite("tail", 1, 4, f);
        fclose(f);
        r = kpz_reader_open(path_of("appended.kpz"), NULL, &error);
        CHECK(r && reader_equals(r, path_of("odd.wav")));
        CHECK(r && kpz_reader_bytes_after(r) == 4);
        CHECK(r && kpz_reader_compressed_size(r) == (int64_t)one.size + 4);
        kpz_reader_close(r);
        free(one.data);
        free(file.data);

        /* Not a .kpz file, and a cut one, through callbacks. */
        bytes wav = read_all(original);
        struct memory_io in = {wav.data, wav.size, 0, 0, NULL, 0, 0};
        CHECK(kpz_reader_open_callbacks(memory_read, memory_seek, &in, NULL, &error) == NULL);
        CHECK_CODE(error, KPZ_ERROR_NOT_KPZ);
        free(wav.data);
        CHECK(kpz_reader_open_callbacks(NULL, NULL, NULL, NULL, &error) == NULL);
        CHECK_CODE(error, KPZ_ERROR_INVALID_ARGUMENT);
        CHECK(kpz_reader_open_fd(-1, NULL, &error) == NULL);
        CHECK_CODE(error, KPZ_ERROR_INVALID_ARGUMENT);
    }

    /* Compressing from a pipe and through callbacks writes what compressing the file does,
     * with the name given. */
    current = "compress streams";
    {
        char original[4096], expected[4096];
        snprintf(original, sizeof original, "%s", path_of("odd.wav"));
        snprintf(expected, sizeof expected, "%s", path_of("lib-odd.wav.kpz"));
        pid_t child;
        int in = pipe_from(original, &child);
        int out = open(path_of("from-pipe.kpz"), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        CHECK_CODE(kpz_compress_fd(in, out, "odd.wav", NULL, 0, NULL, NULL), KPZ_OK);
        close(in);
        close(out);
        waitpid(child, NULL, 0);
        CHECK(same_contents(path_of("from-pipe.kpz"), expected));

        bytes wav = read_all(original);
        struct memory_io io = {wav.data, wav.size, 0, 1000, NULL, 0, 0};
        struct progress_seen seen = {0, 0, 0, 0, 0};
        CHECK_CODE(kpz_compress_callbacks(memory_read, memory_write, &io, "odd.wav", NULL, 0,
                                          on_progress, &seen),
                   KPZ_OK);
        CHECK(bytes_equal_file(io.out, io.out_size, expected));
        CHECK(seen.calls >= 2 && seen.last_done == wav.size);
        free(io.out);

        io = (struct memory_io){wav.data, wav.size, 0, 0, NULL, 0, 0};
        CHECK_CODE(kpz_compress_callbacks(memory_read, memory_write, &io, "odd.wav", "right",
                                          KPZ_CHECK, NULL, NULL),
                   KPZ_OK);
        CHECK(bytes_equal_file(io.out, io.out_size, path_of("checked.kpz")));
        free(io.out);

        io = (struct memory_io){wav.data, wav.size, 0, 0, NULL, 0, 0};
        CHECK_CODE(
            kpz_compress_callbacks(memory_read, failing_write, &io, "odd.wav", NULL, 0, NULL, NULL),
            KPZ_ERROR_WRITE);
        CHECK_CODE(kpz_compress_fd(-1, 1, "x", NULL, 0, NULL, NULL), KPZ_ERROR_INVALID_ARGUMENT);
        CHECK_CODE(kpz_compress_callbacks(memory_read, NULL, &io, "x", NULL, 0, NULL, NULL),
                   KPZ_ERROR_INVALID_ARGUMENT);
        CHECK_CODE(
            kpz_compress_callbacks(memory_read, memory_write, &io, NULL, NULL, 0, NULL, NULL),
            KPZ_ERROR_INVALID_ARGUMENT);
        free(wav.data);
    }

    /* Whole files in memory: the same bytes as the file calls, and buffers too small. */
    current = "buffers";
    {
        bytes wav = read_all(path_of("odd.wav"));
        bytes want = read_all(path_of("lib-odd.wav.kpz"));
        bytes want_checked = read_all(path_of("checked.kpz"));
        size_t bound = kpz_compress_bound(wav.size);
        unsigned char* out = malloc(bound);
        size_t written = 0;
        CHECK_CODE(
            kpz_compress_buffer(wav.data, wav.size, "odd.wav", NULL, 0, out, bound, &written),
            KPZ_OK);
        CHECK(written == want.size && memcmp(out, want.data, written) == 0);
        CHECK_CODE(kpz_compress_buffer(wav.data, wav.size, "odd.wav", "right", KPZ_CHECK, out,
                                       bound, &written),
                   KPZ_OK);
        CHECK(written == want_checked.size && memcmp(out, want_checked.data, written) == 0);
        CHECK_CODE(kpz_compress_buffer(wav.data, wav.size, "odd.wav", NULL, 0, NULL, 0, &written),
                   KPZ_ERROR_BUFFER_TOO_SMALL);
        CHECK(written == want.size);
        CHECK_CODE(
            kpz_compress_buffer(wav.data, wav.size, "odd.wav", NULL, 0x40, out, bound, &written),
            KPZ_ERROR_INVALID_ARGUMENT);

        unsigned char* back = malloc(wav.size);
        size_t restored = 0;
        CHECK_CODE(kpz_restore_buffer(want.data, want.size, NULL, back, wav.size, &restored),
                   KPZ_OK);
        CHECK(restored == wav.size && memcmp(back, wav.data, wav.size) == 0);
        CHECK_CODE(kpz_restore_buffer(want.data, want.size, NULL, back, wav.size - 1, &restored),
                   KPZ_ERROR_BUFFER_TOO_SMALL);
        CHECK(restored == wav.size);
        CHECK_CODE(kpz_restore_buffer(want_checked.data, want_checked.size, "right", back, wav.size,
                                      &restored),
                   KPZ_OK);
        CHECK(restored == wav.size && memcmp(back, wav.data, wav.size) == 0);
        CHECK_CODE(kpz_restore_buffer(want_checked.data, want_checked.size, "wrong", back, wav.size,
                                      &restored),
                   KPZ_ERROR_WRONG_PASSWORD);
        CHECK_CODE(kpz_restore_buffer(want_checked.data, want_checked.size, NULL, back, wav.size,
                                      &restored),
                   KPZ_ERROR_PASSWORD_REQUIRED);
        CHECK_CODE(kpz_restore_buffer(want.data, want.size - 5, NULL, back, wav.size, &restored),
                   KPZ_ERROR_DAMAGED);
        CHECK_CODE(kpz_restore_buffer(wav.data, wav.size, NULL, back, wav.size, &restored),
                   KPZ_ERROR_NOT_KPZ);
        free(back);
        free(out);
        free(wav.data);
        free(want.data);
        free(want_checked.data);
    }

    /* The test call: what a restore would say, with nothing written. */
    current = "test call";
    {
        CHECK_CODE(kpz_test_file(path_of("lib-odd.wav.kpz"), NULL, NULL, NULL), KPZ_OK);
        CHECK_CODE(kpz_test_file(path_of("checked.kpz"), "right", NULL, NULL), KPZ_OK);
        CHECK_CODE(kpz_test_file(path_of("checked.kpz"), "wrong", NULL, NULL),
                   KPZ_ERROR_WRONG_PASSWORD);
        CHECK_CODE(kpz_test_file(path_of("checked.kpz"), NULL, NULL, NULL),
                   KPZ_ERROR_PASSWORD_REQUIRED);
        CHECK_CODE(kpz_test_file(path_of("cut.kpz"), NULL, NULL, NULL), KPZ_ERROR_DAMAGED);
        CHECK_CODE(kpz_test_file(path_of("checked-plain.kpz"), NULL, NULL, NULL),
                   KPZ_ERROR_CHECK_MISMATCH);
        CHECK_CODE(kpz_test_file(path_of("odd.wav"), NULL, NULL, NULL), KPZ_ERROR_NOT_KPZ);
    }

    /* Every code has a text of its own. */
    current = "messages";
    for (int code = 0; code >= KPZ_ERROR_LAST; --code)
        for (int other = code - 1; other >= KPZ_ERROR_LAST; --other)
            CHECK(strcmp(kpz_strerror(code), kpz_strerror(other)) != 0);
    CHECK(strcmp(kpz_strerror(KPZ_ERROR_LAST - 1), "unknown error") == 0);

    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
