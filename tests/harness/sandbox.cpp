#include "harness/sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <stdexcept>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char* const SANDBOX_PASSWD =
    "root:x:0:0:root:/root:/bin/sh\n"
    "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n";
const char* const SANDBOX_GROUP = "root:x:0:\nnogroup:x:65534:\n";

namespace {

// Trees that a sandbox may lay its own files over. /etc is always overlaid,
// so that a test can write there freely.
const char* const OVERLAID_TREES[] = {"/etc", "/usr", "/var/lib/mysql", "/tmp", "/dev"};

// What of the machine's /etc would steer the code under test, or the
// programs it starts, is never seen inside:
// 1. these directories hold the test's own files alone (the panel's
//    configuration, the MariaDB option files);
const char* const OWN_DIRECTORIES[] = {"/etc/zev", "/etc/mysql"};
// 2. these files are absent unless the test writes them;
const char* const ABSENT_FILES[] = {"/etc/my.cnf", "/etc/shadow", "/etc/gshadow"};
// 3. the accounts are SANDBOX_PASSWD and SANDBOX_GROUP unless the test
//    writes its own, looked up in those files alone (host names through
//    DNS too, for the programs that download);
const char* const SANDBOX_NSSWITCH =
    "passwd: files\ngroup: files\nshadow: files\ngshadow: files\nhosts: files dns\nnetworks: files\n"
    "protocols: files\nservices: files\nethers: files\nrpc: files\nnetgroup: files\n";
// 4. the C library asks a running name-service cache before any of those
//    files: its socket's directory is covered by an empty one;
const char* const NAME_CACHE_DIR = "/var/run/nscd";
// 5. no home directory, so that no ~/.my.cnf is read, and none of the
//    variables that name another directory of MariaDB option files.
const char* const UNSET_VARIABLES[] = {"HOME", "MYSQL_HOME", "MARIADB_HOME"};
// A directory below "/" of every root, for leaving a plain chroot.
const char* const ESCAPE_DIR = "/etc";
// The extended attribute that makes a directory of the upper layer hide
// the lower one's.
const char* const OPAQUE_ATTRIBUTE = "trusted.overlay.opaque";

[[noreturn]] void enterFailed(const char* what, const std::string& path) {
    childFailed(std::string("sandbox: ") + what + " " + path + ": " + std::strerror(errno));
}

[[noreturn]] void failed(const std::string& what) {
    throw std::runtime_error("sandbox: " + what + ": " + std::strerror(errno));
}

// Writes `content` to `path` unless something is there already.
void writeIfAbsent(const std::string& path, const char* content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) return;
    const std::size_t length = std::strlen(content);
    if (fd < 0 || write(fd, content, length) != static_cast<ssize_t>(length)) enterFailed("write", path);
    close(fd);
}

// The built tool where any account can reach it, whatever the modes of the
// directories above the build tree: bound, in the calling process's mount
// namespace, onto a file in the sandbox directory (mode 0755).
std::string reachableTool(const Sandbox& sandbox) {
    const std::string dir = sandbox.root() + "/.tool", path = dir + "/verstally";
    mkdir(dir.c_str(), 0755);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
    if (fd < 0) enterFailed("create", path);
    close(fd);
    if (mount(VERSTALLY_TOOL_PATH, path.c_str(), nullptr, MS_BIND, nullptr) != 0) enterFailed("bind", path);
    return path;
}

