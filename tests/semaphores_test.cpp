#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/product_conf.h"
#include "env/semaphores.h"
#include "harness/capture.h"

namespace fs = std::filesystem;

namespace {

using ::testing::StartsWith;

// A private product root per test; PRODUCT_ROOT_D points at it. Every
// semaphore call runs in a child, so the process-wide descriptor of one
// case never leaks into the next.
class Semaphores : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/var/tmp/verstally-sem.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr) << std::strerror(errno);
        dir = pattern;
        root = dir + "/product";
        PRODUCT_ROOT_D = root.c_str();
    }
    void TearDown() override {
        PRODUCT_ROOT_D = nullptr;
        if (!dir.empty()) fs::remove_all(dir);
    }
    std::string semFile() const { return root + "/var/utilities.sem"; }

    std::string dir;
    std::string root;
};

// A second process holding semaphores, driven over two pipes: each command
// byte is answered with one line.
class Holder {
public:
    explicit Holder(int semnum) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::abort();
        pid_ = startChild([&] {
            close(toChild[1]);
            close(fromChild[0]);
            serve(semnum, toChild[0], fromChild[1]);
        });
        close(toChild[0]);
        close(fromChild[1]);
        commands_ = toChild[1];
        answers_ = fdopen(fromChild[0], "r");
    }
    ~Holder() { finish(); }

    pid_t pid() const { return pid_; }
    /// 'l' lock result, 't' sem_test result, 'u' unlock, 's' shutdown_sem.
    std::string ask(char command) {
        if (write(commands_, &command, 1) != 1) return "<write failed>";
        char line[64] = "";
        if (std::fgets(line, sizeof line, answers_) == nullptr) return "<gone>";
        return line;
    }
    /// Ends the holder and waits for it.
    void finish() {
        if (pid_ <= 0) return;
        // An explicit command: other forked children may hold the pipe too.
        const char quit = 'q';
        if (write(commands_, &quit, 1) != 1) kill(pid_, SIGKILL);
        close(commands_);
        std::fclose(answers_);
        int status;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    [[noreturn]] static void serve(int semnum, int in, int out) {
        init_sem();
        char command;
        while (read(in, &command, 1) == 1 && command != 'q') {
            char line[64] = "ok\n";
            if (command == 'l') std::snprintf(line, sizeof line, "%d\n", sem_lock(semnum));
            if (command == 't') std::snprintf(line, sizeof line, "%d\n", sem_test(semnum));
            if (command == 'u') sem_unlock(semnum);
            if (command == 's') shutdown_sem();
            if (write(out, line, std::strlen(line)) < 0) break;
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int commands_ = -1;
    FILE* answers_ = nullptr;
};

// sem_lock / sem_test of `semnum` from a fresh process, as printed text.
std::string lockFromOtherProcess(int semnum) {
    return captureInChild([&] { std::printf("%d", sem_lock((init_sem(), semnum))); }).out;
}
std::string testFromOtherProcess(int semnum) {
    return captureInChild([&] { std::printf("%d", sem_test((init_sem(), semnum))); }).out;
}

TEST_F(Semaphores, InitCreatesMissingDirectoriesAndEmptyFile) {
    Outcome r = captureInChild([] {
        umask(022);
        init_sem();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    struct stat st;
    ASSERT_EQ(stat((root + "/var").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat(root.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat(semFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    // Locks on an existing file leave it empty.
    EXPECT_EQ(lockFromOtherProcess(5), "0");
    ASSERT_EQ(stat(semFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(Semaphores, UnusablePathsEndWithOpenMessage) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string systemText;
    };
    const Case cases[] = {
        {"file path is a directory", [&] { fs::create_directories(semFile()); }, "Is a directory"},
        {"var is a plain file",
         [&] {
             fs::create_directories(root);
             std::fclose(std::fopen((root + "/var").c_str(), "w"));
         },
         "Not a directory"},
        // The directory step itself fails: var is a link into nowhere.
        {"var dangles",
         [&] {
             fs::create_directories(root);
             fs::create_symlink(dir + "/nowhere/var", root + "/var");
         },
         "No such file or directory"},
    };
    for (const Case& c : cases) {
        fs::remove_all(root);
        c.prepare();
        Outcome r = captureInChild([] { init_sem(); });
        EXPECT_TRUE(r.exited) << c.name;
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, "failed to open semaphore file " + semFile() + ": " + c.systemText + "\n") << c.name;
        EXPECT_EQ(r.out, r.err) << c.name;
    }
}

TEST_F(Semaphores, OverlongRootIsRefusedNotCut) {
    std::string longRoot = dir + "/" + std::string(4090, 'r');
    PRODUCT_ROOT_D = longRoot.c_str();
    Outcome r = captureInChild([] { init_sem(); });
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, StartsWith("failed to open semaphore file " + dir + "/rrr"));
    // The message is held to the library's buffer size...
    EXPECT_LE(r.err.size(), 4096u);
    // ...and nothing was made at a shortened path.
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Semaphores, HeldSemaphoreRefusesOthersUntilHolderEnds) {
    Holder holder(5);
    EXPECT_EQ(holder.ask('l'), "0\n");
    EXPECT_EQ(holder.ask('l'), "0\n") << "taking a held semaphore again";
    EXPECT_EQ(holder.ask('t'), "0\n") << "own lock never conflicts";

    EXPECT_EQ(lockFromOtherProcess(5), "-1");
    EXPECT_EQ(testFromOtherProcess(5), std::to_string(holder.pid()));
    // Neighbouring semaphores are independent.
    EXPECT_EQ(lockFromOtherProcess(6), "0");
    EXPECT_EQ(lockFromOtherProcess(4), "0");
    EXPECT_EQ(testFromOtherProcess(6), "0");

    holder.finish();
    EXPECT_EQ(testFromOtherProcess(5), "0");
    EXPECT_EQ(lockFromOtherProcess(5), "0");
}

TEST_F(Semaphores, UnlockAndShutdownRelease) {
    Holder unlocking(5);
    ASSERT_EQ(unlocking.ask('l'), "0\n");
    ASSERT_EQ(lockFromOtherProcess(5), "-1");
    EXPECT_EQ(unlocking.ask('u'), "ok\n");
    EXPECT_EQ(lockFromOtherProcess(5), "0");

    Holder closing(7);
    ASSERT_EQ(closing.ask('l'), "0\n");
    ASSERT_EQ(lockFromOtherProcess(7), "-1");
    EXPECT_EQ(closing.ask('s'), "ok\n");
    EXPECT_EQ(lockFromOtherProcess(7), "0");
}

TEST_F(Semaphores, WaitingLockReturnsOnceHolderEnds) {
    Holder holder(5);
    ASSERT_EQ(holder.ask('l'), "0\n");

    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const int waiter = startChild([&] {
        close(done[0]);
        init_sem();
        sem_lock_wait(5);
        if (write(done[1], "y", 1) != 1) _exit(1);
    });
    close(done[1]);
    // The waiter must still be blocked while the holder lives.
    struct pollfd ready = {done[0], POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 300), 0);
    holder.finish();
    char byte = 0;
    EXPECT_EQ(read(done[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    close(done[0]);
    int status;
    waitpid(waiter, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Semaphores, NegativeNumbersAndMissingFileAreFatal) {
    const struct {
        bool initialised;
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {true, [] { sem_lock(-1); }, "sem_lock() failed for semnum -1: semnum must not be negative\n"},
        {true, [] { sem_lock_wait(-3); }, "sem_lock() failed for semnum -3: semnum must not be negative\n"},
        {true, [] { sem_unlock(-1); }, "sem_unlock() failed for semnum -1: semnum must not be negative\n"},
        {true, [] { sem_test(-1); }, "sem_test() failed for semnum -1: semnum must not be negative\n"},
        // Before init_sem there is nothing to lock.
        {false, [] { sem_lock(5); }, "sem_lock() failed for semnum 5: Bad file descriptor\n"},
    };
    for (const auto& c : cases) {
        Outcome r = captureInChild([&] {
            if (c.initialised) init_sem();
            c.call();
            std::printf("returned");
        });
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, c.message);
    }
}

TEST_F(Semaphores, ChildProgramsDoNotInheritTheFile) {
    Outcome r = captureInChild([] {
        // The lowest free descriptor is the one init_sem will get.
        int probe = dup(0);
        close(probe);
        init_sem();
        sem_lock(5);
        int plain = dup(0);  // control: an inheritable descriptor
        char command[128];
        std::snprintf(command, sizeof command, "exec 2>/dev/null; : >&%d && echo plain; : >&%d && echo sem", plain,
                      probe);
        std::fflush(nullptr);
        if (std::system(command) < 0) std::printf("no shell");
    });
    EXPECT_EQ(r.out, "plain\n");
}

TEST_F(Semaphores, MkdirRecursive) {
    umask(022);
    const std::string nested = dir + "/a/b//c/";
    EXPECT_EQ(mkdir_recursive(nested.c_str()), 1);
    struct stat st;
    ASSERT_EQ(stat((dir + "/a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    // Existing directories stay as they are.
    chmod((dir + "/a").c_str(), 0700);
    EXPECT_EQ(mkdir_recursive((dir + "/a/b/d").c_str()), 1);
    ASSERT_EQ(stat((dir + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(mkdir_recursive((dir + "/a").c_str()), 1);

    std::fclose(std::fopen((dir + "/plain").c_str(), "w"));
    errno = 0;
    EXPECT_EQ(mkdir_recursive((dir + "/plain/x/y").c_str()), 0);
    EXPECT_EQ(errno, ENOTDIR);
    errno = 0;
    EXPECT_EQ(mkdir_recursive((dir + "/plain").c_str()), 0);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(fs::exists(dir + "/plain/x"));

    errno = 0;
    EXPECT_EQ(mkdir_recursive(""), 0);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
