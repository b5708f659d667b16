// SPDX-License-Identifier: BSD-3-Clause
// libkpz's promises where the system, a signal or the way in could change the answer:
// errno after a failed write, what a failed kpz_compress_fd leaves on its descriptor, one
// verdict on a wrong password whichever way the file comes in, seek functions that cannot
// seek, SIGPIPE, the folder for temporary files, and reads of zero bytes.
#include "audio_like.h"
#include "kpz.h"
#include "kpz_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kpztest;

namespace {

// While it lives, writes past limit bytes of any file fail with EFBIG (SIGXFSZ ignored).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

Bytes compressed(const Bytes& source, const char* name, const char* password, unsigned flags) {
    Bytes out(kpz_compress_bound(source.size()));
    size_t written = 0;
    EXPECT_EQ(kpz_compress_buffer(source.data(), source.size(), name, password, flags, out.data(),
                                  out.size(), &written),
              KPZ_OK);
    out.resize(written);
    return out;
}

int64_t fileLength(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Progress that stops the call at its second report (after the first piece is written).
int stopAtSecond(uint64_t, uint64_t, void* user) {
    return ++*static_cast<int*>(user) == 2;
}

} // namespace

// A write the system refuses (here past the file size limit) leaves its reason in errno,
// for the file calls as for a descriptor, and no output behind.
TEST(LibkpzErrno, AFailedWriteLeavesTheSystemsReason) {
    ScratchFolder dir;
    constexpr rlim_t kLimit = 256 * 1024;
    const Bytes source = audioLike(1536 * 1024, 6);
    writeFile(dir.path("a.wav"), source);
    writeFile(dir.path("a.kpz"), compressed(source, "a.wav", nullptr, 0));
    // Below the limit, so that keeping it in a temporary file works; the output starts
    // just below the limit.
    writeFile(dir.path("small.wav"), audioLike(100000, 7));
    const std::string wav = dir.path("a.wav"), kpz = dir.path("a.kpz");
    const std::string outKpz = dir.path("out.kpz"), outWav = dir.path("out.wav");
    struct Case {
        const char* name;
        std::function<int()> call;
        std::string output; // must not exist afterwards ("" for the descriptor)
    };
    const Case cases[] = {
        {"compress a file", [&] { return kpz_compress_file(wav.c_str(), outKpz.c_str(), nullptr); },
         outKpz},
        {"compress a file with a check value and a password",
         [&] {
             return kpz_compress_file_ex(wav.c_str(), outKpz.c_str(), "pw", KPZ_CHECK, nullptr,
                                         nullptr);
         },
         outKpz},
        {"restore a file", [&] { return kpz_restore_file(kpz.c_str(), outWav.c_str(), nullptr); },
         outWav},
        {"compress a descriptor",
         [&] {
             const int in = ::open(dir.path("small.wav").c_str(), O_RDONLY | O_CLOEXEC);
             const int out = ::open(dir.path("out.bin").c_str(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
             ::lseek(out, static_cast<off_t>(kLimit - 1000), SEEK_SET);
             const int code = kpz_compress_fd(in, out, "small.wav", nullptr, 0, nullptr, nullptr);
             const int saved = errno;
             ::close(in);
             ::close(out);
             errno = saved;
             return code;
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int code = 0, error = 0;
        {
            FileSizeLimit limit(kLimit);
            errno = EDOM;
            code = c.call();
            error = errno;
        }
        EXPECT_EQ(code, KPZ_ERROR_WRITE) << kpz_strerror(code);
        EXPECT_EQ(error, EFBIG) << std::strerror(error);
        if (!c.output.empty()) {
            EXPECT_FALSE(std::filesystem::exists(c.output));
        }
    }
}

// A kpz_compress_fd that fails part way takes back what it wrote to a regular file: the
// file is cut back to where the descriptor stood when the call began, and the descriptor
// is put back there, so that the same call can be made again. A pipe keeps what was
// written: a beginning of the file, which every reader refuses as cut short.
TEST(LibkpzCompressFd, AFailedRunTakesBackWhatItWrote) {
    ScratchFolder dir;
    const Bytes source = audioLike(2 * 1024 * 1024 + 5, 9);
    writeFile(dir.path("a.wav"), source);
    const Bytes whole = compressed(source, "a.wav", nullptr, 0);
    const Bytes callers = {'H', 'E', 'A', 'D'};
    struct Case {
        const char* name;
        bool callersBytes; // the file holds the caller's bytes first
        int flags;         // and is opened with these
        off_t position;    // where the descriptor stands
    };
    const Case cases[] = {
        {"a new file", false, 0, 0},
        {"after the caller's bytes", true, 0, 4},
        {"appending", true, O_APPEND, 0},
        {"past the end", true, 0, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.path("out.kpz");
        writeFile(path, c.callersBytes ? callers : Bytes{});
        const int out = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | c.flags);
        ASSERT_GE(out, 0);
        ::lseek(out, c.position, SEEK_SET);
        const int in = ::open(dir.path("a.wav").c_str(), O_RDONLY | O_CLOEXEC);
        int reports = 0;
        EXPECT_EQ(kpz_compress_fd(in, out, "a.wav", nullptr, 0, stopAtSecond, &reports),
                  KPZ_ERROR_CANCELLED);
        EXPECT_EQ(reports, 2);
        EXPECT_TRUE(readFile(path) == (c.callersBytes ? callers : Bytes{}));
        EXPECT_EQ(::lseek(out, 0, SEEK_CUR), c.position);

        // Again, to the end: the output follows the caller's bytes as if the first call
        // had not been made.
        ::lseek(in, 0, SEEK_SET);
        EXPECT_EQ(kpz_compress_fd(in, out, "a.wav", nullptr, 0, nullptr, nullptr), KPZ_OK);
        Bytes expected = c.callersBytes ? callers : Bytes{};
        expected.resize(c.flags & O_APPEND ? expected.size() : static_cast<size_t>(c.position));
        expected.insert(expected.end(), whole.begin(), whole.end());
        EXPECT_TRUE(readFile(path) == expected);
        EXPECT_EQ(fileLength(out), static_cast<int64_t>(expected.size()));
        ::close(in);
        ::close(out);
    }

    // A pipe: the first piece was written and stays; a reader calls it cut short.
    SCOPED_TRACE("a pipe");
    PipeDrain drain;
    const int in = ::open(dir.path("a.wav").c_str(), O_RDONLY | O_CLOEXEC);
    int reports = 0;
    EXPECT_EQ(kpz_compress_fd(in, drain.fd(), "a.wav", nullptr, 0, stopAtSecond, &reports),
              KPZ_ERROR_CANCELLED);
    ::close(in);
    const Bytes got = drain.finish();
    ASSERT_GT(got.size(), 0u);
    ASSERT_LT(got.size(), whole.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()));
    size_t restored = 0;
    Bytes room(source.size());
    EXPECT_EQ(
        kpz_restore_buffer(got.data(), got.size(), nullptr, room.data(), room.size(), &restored),
        KPZ_ERROR_DAMAGED);
}

// The verdict on a wrong password is the same whichever way the file comes in. On a
// stream the check value comes after the payload, so the verdict waits until it is read:
// with a wrong password, silence decodes past the payload's end, audio to other bytes.
// Damage is damage everywhere too.
TEST(LibkpzWrongPassword, OneVerdictWhicheverWayIn) {
    ScratchFolder dir;
    const Bytes audio = audioLike(2200 * 1024, 8);
    const Bytes silence(1024 * 1024 + 3, 0);
    Bytes damaged = compressed(audio, "a.wav", nullptr, KPZ_CHECK);
    damaged[damaged.size() / 2] ^= 0x10;
    writeFile(dir.path("audio.kpz"), compressed(audio, "a.wav", "right", KPZ_CHECK));
    writeFile(dir.path("silence.kpz"), compressed(silence, "a.wav", "right", KPZ_CHECK));
    writeFile(dir.path("damaged.kpz"), damaged);

    // Each way in: the code a restore of the file gives, and (readers) whether the file
    // is then known to hold a check value.
    struct Result {
        int code;
        int hasCheck;
    };
    using Way = std::function<Result(const std::string& path, const Bytes& file, const char*)>;
    const auto byReader = [](kpz_reader* r, int error) -> Result {
        if (!r) return {error, -1};
        int64_t last = 0;
        readToEnd(r, &last);
        const Result result{static_cast<int>(last), kpz_reader_has_check(r)};
        kpz_reader_close(r);
        return result;
    };
    const std::string out = dir.path("out.wav");
    const std::pair<const char*, Way> ways[] = {
        {"path",
         [&](const std::string& path, const Bytes&, const char* pw) -> Result {
             const int code = kpz_restore_file(path.c_str(), out.c_str(), pw);
             EXPECT_FALSE(std::filesystem::exists(out));
             return {code, 1};
         }},
        {"test",
         [](const std::string& path, const Bytes&, const char* pw) -> Result {
             return {kpz_test_file(path.c_str(), pw, nullptr, nullptr), 1};
         }},
        {"buffer",
         [&](const std::string&, const Bytes& file, const char* pw) -> Result {
             Bytes room(audio.size());
             size_t restored = 0;
             return {kpz_restore_buffer(file.data(), file.size(), pw, room.data(), room.size(),
                                        &restored),
                     1};
         }},
        {"reader on a path",
         [&](const std::string& path, const Bytes&, const char* pw) {
             int error = 0;
             kpz_reader* r = kpz_reader_open(path.c_str(), pw, &error);
             return byReader(r, error);
         }},
        {"reader on a descriptor",
         [&](const std::string& path, const Bytes&, const char* pw) {
             const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
             int error = 0;
             kpz_reader* r = kpz_reader_open_fd(fd, pw, &error);
             ::close(fd);
             return byReader(r, error);
         }},
        {"reader on a pipe",
         [&](const std::string&, const Bytes& file, const char* pw) {
             PipeFeed feed(file);
             int error = 0;
             kpz_reader* r = kpz_reader_open_fd(feed.fd(), pw, &error);
             return byReader(r, error);
         }},
        {"callbacks with seek",
         [&](const std::string&, const Bytes& file, const char* pw) {
             MemoryIo io;
             io.in = &file;
             int error = 0;
             kpz_reader* r = kpz_reader_open_callbacks(memoryRead, memorySeek, &io, pw, &error);
             return byReader(r, error);
         }},
        {"callbacks without seek",
         [&](const std::string&, const Bytes& file, const char* pw) {
             MemoryIo io;
             io.in = &file;
             io.most = 70000;
             int error = 0;
             kpz_reader* r = kpz_reader_open_callbacks(memoryRead, nullptr, &io, pw, &error);
             return byReader(r, error);
         }},
    };

    for (const char* file : {"audio.kpz", "silence.kpz"}) {
        const Bytes locked = readFile(dir.path(file));
        for (const char* wrong : {"wrong", "righ", "x", "another password"}) {
            for (const auto& [name, way] : ways) {
                SCOPED_TRACE(std::string(file) + " through " + name + ", password " + wrong);
                const Result r = way(dir.path(file), locked, wrong);
                EXPECT_EQ(r.code, KPZ_ERROR_WRONG_PASSWORD) << kpz_strerror(r.code);
                EXPECT_EQ(r.hasCheck, 1);
            }
        }
    }
    const int damage = ways[0].second(dir.path("damaged.kpz"), damaged, nullptr).code;
    EXPECT_TRUE(damage == KPZ_ERROR_DAMAGED || damage == KPZ_ERROR_CHECK_MISMATCH)
        << kpz_strerror(damage);
    for (const auto& [name, way] : ways) {
        SCOPED_TRACE(std::string(name) + ", damaged");
        EXPECT_EQ(way(dir.path("damaged.kpz"), damaged, nullptr).code, damage);
    }
}

namespace {

// Seek functions that cannot seek, in two ways: -1 for every call, or an answer to where
// the data stands (SEEK_CUR by 0) and -1 for every move.
struct NoSeekIo {
    MemoryIo io;
    bool tells = false;
};
int64_t noSeekRead(void* user, void* buffer, size_t size) {
    return memoryRead(&static_cast<NoSeekIo*>(user)->io, buffer, size);
}
int64_t noSeek(void* user, int64_t offset, int whence) {
    auto* n = static_cast<NoSeekIo*>(user);
    if (n->tells && whence == KPZ_SEEK_CUR && offset == 0)
        return static_cast<int64_t>(n->io.position);
    return -1;
}

} // namespace

// A seek function that answers -1 ("cannot seek") makes the reader read the data as a
// stream, as without one: the length and the check value are known at the end.
TEST(LibkpzCallbacks, ASeekFunctionThatCannotSeekReadsAStream) {
    const Bytes source = audioLike(2200 * 1024, 10);
    const Bytes file = compressed(source, "a.wav", nullptr, KPZ_CHECK);
    for (bool tells : {false, true}) {
        SCOPED_TRACE(tells ? "tells where it stands" : "answers -1 to every call");
        NoSeekIo n;
        n.io.in = &file;
        n.tells = tells;
        int error = 0;
        kpz_reader* r = kpz_reader_open_callbacks(noSeekRead, noSeek, &n, nullptr, &error);
        ASSERT_NE(r, nullptr) << kpz_strerror(error);
        EXPECT_EQ(kpz_reader_compressed_size(r), -1);
        EXPECT_EQ(kpz_reader_has_check(r), 0); // not known before the end
        int64_t last = 1;
        EXPECT_TRUE(readToEnd(r, &last) == source);
        EXPECT_EQ(last, 0) << kpz_strerror(static_cast<int>(last));
        EXPECT_EQ(kpz_reader_compressed_size(r), static_cast<int64_t>(file.size()));
        EXPECT_EQ(kpz_reader_has_check(r), 1);
        kpz_reader_close(r);
    }
}

// Writing into a pipe whose reader has gone fails the call with KPZ_ERROR_WRITE and EPIPE
// instead of ending the program with SIGPIPE; the thread's signal mask is as before, and
// a SIGPIPE the caller had pending stays pending. Each case runs in a child process,
// which SIGPIPE would end.
TEST(LibkpzSignals, APipeWithoutReaderFailsTheCallNotTheProgram) {
    ScratchFolder dir;
    writeFile(dir.path("a.wav"), audioLike(1024 * 1024, 11));
    enum Failure { Fine, WrongCode, WrongErrno, MaskChanged, PendingChanged };
    for (bool pendingBefore : {false, true}) {
        SCOPED_TRACE(pendingBefore ? "SIGPIPE blocked and pending before" : "SIGPIPE default");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGPIPE, SIG_DFL);
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            if (pendingBefore) {
                ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
                ::pthread_kill(::pthread_self(), SIGPIPE);
            }
            int fds[2];
            if (::pipe(fds) != 0) ::_exit(10);
            ::close(fds[0]);
            const int in = ::open(dir.path("a.wav").c_str(), O_RDONLY);
            sigset_t maskBefore, maskAfter, pending;
            ::pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
            errno = 0;
            const int code = kpz_compress_fd(in, fds[1], "a.wav", nullptr, 0, nullptr, nullptr);
            const int error = errno;
            ::pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
            ::sigpending(&pending);
            if (code != KPZ_ERROR_WRITE) ::_exit(WrongCode);
            if (error != EPIPE) ::_exit(WrongErrno);
            if (sigismember(&maskBefore, SIGPIPE) != sigismember(&maskAfter, SIGPIPE))
                ::_exit(MaskChanged);
            if (sigismember(&pending, SIGPIPE) != (pendingBefore ? 1 : 0)) ::_exit(PendingChanged);
            ::_exit(Fine);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), Fine);
        }
    }
}