// The child half of startTool; never returns.
[[noreturn]] void execTool(const Sandbox& sandbox, const ToolRun& run, const std::string& outPath,
                           const std::string& errPath) {
    redirectInChild(0, "/dev/null", O_RDONLY);
    redirectInChild(1, outPath, O_WRONLY | O_CREAT | O_TRUNC);
    redirectInChild(2, errPath, O_WRONLY | O_CREAT | O_TRUNC);
    sandbox.enter();
    if (run.maxProcesses >= 0) {
        struct rlimit limit = {static_cast<rlim_t>(run.maxProcesses), static_cast<rlim_t>(run.maxProcesses)};
        if (setrlimit(RLIMIT_NPROC, &limit) != 0) enterFailed("process limit", "");
    }
    const std::string binary = VERSTALLY_TOOL_PATH;
    std::string executable = binary;
    if (run.uid != 0 || run.gid != 0) {
        executable = reachableTool(sandbox);
        if (setgroups(0, nullptr) != 0 || setgid(run.gid) != 0 || setuid(run.uid) != 0) enterFailed("identity", "");
        dieWithParent();
    }
    std::vector<std::string> args;
    args.push_back(run.argv0.empty() ? binary : run.argv0);
    args.insert(args.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    if (!run.noArguments)
        for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    for (const auto& entry : run.env) envText.push_back(entry.first + "=" + entry.second);
    std::vector<char*> envp;
    for (auto& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    if (run.closeStandardStreams)
        for (int fd = 0; fd <= 2; ++fd) close(fd);
    int unread[2];
    if (run.outputUnread && (pipe(unread) != 0 || close(unread[0]) != 0 || dup2(unread[1], 1) != 1))
        enterFailed("pipe", "standard output");
    if (run.hostileSignals) {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int signal : {SIGALRM, SIGCHLD, SIGTERM}) sigaddset(&blocked, signal);
        if (signal(SIGCHLD, SIG_IGN) == SIG_ERR || sigprocmask(SIG_BLOCK, &blocked, nullptr) != 0)
            enterFailed("signals", "");
    }
    std::string script = run.wrapper + "\nexec \"$0\" \"$@\"", shell = "/bin/sh";
    if (!run.wrapper.empty()) {
        // The shell's $0 names the tool in place of its own argv[0].
        argv[0] = executable.data();
        argv.insert(argv.begin(), {const_cast<char*>("sh"), const_cast<char*>("-c"), script.data()});
    }
    execve(run.wrapper.empty() ? executable.c_str() : shell.c_str(), argv.data(), envp.data());
    enterFailed("exec", executable);
}

}  // namespace

void enterPrivateMountNamespace() {
    if (unshare(CLONE_NEWNS) != 0) enterFailed("unshare", "the mount namespace");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) return;
    if (errno != EINVAL) enterFailed("make private", "/");
    // A plain chroot: "/" is no mount point and cannot be changed by that
    // name. The process climbs out of the chroot to the namespace's root
    // (from its working directory, left outside when it chroots into a
    // directory below; any will do), changes it there, and returns into the
    // chroot through a descriptor of its root. Only this process's root and
    // this namespace's mounts change.
    const int chrootRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int workingDir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (chrootRoot < 0 || workingDir < 0) enterFailed("open", "/");
    if (fchdir(chrootRoot) != 0 || chroot(ESCAPE_DIR) != 0) enterFailed("chroot", ESCAPE_DIR);
    struct stat here, up;
    for (int level = 0; level < 4096; ++level) {
        if (stat(".", &here) != 0 || stat("..", &up) != 0) enterFailed("stat", "..");
        if (here.st_dev == up.st_dev && here.st_ino == up.st_ino) break;
        if (chdir("..") != 0) enterFailed("chdir", "..");
    }
    if (chroot(".") != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        enterFailed("make private", "the namespace's root (outside the chroot)");
    if (fchdir(chrootRoot) != 0 || chroot(".") != 0 || fchdir(workingDir) != 0) enterFailed("return into", "the chroot");
    close(chrootRoot);
    close(workingDir);
}

Sandbox::Sandbox() {
    char pattern[] = "/var/tmp/verstally-sandbox.XXXXXX";
    if (mkdtemp(pattern) == nullptr) failed(std::string("mkdtemp ") + pattern);
    root_ = pattern;
    if (chmod(root_.c_str(), 0755) != 0) failed("chmod " + root_);
    makeDir(productRoot() + "/tmp", 0755);
}

