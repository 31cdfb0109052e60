// Starts real executables for end-to-end tests: argument vectors, no shell; standard
// output and error captured; past a deadline the child is killed so a hung process fails
// the test instead of stalling the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kestrel::test {

struct Outcome {
    int status = -1; // exit status; -1 when the process did not exit normally
    std::string out, err;
};

// A fresh directory of this process below the temporary one, removed with its contents.
struct TempDir {
    explicit TempDir(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::filesystem::path path;
};

class Child {
  public:
    Child(const std::string& program, const std::vector<std::string>& args) {
        // Profiles go below a data directory of this process unless the test chose one:
        // never the user's own, never one a parallel test's client saves to.
        static const TempDir home("kestrel-test-home");
        if (getenv("XDG_DATA_HOME") == nullptr) setenv("XDG_DATA_HOME", home.path.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())}; // posix_spawn copies them
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        int out_pipe[2];
        int err_pipe[2];
        if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        fds_[0] = out_pipe[0];
        fds_[1] = err_pipe[0];
        if (spawned != 0) {
            close(fds_[0]);
            close(fds_[1]);
            throw std::runtime_error("cannot start " + program);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Collects both streams until the child closes them, then reaps it; past the deadline
    // the child is killed first.
    Outcome wait(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        Outcome outcome;
        std::string* sinks[2] = {&outcome.out, &outcome.err};
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (fds_[0] >= 0 || fds_[1] >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                kill(pid_, SIGKILL);
                break;
            }
            pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            const int ready = poll(fds, 2, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) break;
            for (int i = 0; i < 2; ++i) {
                if (fds_[i] < 0 || fds[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t count = read(fds_[i], buffer, sizeof buffer);
                if (count > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(count));
                } else if (count == 0 || errno != EINTR) {
                    close(fds_[i]);
                    fds_[i] = -1;
                }
            }
        }
        int wait_status = 0;
        while (waitpid(pid_, &wait_status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
        return outcome;
    }

  private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
};

inline Outcome run(const std::string& program, const std::vector<std::string>& args,
                   std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    Child child(program, args);
    return child.wait(limit);
}

// A UDP port on loopback that nothing is bound to right now (released before it is
// returned, so a test starts its server on it at once).
inline int free_udp_port() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("no free port");
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

} // namespace kestrel::test