// kpz_compress_fd and kpz_compress_callbacks keep their input in a temporary file first:
// when the folder for it does not exist, the call says so with a code of its own (not as
// a failed read of the input), and errno says why.
TEST(LibkpzTemporaryFolder, AMissingFolderHasACodeOfItsOwn) {
    ScratchFolder dir;
    const Bytes source = audioLike(5000, 12);
    writeFile(dir.path("a.wav"), source);
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before ? before : "";
    ::setenv("TMPDIR", dir.path("no-such-folder").c_str(), 1);
    const int in = ::open(dir.path("a.wav").c_str(), O_RDONLY | O_CLOEXEC);
    const int out =
        ::open(dir.path("a.kpz").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    errno = 0;
    const int byDescriptor = kpz_compress_fd(in, out, "a.wav", nullptr, 0, nullptr, nullptr);
    const int descriptorErrno = errno;
    MemoryIo io;
    io.in = &source;
    errno = 0;
    const int byCallbacks =
        kpz_compress_callbacks(memoryRead, memoryWrite, &io, "a.wav", nullptr, 0, nullptr, nullptr);
    const int callbacksErrno = errno;
    ::close(in);
    ::close(out);
    if (before)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(byDescriptor, KPZ_ERROR_TEMPORARY_FILE) << kpz_strerror(byDescriptor);
    EXPECT_EQ(descriptorErrno, ENOENT);
    EXPECT_EQ(byCallbacks, KPZ_ERROR_TEMPORARY_FILE) << kpz_strerror(byCallbacks);
    EXPECT_EQ(callbacksErrno, ENOENT);
    EXPECT_TRUE(io.out.empty());
    EXPECT_TRUE(readFile(dir.path("a.kpz")).empty());
    EXPECT_STRNE(kpz_strerror(KPZ_ERROR_TEMPORARY_FILE), kpz_strerror(KPZ_ERROR_READ));
}

// A read of zero bytes reads nothing and is no sign of the end: it returns 0 before the
// first byte and after the last alike, and an error once one is known. Only a read of at
// least one byte that returns 0 means the end.
TEST(LibkpzReader, AZeroByteReadIsNotTheEnd) {
    const Bytes source = audioLike(700 * 1024, 13);
    const Bytes file = compressed(source, "a.wav", nullptr, 0);
    MemoryIo io;
    io.in = &file;
    int error = 0;
    kpz_reader* r = kpz_reader_open_callbacks(memoryRead, memorySeek, &io, nullptr, &error);
    ASSERT_NE(r, nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(kpz_reader_read64(r, &byte, 0), 0);
    EXPECT_EQ(kpz_reader_read(r, nullptr, 0), 0);
    EXPECT_EQ(kpz_reader_bytes_after(r), -1); // the end has not been reached
    int64_t last = 1;
    EXPECT_TRUE(readToEnd(r, &last) == source);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(kpz_reader_read64(r, &byte, 0), 0);
    kpz_reader_close(r);

    const Bytes cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2));
    io = MemoryIo{};
    io.in = &cut;
    r = kpz_reader_open_callbacks(memoryRead, nullptr, &io, nullptr, &error);
    ASSERT_NE(r, nullptr);
    readToEnd(r, &last);
    EXPECT_EQ(last, KPZ_ERROR_DAMAGED);
    EXPECT_EQ(kpz_reader_read64(r, &byte, 0), KPZ_ERROR_DAMAGED);
    kpz_reader_close(r);
}