Sandbox::Sandbox(const std::string& directory) : root_(directory), owned_(false) {
    if (root_.empty() || root_[0] != '/') throw std::runtime_error("sandbox: not an absolute path: " + root_);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    if (owned_) fs::remove_all(root_, ignored);
}

std::string Sandbox::layerPath(const std::string& realPath) const {
    return realPath.rfind(root_ + "/", 0) == 0 ? realPath : root_ + realPath;
}

void Sandbox::makeDir(const std::string& realPath, mode_t mode) const {
    const std::string path = layerPath(realPath);
    fs::create_directories(path);
    chmod(path.c_str(), mode);
}

void Sandbox::writeFile(const std::string& realPath, const std::string& content, mode_t mode) const {
    const std::string path = layerPath(realPath);
    fs::create_directories(fs::path(path).parent_path());
    unlink(path.c_str());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out || chmod(path.c_str(), mode) != 0) failed("write " + path);
}

void Sandbox::symlink(const std::string& target, const std::string& realPath) const {
    const std::string path = layerPath(realPath);
    fs::create_directories(fs::path(path).parent_path());
    unlink(path.c_str());
    if (::symlink(target.c_str(), path.c_str()) != 0) failed("symlink " + path);
}

void Sandbox::remove(const std::string& realPath) const {
    const std::string path = layerPath(realPath);
    fs::create_directories(fs::path(path).parent_path());
    std::error_code ignored;
    fs::remove_all(path, ignored);
    if (mknod(path.c_str(), S_IFCHR, makedev(0, 0)) != 0) failed("whiteout " + path);
}

std::string Sandbox::readFile(const std::string& realPath) const { return readWholeFile(layerPath(realPath)); }

void Sandbox::writeProductConf(const std::string& omit, const std::string& productRoot) const {
    const std::string rootDir = productRoot.empty() ? this->productRoot() : productRoot;
    const std::pair<const char*, std::string> keys[] = {
        {"PRODUCT_ROOT_D", rootDir}, {"HTTPD_VHOSTS_D", "/var/www/vhosts"}, {"HTTPD_CONF_D", "/etc/apache2"},
        {"HTTPD_BIN_D", "/usr/bin"}, {"QMAIL_ROOT_D", "/var/qmail"}, {"QMAIL_MAILNAMES_D", "/var/qmail/mailnames"},
        {"FTPD_CONF", "/etc/proftpd.conf"}, {"FTPD_CONF_INC", "/etc/proftpd.include"}, {"FTPD_BIN_D", "/usr/bin"},
        {"NAMED_RUN_ROOT_D", "/var/named/run-root"}, {"WEB_STAT", "/usr/bin/webalizer"},
        {"LOGROTATE", "/usr/sbin/logrotate"}, {"MYSQL_VAR_D", "/var/lib/mysql"}, {"MYSQL_BIN_D", "/usr/bin"},
        {"PGSQL_BIN_D", "/usr/lib/postgresql/bin"}, {"PGSQL_DATA_D", "/var/lib/postgresql/data"},
        {"MAILMAN_ROOT_D", "/usr/lib/mailman"}, {"MAILMAN_VAR_D", "/var/lib/mailman"}, {"PRODUCT_RC_D", "/etc/init.d"},
        {"DUMP_D", "/var/lib/zev/dumps"}, {"CATALINA_HOME", "/usr/share/tomcat4"}, {"DRWEB_ROOT_D", "/opt/drweb"},
        {"DRWEB_ETC_D", "/etc/drweb"},
    };
    std::string text = "# product configuration\n";
    for (const auto& key : keys) {
        if (omit == key.first) continue;
        text += std::string(key.first) + "\t" + key.second + "\n";
    }
    writeFile("/etc/zev/zev.conf", text);
}

