#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

extern char** environ;

process_result run_process(const std::vector<std::string>& args, const process_setup& setup) {
    process_result r;
    int in[2], out[2], err[2] = {-1, -1};
    if (pipe(in) || pipe(out)) {
        ADD_FAILURE() << "pipe failed";
        return r;
    }
    std::string terminal;
    if (setup.stderr_on_terminal) {
        err[0] = posix_openpt(O_RDWR | O_NOCTTY);
        if (err[0] < 0 || grantpt(err[0]) || unlockpt(err[0]) || !ptsname(err[0])) {
            ADD_FAILURE() << "no pseudo-terminal";
            return r;
        }
        terminal = ptsname(err[0]);
    } else if (pipe(err)) {
        ADD_FAILURE() << "pipe failed";
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    if (setup.stdout_path)
        posix_spawn_file_actions_addopen(&fa, 1, setup.stdout_path, O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    if (setup.stderr_on_terminal)
        posix_spawn_file_actions_addopen(&fa, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    else
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        if (fd >= 0) posix_spawn_file_actions_addclose(&fa, fd);

    std::vector<std::string> full = args;
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    if (err[1] >= 0) close(err[1]);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << args[0];
        for (int fd : {in[1], out[0], err[0]}) close(fd);
        return r;
    }
    // Feed standard input and drain both outputs together, so that neither
    // side can block the other. A terminal reports EIO once the child has
    // closed its side.
    size_t fed = 0;
    if (setup.input.empty()) {
        close(in[1]);
        in[1] = -1;
    } else {
        // A write must not wait for the child to read all of it.
        fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
    }
    std::string* sinks[] = {&r.out, &r.err};
    int fds[] = {out[0], err[0]};
    int open_outputs = 2;
    bool exited = false;
    int ws = 0;
    struct rusage ru {};
    while (open_outputs > 0 || in[1] >= 0) {
        pollfd p[3];
        int n = 0;
        for (int k = 0; k < 2; ++k)
            if (fds[k] >= 0) p[n++] = {fds[k], POLLIN, 0};
        if (in[1] >= 0) p[n++] = {in[1], POLLOUT, 0};
        int ready = poll(p, static_cast<nfds_t>(n), 200);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            // A terminal may stay open after the child is gone (nothing else
            // closes it): stop once the child has exited and the pipe is done.
            if (!exited && wait4(pid, &ws, WNOHANG, &ru) == pid) exited = true;
            if (exited && fds[0] < 0 && setup.stderr_on_terminal) break;
            continue;
        }
        for (int j = 0; j < n; ++j) {
            if (!p[j].revents) continue;
            if (p[j].fd == in[1]) {
                ssize_t w = write(in[1], setup.input.data() + fed, setup.input.size() - fed);
                if (w > 0) fed += static_cast<size_t>(w);
                if (w < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (w <= 0 || fed == setup.input.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            int k = p[j].fd == fds[0] ? 0 : 1;
            char buf[65536];
            ssize_t got = read(fds[k], buf, sizeof buf);
            if (got > 0) {
                sinks[k]->append(buf, static_cast<size_t>(got));
            } else {
                close(fds[k]);
                fds[k] = -1;
                --open_outputs;
            }
        }
    }
    for (int fd : {in[1], fds[0], fds[1]})
        if (fd >= 0) close(fd);
    if (!exited) wait4(pid, &ws, 0, &ru);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.max_rss_kb = ru.ru_maxrss;
    return r;
}
