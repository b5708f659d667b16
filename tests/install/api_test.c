/* SPDX-License-Identifier: BSD-3-Clause */
/* libkpz as another program uses it: built against the installed header and library only.
 * Usage: api_test KPZ_TOOL WORK_DIR VERSION
 * KPZ_TOOL is the installed kpz, whose outputs the library's must equal byte for byte. */
#define _POSIX_C_SOURCE 200809L
#include <kpz.h>

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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

/* Reads the whole file through a reader in pieces of step bytes. */
static int stream_equals(const char* kpz, const char* password, const char* original, size_t step) {
    int error = 1;
    kpz_reader* r = kpz_reader_open(kpz, password, &error);
    CHECK_CODE(error, KPZ_OK);
    if (!r) return 0;
    bytes want = read_all(original);
    CHECK(kpz_reader_size(r) == want.size);
    unsigned char* got = malloc(want.size + step + 1);
    size_t have = 0;
    long n;
    while ((n = kpz_reader_read(r, got + have, step)) > 0)
        have += (size_t)n;
    CHECK_CODE((int)n, 0);
    int same = have == want.size && memcmp(got, want.data, have) == 0;
    kpz_reader_close(r);
    free(got);
    free(want.data);
    return same;
}

/* Two threads read one reader from its first read on: together they get every byte once. */
struct shared_read {
    kpz_reader* reader;
    size_t got;
    long last;
};

static void* read_all_of(void* arg) {
    struct shared_read* s = arg;
    unsigned char buffer[1000];
    while ((s->last = kpz_reader_read(s->reader, buffer, sizeof buffer)) > 0)
        s->got += (size_t)s->last;
    return NULL;
}

static int two_threads_read(const char* kpz, size_t size) {
    kpz_reader* r = kpz_reader_open(kpz, NULL, NULL);
    if (!r) return 0;
    struct shared_read a = {r, 0, 0}, b = {r, 0, 0};
    pthread_t ta, tb;
    pthread_create(&ta, NULL, read_all_of, &a);
    pthread_create(&tb, NULL, read_all_of, &b);
    pthread_join(ta, NULL);
    pthread_join(tb, NULL);
    kpz_reader_close(r);
    return a.got + b.got == size && a.last == 0 && b.last == 0;
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

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: api_test KPZ_TOOL WORK_DIR VERSION\n");
        return 2;
    }
    const char* tool = argv[1];
    work = argv[2];
    CHECK(strcmp(kpz_version_string(), argv[3]) == 0);

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
        /* Several rounds: the two first reads race differently each time. */
        for (int round = 0; round < 20; ++round)
            CHECK(two_threads_read(path_of("p.kpz"), 2 * 524288 + 77));

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
        char* checked = path_of("checked.kpz");
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
        CHECK_CODE(kpz_restore_file(checked, path_of("wrong.out"), "wrong"),
                   KPZ_ERROR_CHECK_MISMATCH);
        CHECK(!exists(path_of("wrong.out")));
        r = kpz_reader_open(checked, "wrong", NULL);
        long n = 0;
        if (r) {
            unsigned char buffer[4096];
            while ((n = kpz_reader_read(r, buffer, sizeof buffer)) > 0) {
            }
            kpz_reader_close(r);
        }
        CHECK_CODE((int)n, KPZ_ERROR_CHECK_MISMATCH);
    }

    /* Every code has a text of its own. */
    current = "messages";
    for (int code = 0; code >= KPZ_ERROR_CANCELLED; --code)
        for (int other = code - 1; other >= KPZ_ERROR_CANCELLED; --other)
            CHECK(strcmp(kpz_strerror(code), kpz_strerror(other)) != 0);
    CHECK(strcmp(kpz_strerror(KPZ_ERROR_CANCELLED - 1), kpz_strerror(KPZ_OK)) != 0);

    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
