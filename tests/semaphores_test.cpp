#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
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
    // "d755 " for a directory, "f600:0 " for a regular file with its size.
    static std::string described(const std::string& path) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return "none ";
        char kind[16];
        std::snprintf(kind, sizeof kind, "%c%o", S_ISDIR(st.st_mode) ? 'd' : S_ISREG(st.st_mode) ? 'f' : '?',
                      st.st_mode & 07777);
        return kind + (S_ISREG(st.st_mode) ? ":" + std::to_string(st.st_size) : "") + " ";
    }

    std::string dir, root;
};

// A second process holding semaphores, driven over two pipes: each command
// byte ('l' sem_lock, 't' sem_test, 'u' sem_unlock, 's' shutdown_sem) is
// answered with a line holding the result (0 for the last two).
class Holder {
public:
    explicit Holder(int semnum) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::abort();
        pid_ = startChild([&] {
            init_sem();
            char command, line[64];
            while (read(toChild[0], &command, 1) == 1 && command != 'q') {
                const int result = command == 'l' ? sem_lock(semnum) : command == 't' ? sem_test(semnum) : 0;
                if (command == 'u') sem_unlock(semnum);
                if (command == 's') shutdown_sem();
                std::snprintf(line, sizeof line, "%d\n", result);
                if (write(fromChild[1], line, std::strlen(line)) < 0) break;
            }
        });
        close(toChild[0]);
        close(fromChild[1]);
        commands_ = toChild[1];
        answers_ = fdopen(fromChild[0], "r");
    }
    ~Holder() { finish(); }

    pid_t pid() const { return pid_; }
    std::string ask(char command) {
        if (write(commands_, &command, 1) != 1) return "<write failed>";
        char line[64] = "";
        return std::fgets(line, sizeof line, answers_) != nullptr ? line : "<gone>";
    }
    /// Ends the holder and waits for it.
    void finish() {
        if (pid_ <= 0) return;
        // An explicit command: other forked children may hold the pipe too.
        if (write(commands_, "q", 1) != 1) kill(pid_, SIGKILL);
        close(commands_);
        std::fclose(answers_);
        const pid_t ended = pid_;
        pid_ = -1;
        awaitChild(ended);
    }

private:
    pid_t pid_ = -1;
    int commands_ = -1;
    FILE* answers_ = nullptr;
};

// sem_lock ('l') or sem_test ('t') of `semnum` from a fresh process, as text.
std::string fromOtherProcess(char command, int semnum) {
    return captureInChild([&] {
        init_sem();
        std::printf("%d", command == 'l' ? sem_lock(semnum) : sem_test(semnum));
    }).out;
}

TEST_F(Semaphores, InitCreatesMissingDirectoriesAndEmptyFile) {
    Outcome r = captureInChild([] {
        umask(022);
        init_sem();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(described(root) + described(root + "/var") + described(semFile()), "d755 d755 f600:0 ");
    // Locks on an existing file leave it empty.
    EXPECT_EQ(fromOtherProcess('l', 5), "0");
    EXPECT_EQ(described(semFile()), "f600:0 ");
}

TEST_F(Semaphores, UnusablePathsEndWithOpenMessage) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { fs::create_directories(semFile()); }, "Is a directory"},
        {[&] { std::fclose(std::fopen((root + "/var").c_str(), "w")); }, "Not a directory"},
        // The directory step itself fails: var is a link into nowhere.
        {[&] { fs::create_symlink(dir + "/nowhere/var", root + "/var"); }, "No such file or directory"},
    };
    for (const auto& [prepare, systemText] : cases) {
        fs::remove_all(root);
        fs::create_directories(root);
        prepare();
        Outcome r = captureInChild([] { init_sem(); });
        EXPECT_TRUE(r.exited) << systemText;
        EXPECT_EQ(r.status, 1) << systemText;
        EXPECT_EQ(r.err, "failed to open semaphore file " + semFile() + ": " + systemText + "\n");
        EXPECT_EQ(r.out, r.err) << systemText;
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

    EXPECT_EQ(fromOtherProcess('l', 5), "-1");
    EXPECT_EQ(fromOtherProcess('t', 5), std::to_string(holder.pid()));
    // Neighbouring semaphores are independent.
    EXPECT_EQ(fromOtherProcess('l', 6), "0");
    EXPECT_EQ(fromOtherProcess('l', 4), "0");
    EXPECT_EQ(fromOtherProcess('t', 6), "0");

    holder.finish();
    EXPECT_EQ(fromOtherProcess('t', 5), "0");
    EXPECT_EQ(fromOtherProcess('l', 5), "0");
}

