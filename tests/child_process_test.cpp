#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/messages.h"
#include "harness/accounts.h"
#include "harness/capture.h"
#include "harness/sandbox.h"
#include "util/child_process.h"
#include "util/exceptions.h"

namespace {

// A null-terminated argument vector over owned strings.
struct Args {
    Args(std::initializer_list<std::string> list) : Args(std::vector<std::string>(list)) {}
    explicit Args(std::vector<std::string> list) : text(std::move(list)) {
        for (auto& t : text) argv.push_back(t.data());
        argv.push_back(nullptr);
    }
    std::vector<std::string> text;
    std::vector<char*> argv;
};

int openDescriptorCount() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

// What the child says is appended to what the strings held; its exit code,
// -1 for a signal, is the result; a program that cannot be started gives 1
// and the exec failure message on both streams, as a child would.
TEST(ChildProcess, CollectsBothStreamsAndHowTheChildEnded) {
    program_path = "/usr/sbin/verstally";
    const std::string notStarted =
        std::string("verstally: forkExecvPipes: execv() failed\nSystem error 2: ") + std::strerror(ENOENT) + "\n";
    const struct {
        std::string path, script;
        std::map<std::string, std::string> env;
        int status;
        std::string out, err;
    } cases[] = {
        {"/bin/true", "", {}, 0, "keep", "this"},
        {"/bin/sh", "printf out; printf err >&2; exit 7", {}, 7, "keepout", "thiserr"},
        {"/bin/sh", "echo before; kill -9 $$", {}, -1, "keepbefore\n", "this"},
        {"/bin/sh", "echo $VERSTALLY_TEST_VAR-$VERSTALLY_OTHER",
         {{"VERSTALLY_TEST_VAR", "child"}, {"VERSTALLY_OTHER", "x"}}, 0, "keepchild-x\n", "this"},
        {"/nonexistent/tool", "", {}, 1, "keep" + notStarted, "this" + notStarted},
    };
    setenv("VERSTALLY_TEST_VAR", "parent", 1);
    for (const auto& c : cases) {
        std::string out = "keep", err = "this";
        Args args(c.script.empty() ? std::vector<std::string>{"tool"} : std::vector<std::string>{"sh", "-c", c.script});
        EXPECT_EQ(forkExecvGetOutErr(out, err, c.path, args.argv, static_cast<uid_t>(-1), c.env), c.status) << c.script;
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
    }
    EXPECT_STREQ(getenv("VERSTALLY_TEST_VAR"), "parent");
    program_path = nullptr;
}

// Standard input is /dev/null, no descriptor beyond 2 is inherited, no
// signal the caller ignores or blocks stays ignored or blocked (the start
// itself blocks them all), the child leads a process group of its own and,
// once a run asks for it, dies with its parent: the stand-in tool, executed
// directly, names whatever is not so.
TEST(ChildProcess, ChildStartsWithNothingOfTheCaller) {
    std::string out;
    Args args{"invocation"};
    const int extra = open("/dev/null", O_RDONLY);  // not close-on-exec
    sigset_t blocked, before;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigprocmask(SIG_BLOCK, &blocked, &before);
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const std::string clean = "Version: invocation|" + std::filesystem::current_path().string();
    EXPECT_EQ(forkExecvGetOutErr(out, VERSTALLY_PRINT_INVOCATION_PATH, args.argv), 0);
    EXPECT_EQ(out, clean + "|no parent-death signal\n");
    bindChildrenToStarter();
    out.clear();
    EXPECT_EQ(forkExecvGetOutErr(out, VERSTALLY_PRINT_INVOCATION_PATH, args.argv), 0);
    EXPECT_EQ(out, clean + "\n");
    signal(SIGPIPE, previous);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    close(extra);
}

// Both streams are drained together: far more than a pipe holds on each
// at once, and interleaved lines, arrive whole and in order per stream.
TEST(ChildProcess, BothStreamsAreCollectedWholeAndInOrder) {
    const std::pair<std::string, int> cases[] = {
        {"head -c 1048576 /dev/zero | tr '\\0' o & head -c 1048576 /dev/zero | tr '\\0' e >&2; wait", 1},
        {"for i in $(seq 1 2000); do echo o$i; echo e$i >&2; done", 2000},
    };
    for (const auto& c : cases) {
        std::string out, err;
        Args args{"sh", "-c", c.first};
        EXPECT_EQ(forkExecvGetOutErr(out, err, "/bin/sh", args.argv), 0);
        std::string expectOut, expectErr;
        if (c.second == 1) {
            expectOut.assign(1048576, 'o');
            expectErr.assign(1048576, 'e');
        }
        for (int i = 1; c.second > 1 && i <= c.second; ++i) {
            expectOut += "o" + std::to_string(i) + "\n";
            expectErr += "e" + std::to_string(i) + "\n";
        }
        EXPECT_TRUE(out == expectOut && err == expectErr) << c.first << ": " << out.size() << "/" << err.size();
    }
}

// A program that cannot be started is told from one that ran, and an
// absent one from one that is there: its interpreter or loader missing.
// (What /dev/null can be is a row of the update run's faults.)
TEST(ChildProcess, StartErrorSaysWhichStepFailedAndWhy) {
    SKIP_UNLESS_ROOT();
    char pattern[] = "/var/tmp/verstally-programs.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string garbage = dir + "/garbage", script = dir + "/script", loaderless = dir + "/loaderless";
    std::string elf = readWholeFile("/bin/true");
    const std::size_t loader = elf.find("/lib64/ld-linux-x86-64.so.2");
    ASSERT_NE(loader, std::string::npos);
    elf[loader + 26] = 'X';
    const std::pair<std::string, std::string> files[] = {
        {garbage, "\x01\x02"}, {script, "#! /nonexistent/sh -e\n"}, {loaderless, elf}};
    for (const auto& file : files) {
        std::FILE* out = std::fopen(file.first.c_str(), "w");
        ASSERT_EQ(std::fwrite(file.second.data(), 1, file.second.size(), out), file.second.size());
        std::fclose(out);
        chmod(file.first.c_str(), 0755);
    }
    const struct {
        std::string path;
        int status;
        StartStep step;
        int error;
        bool absent;
        std::string cause;
    } cases[] = {
        {"/bin/true", 0, StartStep::None, 0, false, ""},
        {"/bin/false", 1, StartStep::None, 0, false, ""},
        {"/nonexistent/tool", 1, StartStep::Exec, ENOENT, true, ""},
        {"/dev/null", 1, StartStep::Exec, EACCES, false, ""},
        {garbage, 1, StartStep::Exec, ENOEXEC, false, ""},
        {script, 1, StartStep::Exec, ENOENT, false, "interpreter /nonexistent/sh"},
        {loaderless, 1, StartStep::Exec, ENOENT, false, "loader /lib64/ld-linux-x86-64.so.X"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string out, err;
        Args args{"tool"};
        StartError failure;
        EXPECT_EQ(forkExecvGetOutErrExec(out, err, c.path, args.argv, failure), c.status);
        EXPECT_EQ(std::to_string(static_cast<int>(failure.step)) + " " + std::to_string(failure.error) + " " +
                      std::to_string(failure.absent) + " " + failure.cause,
                  std::to_string(static_cast<int>(c.step)) + " " + std::to_string(c.error) + " " +
                      std::to_string(c.absent) + " " + c.cause);
        // The bare start has no exit status to mix it up with: it throws.
        if (c.step == StartStep::None) continue;
        try {
            forkExecvPipes(-1, -1, -1, c.path, args.argv, static_cast<uid_t>(-1), {});
            ADD_FAILURE() << c.path << " started";
        } catch (const zev::ExSystemErrorBase& e) {
            EXPECT_EQ(e.errorNumber, c.error);
            EXPECT_EQ(e.message, "forkExecvPipes: execv() failed");
        }
    }
    std::filesystem::remove_all(dir);
}

// A caller that runs with standard descriptors closed: the pipe ends take
// their numbers, and the child's output must still arrive.
TEST(ChildProcess, OutputArrivesWhenTheCallerHasStandardDescriptorsClosed) {
    for (const std::vector<int>& closed : {std::vector<int>{0}, {0, 1}, {1}}) {
        Outcome r = captureInChild([&closed] {
            const int report = dup(2);
            for (int fd : closed) close(fd);
            std::string out, err;
            Args args{"sh", "-c", "echo out; echo err >&2"};
            forkExecvGetOutErr(out, err, "/bin/sh", args.argv);
            const std::string seen = out + "|" + err;
            ssize_t ignored = write(report, seen.data(), seen.size());
            (void)ignored;
        });
        EXPECT_EQ(r.err, "out\n|err\n") << "closed: " << closed.size();
    }
}

TEST(ChildProcess, Dup2CustomLeavesTheSameDescriptorAloneAndConnectsDevNullForMinusOne) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(dup2Custom(fd, fd), fd);
    EXPECT_EQ(fcntl(fd, F_GETFD), 0) << "open, and no longer closed on exec";
    close(fd);
    Outcome r = captureInChild([] {
        int saved = dup(1);
        dup2Custom(-1, 1);
        char path[64] = {};
        readlink("/proc/self/fd/1", path, sizeof path - 1);
        dup2(saved, 1);
        std::printf("%s", path);
    });
    EXPECT_EQ(r.out, "/dev/null");
}

TEST(ChildProcess, ForkFailureThrowsAndLeaksNoDescriptor) {
    SKIP_UNLESS_ROOT();
    Outcome r = captureInChild([] {
        struct rlimit none = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0 || setuid(NOBODY_ID) != 0) {
            std::printf("setup failed");
            return;
        }
        int before = openDescriptorCount();
        std::string out, err;
        Args args{"true"};
        try {
            forkExecvGetOutErr(out, err, "/bin/true", args.argv);
            std::printf("no exception");
        } catch (const zev::ExSystemError<11>& e) {
            std::printf("%s|%d", e.what(), openDescriptorCount() - before);
        }
    });
    EXPECT_EQ(r.out, std::string("forkExecvPipes: fork() failed: ") + std::strerror(EAGAIN) + "|0");
}

}  // namespace