void Sandbox::keepOutTheMachine() const {
    for (const char* dir : OWN_DIRECTORIES) {
        const std::string path = layerPath(dir);
        fs::create_directories(path);
        if (setxattr(path.c_str(), OPAQUE_ATTRIBUTE, "y", 1, 0) != 0) enterFailed("make opaque", path);
    }
    for (const char* file : ABSENT_FILES) {
        const std::string path = layerPath(file);
        // A whiteout: a character device 0/0 in the upper layer.
        if (mknod(path.c_str(), S_IFCHR, makedev(0, 0)) != 0 && errno != EEXIST) enterFailed("whiteout", path);
    }
    writeIfAbsent(layerPath("/etc/passwd"), SANDBOX_PASSWD);
    writeIfAbsent(layerPath("/etc/group"), SANDBOX_GROUP);
    writeIfAbsent(layerPath("/etc/nsswitch.conf"), SANDBOX_NSSWITCH);
}

void Sandbox::enter() const {
    // Overlay mounts that share upper and work directories fail when they
    // are made at the same moment: processes entering together take turns.
    const std::string lockPath = root_ + "/.enter-lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) enterFailed("lock", lockPath);
    enterPrivateMountNamespace();
    keepOutTheMachine();
    for (const char* tree : OVERLAID_TREES) {
        const std::string upper = layerPath(tree);
        struct stat st;
        bool wanted = std::strcmp(tree, "/etc") == 0 || stat(upper.c_str(), &st) == 0;
        if (!wanted || stat(tree, &st) != 0) continue;
        const std::string work = root_ + "/.work" + tree;
        fs::create_directories(upper);
        fs::create_directories(work);
        const std::string options = "lowerdir=" + std::string(tree) + ",upperdir=" + upper + ",workdir=" + work;
        // The overlay hides what is mounted below the tree; /dev/shm (where
        // the test server's socket may lie) is put back.
        const int shm = std::strcmp(tree, "/dev") == 0 ? open("/dev/shm", O_PATH | O_CLOEXEC) : -1;
        if (mount("overlay", tree, "overlay", 0, options.c_str()) != 0) enterFailed("overlay", tree);
        if (shm >= 0 && mount(("/proc/self/fd/" + std::to_string(shm)).c_str(), "/dev/shm", nullptr, MS_BIND,
                              nullptr) != 0)
            enterFailed("bind", "/dev/shm");
        if (shm >= 0) close(shm);
    }
    struct stat st;
    if (stat(NAME_CACHE_DIR, &st) == 0 && S_ISDIR(st.st_mode) &&
        mount("tmpfs", NAME_CACHE_DIR, "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=4k") != 0)
        enterFailed("cover", NAME_CACHE_DIR);
    const std::string proc = layerPath("/proc");
    if (stat(proc.c_str(), &st) == 0) {
        // The entering process (the program it executes keeps its pid)
        // still finds its own real entry as /proc/self and /proc/<pid>:
        // the sanitizer runtimes of a sanitizer build read them.
        for (const std::string& entry : {std::string("self"), std::to_string(getpid())}) {
            const std::string placeholder = proc + "/" + entry;
            mkdir(placeholder.c_str(), 0555);
            const std::string own = "/proc/" + std::to_string(getpid());
            if (mount(own.c_str(), placeholder.c_str(), nullptr, MS_BIND, nullptr) != 0)
                enterFailed("bind", placeholder);
        }
        if (mount(proc.c_str(), "/proc", nullptr, MS_BIND | MS_REC, nullptr) != 0) enterFailed("bind", "/proc");
    }
    for (const char* name : UNSET_VARIABLES) unsetenv(name);
    close(lock);
}

Outcome runInSandbox(const Sandbox& sandbox, const std::function<void()>& body) {
    return captureInChild([&] {
        sandbox.enter();
        body();
    });
}

int startTool(const Sandbox& sandbox, const ToolRun& run, const std::string& outPath, const std::string& errPath) {
    return startChild([&] { execTool(sandbox, run, outPath, errPath); });
}

Outcome runTool(const Sandbox& sandbox, const ToolRun& run) {
    const std::string outPath = captureFile("out");
    const std::string errPath = captureFile("err");
    return collectChild(startTool(sandbox, run, outPath, errPath), outPath, errPath);
}
