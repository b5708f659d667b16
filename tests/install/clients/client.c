/* SPDX-License-Identifier: BSD-3-Clause */
/* A small program that uses libkpz as an application would, built only against what the
 * packages install (kpz.h, libkpz.so through pkg-config or the CMake package).
 *   client restore FILE.kpz OUTPUT   restore a file by path into OUTPUT
 *   client stream                    restore the .kpz file on standard input to standard output
 *   client compress NAME             compress standard input to standard output, storing NAME
 * The password, if any, comes from KPZ_PASSWORD. Compressing stores a check value. */
#include <kpz.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fail(const char* what, int code) {
    fprintf(stderr, "client: %s: %s\n", what, kpz_strerror(code));
    return 1;
}

static int write_all(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return 0;
        data += n;
        size -= (size_t)n;
    }
    return 1;
}

int main(int argc, char** argv) {
    const char* password = getenv("KPZ_PASSWORD");
    if (argc == 4 && strcmp(argv[1], "restore") == 0) {
        int code = kpz_restore_file(argv[2], argv[3], password);
        return code == KPZ_OK ? 0 : fail(argv[2], code);
    }
    if (argc == 2 && strcmp(argv[1], "stream") == 0) {
        int error = KPZ_OK;
        kpz_reader* r = kpz_reader_open_fd(0, password, &error);
        if (!r) return fail("standard input", error);
        static unsigned char buffer[1 << 16];
        int64_t n;
        while ((n = kpz_reader_read64(r, buffer, sizeof buffer)) > 0)
            if (!write_all(1, buffer, (size_t)n)) return fail("standard output", KPZ_ERROR_WRITE);
        kpz_reader_close(r);
        return n == 0 ? 0 : fail("standard input", (int)n);
    }
    if (argc == 3 && strcmp(argv[1], "compress") == 0) {
        int code = kpz_compress_fd(0, 1, argv[2], password, KPZ_CHECK, NULL, NULL);
        return code == KPZ_OK ? 0 : fail("standard input", code);
    }
    fprintf(stderr, "usage: client restore FILE.kpz OUTPUT | stream | compress NAME\n");
    return 2;
}
