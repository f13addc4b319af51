// The bare cost of an update run, for bench/compare: the dpkg-query command
// lines an update run made, run back to back with their output discarded,
// then one connection that sends the run's REPLACE statement. No shell and
// no client program stand in between, so this is the floor the run is
// measured against.
//
//   bare_cost <command-lines> <statement> <socket> <login> <password> <database>
//
// <command-lines>: each argument ends in a NUL byte and each command line
// in an empty argument; the first argument is the program to run.
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mysql.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool runDiscarding(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return failed == 0 && waitpid(child, &status, 0) == child;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: bare_cost <command-lines> <statement> <socket> <login> <password> <database>\n");
        return 2;
    }
    const std::string lines = readFile(argv[1]);
    std::vector<std::string> args;
    for (std::size_t pos = 0, end; pos < lines.size(); pos = end + 1) {
        end = lines.find('\0', pos);
        if (end == std::string::npos) end = lines.size();
        if (end > pos) {
            args.emplace_back(lines, pos, end - pos);
        } else if (!args.empty()) {
            if (!runDiscarding(args)) return 1;
            args.clear();
        }
    }

    const std::string statement = readFile(argv[2]);
    MYSQL* db = mysql_init(nullptr);
    if (db == nullptr || mysql_real_connect(db, "localhost", argv[4], argv[5], argv[6], 0, argv[3], 0) == nullptr ||
        mysql_real_query(db, statement.data(), statement.size()) != 0) {
        std::fprintf(stderr, "bare_cost: %s\n", db != nullptr ? mysql_error(db) : "no memory");
        return 1;
    }
    mysql_close(db);
    return 0;
}