TEST_F(Semaphores, UnlockAndShutdownRelease) {
    for (char release : {'u', 's'}) {
        Holder holder(7);
        ASSERT_EQ(holder.ask('l'), "0\n");
        ASSERT_EQ(fromOtherProcess('l', 7), "-1");
        EXPECT_EQ(holder.ask(release), "0\n");
        EXPECT_EQ(fromOtherProcess('l', 7), "0") << release;
    }
}

// The waiter says when it asks and when it has the lock; it may not have it
// while the holder lives.
TEST_F(Semaphores, WaitingLockReturnsOnceHolderEnds) {
    Holder holder(5);
    ASSERT_EQ(holder.ask('l'), "0\n");
    int said[2];
    ASSERT_EQ(pipe(said), 0);
    const int waiter = startChild([&said] {
        init_sem();
        if (write(said[1], "w", 1) != 1) _exit(3);
        sem_lock_wait(5);
        if (write(said[1], "l", 1) != 1) _exit(3);
    });
    close(said[1]);
    char step = 0;
    ASSERT_EQ(read(said[0], &step, 1), 1);
    EXPECT_EQ(step, 'w');
    fcntl(said[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(said[0], &step, 1), -1) << "locked while the holder lives: " << step;
    holder.finish();
    const int status = awaitChild(waiter);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read(said[0], &step, 1), 1);
    EXPECT_EQ(step, 'l');
    close(said[0]);
}

TEST_F(Semaphores, NegativeNumbersAndMissingFileAreFatal) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { init_sem(), sem_lock(-1); }, "sem_lock() failed for semnum -1: semnum must not be negative\n"},
        {[] { init_sem(), sem_lock_wait(-3); }, "sem_lock() failed for semnum -3: semnum must not be negative\n"},
        {[] { init_sem(), sem_unlock(-1); }, "sem_unlock() failed for semnum -1: semnum must not be negative\n"},
        {[] { init_sem(), sem_test(-1); }, "sem_test() failed for semnum -1: semnum must not be negative\n"},
        // Before init_sem there is nothing to lock.
        {[] { sem_lock(5); }, "sem_lock() failed for semnum 5: Bad file descriptor\n"},
    };
    for (const auto& [call, message] : cases) {
        Outcome r = captureInChild([&] {
            call();
            std::printf("returned");
        });
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, message);
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

TEST_F(Semaphores, MkdirRecursiveMakesMissingLevelsOnly) {
    umask(022);
    fs::create_directories(dir + "/kept");
    chmod((dir + "/kept").c_str(), 0700);
    std::fclose(std::fopen((dir + "/plain").c_str(), "w"));
    const std::pair<std::string, int> cases[] = {
        {dir + "/a/b//c/", 0}, {dir + "/kept/d", 0},       {dir + "/kept", 0},
        {dir + "/plain/x/y", ENOTDIR}, {dir + "/plain", ENOTDIR}, {"", ENOENT},
    };
    for (const auto& [path, error] : cases) {
        errno = 0;
        const int result = mkdir_recursive(path.c_str()), failure = errno;
        // errno tells the reason of a failure only.
        EXPECT_EQ(result == 1 ? 0 : failure, error) << path;
        EXPECT_EQ(result, error == 0 ? 1 : 0) << path;
    }
    // New levels get 0755, existing ones stay as they are.
    EXPECT_EQ(described(dir + "/a/b/c") + described(dir + "/kept") + described(dir + "/kept/d"), "d755 d700 d755 ");
    EXPECT_FALSE(fs::exists(dir + "/plain/x"));
}

}  // namespace
