#include "PymodbusServer.h"

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tw::test {

TPymodbusServer::TPymodbusServer() {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // Debian's interpreter: the one that has pymodbus, whatever python3 comes first on PATH.
    char python[] = "/usr/bin/python3";
    char script[] = TW_PYMODBUS_SERVER;
    char* argv[] = {python, script, nullptr};
    if (posix_spawn(&Pid, python, &actions, nullptr, argv, environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (FILE* f = fdopen(out[0], "r")) {
        if (fscanf(f, "%d", &ServerPort) != 1) ServerPort = 0;
        fclose(f);
    } else {
        close(out[0]);
    }
}

TPymodbusServer::~TPymodbusServer() {
    if (Pid > 0) {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }
}

}  // namespace tw::test
