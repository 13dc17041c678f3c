#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "cli/Processes.h"

extern char** environ;

namespace cli {

std::string SelfPath() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length))
                      : std::string("fwupgrade");
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

std::string HostName() {
    std::array<char, 256> name{};
    return ::gethostname(name.data(), name.size() - 1) == 0 ? std::string(name.data())
                                                            : std::string();
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

void AttachParentConsole() {}

namespace {
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int /*signal*/) { g_stop = true; }
} // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in progress returns, and the loop around it looks at the stop.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop; }

void StopWhenParentEnds() {
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have gone before the line above: then this process was handed on.
    if (::getppid() == 1) {
        g_stop = true;
    }
#endif
}

struct Child::Impl {
    pid_t pid = -1;
    int output = -1;
    bool ended = false;
    bool stopped = false;
};

Child::Child(const std::string& program, const std::vector<std::string>& arguments)
    : m_impl(std::make_unique<Impl>()) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned =
        ::posix_spawn(&m_impl->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        m_impl->pid = -1;
        ::close(pipe[0]);
        return;
    }
    m_impl->output = pipe[0];
}

Child::~Child() {
    if (m_impl->output >= 0) {
        ::close(m_impl->output);
    }
    if (m_impl->pid > 0 && !m_impl->ended) {
        int status = 0;
        while (::waitpid(m_impl->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool Child::Started() const { return m_impl->pid > 0; }

void Child::Stop() {
    if (Started() && !m_impl->ended && !m_impl->stopped) {
        ::kill(m_impl->pid, SIGTERM);
        m_impl->stopped = true;
    }
}

bool Child::Poll() {
    if (!Started() || m_impl->ended) {
        return true;
    }
    pollfd ready{m_impl->output, POLLIN, 0};
    while (::poll(&ready, 1, 100) > 0) {
        std::array<char, 4096> chunk{};
        const ssize_t got = ::read(m_impl->output, chunk.data(), chunk.size());
        if (got <= 0) {
            int status = 0;
            while (::waitpid(m_impl->pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_impl->ended = true;
            return true;
        }
        m_output.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return false;
}

} // namespace cli
