// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/QemuProcess.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bundles/gdbremote/LineAssembler.h"
#include "platform/common/Errors.h"

namespace hil::gdbremote {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopGrace = std::chrono::seconds(2);
constexpr std::uint16_t kArmMachine = 40; // EM_ARM

/// Forks on a thread that lasts as long as the process and runs `child` in the new process. The
/// child's "die with my parent" (PR_SET_PDEATHSIG) follows the thread that forked it, not the
/// process, and the thread of the command that starts QEMU ends with its client: a target kept
/// between clients would lose its QEMU with the first. Returns the child's pid, or -errno.
pid_t forkOnLastingThread(const std::function<void()>& child)
{
    struct Request {
        const std::function<void()>* child;
        std::promise<pid_t> forked;
    };
    struct Launcher {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Request*> requests;
        Launcher()
        {
            std::thread([this] {
                for (;;) {
                    std::unique_lock lock(mutex);
                    wake.wait(lock, [this] { return !requests.empty(); });
                    Request* request = requests.front();
                    requests.pop_front();
                    lock.unlock();
                    const pid_t pid = ::fork();
                    if (pid == 0) {
                        (*request->child)();
                        ::_exit(127);
                    }
                    request->forked.set_value(pid < 0 ? -errno : pid);
                }
            }).detach();
        }
    };
    // Never destroyed: its thread waits on it until the process ends.
    static Launcher& launcher = *new Launcher;
    Request request{&child, {}};
    auto forked = request.forked.get_future();
    {
        std::lock_guard lock(launcher.mutex);
        launcher.requests.push_back(&request);
    }
    launcher.wake.notify_one();
    return forked.get();
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

/// A loopback port nobody listens on now. QEMU binds it a moment later; a clash makes it exit,
/// which the start reports.
std::uint16_t freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw TargetError(std::string("No free loopback port for QEMU: ") + std::strerror(errno));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

/// A connected socket to the loopback `port`, or -1.
int connectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

std::string readTail(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    while (!all.empty() && (all.back() == '\n' || all.back() == '\r'))
        all.pop_back();
    return all.size() > 400 ? all.substr(all.size() - 400) : all;
}

} // namespace

std::string QemuProcess::executable()
{
    if (const char* chosen = std::getenv("HIL_QEMU"); chosen && *chosen)
        return ::access(chosen, X_OK) == 0 ? chosen : "";
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/qemu-system-arm";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

void QemuProcess::checkKernel(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw NotFoundError("The kernel " + path + " cannot be read");
    unsigned char header[20] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() < static_cast<std::streamsize>(sizeof header) || std::memcmp(header, "\x7f" "ELF", 4) != 0)
        throw SourceFileError("The kernel " + path + " is not an ELF file");
    const unsigned machine = header[5] == 2 ? (header[18] << 8 | header[19]) : (header[19] << 8 | header[18]);
    if (header[4] != 1 || machine != kArmMachine)
        throw SourceFileError("The kernel " + path + " is an ELF file, but not for 32-bit ARM");
}

QemuProcess::QemuProcess(const std::string& machine, const std::string& kernel, LineHandler onLine, ExitHandler onExit)
    : onLine_(std::move(onLine)), onExit_(std::move(onExit))
{
    const std::string program = executable();
    if (program.empty())
        throw NotFoundError("qemu-system-arm is not installed (looked on the PATH and in HIL_QEMU)");
    if (!kernel.empty())
        checkKernel(kernel);
    // Three distinct ports: UART0, semihosting output, the stub.
    std::vector<std::uint16_t> ports;
    while (ports.size() < 3)
        if (const auto port = freeLoopbackPort(); std::find(ports.begin(), ports.end(), port) == ports.end())
            ports.push_back(port);
    gdbPort_ = ports[2];
    char errorFile[] = "/tmp/hilcore-qemu-XXXXXX";
    const int errorFd = ::mkstemp(errorFile);
    if (errorFd < 0)
        throw TargetError(std::string("Cannot make a file for QEMU's messages: ") + std::strerror(errno));
    ::close(errorFd);
    errorFile_ = errorFile;
    try {
        start(program, machine, kernel, ports[0], ports[1]);
    } catch (...) {
        stop();
        throw;
    }
    outputReader_ = std::thread([this] { readOutputs(); });
}

QemuProcess::~QemuProcess() { stop(); }

void QemuProcess::start(const std::string& program, const std::string& machine, const std::string& kernel,
                        std::uint16_t uartPort, std::uint16_t semihostingPort)
{
    const auto socket = [](const char* id, std::uint16_t port) {
        return "socket,id=" + std::string(id) + ",host=127.0.0.1,port=" + std::to_string(port) + ",server=on,wait=on";
    };
    std::vector<std::string> arguments{program, "-M", machine, "-display", "none", "-monitor", "none",
                                       "-chardev", socket("uart0", uartPort), "-serial", "chardev:uart0",
                                       "-chardev", socket("semihosting", semihostingPort),
                                       "-semihosting-config", "enable=on,target=native,chardev=semihosting",
                                       "-S", "-gdb", "tcp:127.0.0.1:" + std::to_string(gdbPort_)};
    if (!kernel.empty())
        arguments.insert(arguments.end(), {"-kernel", kernel});
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t forked = forkOnLastingThread([&] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The back-end's threads block the signals it waits for; QEMU must hear SIGTERM.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        const int output = ::open(errorFile_.c_str(), O_WRONLY | O_TRUNC);
        const int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(output, 2);
        // Nothing else of the back-end's goes with QEMU: an inherited listening or discovery
        // socket would stay bound for as long as QEMU runs.
        if (::close_range(3, ~0U, 0) != 0)
            for (int fd = 3; fd < 1024; ++fd)
                ::close(fd);
        ::execv(argv[0], argv.data());
    });
    if (forked < 0)
        throw TargetError(std::string("Cannot start QEMU: ") + std::strerror(-forked));
    pid_ = forked;
    // QEMU waits for a client of each socket in turn before the machine exists; its stub listens
    // after that.
    const auto deadline = Clock::now() + kStartTimeout;
    for (const auto& [port, what] : {std::pair{uartPort, "UART"}, std::pair{semihostingPort, "semihosting"}}) {
        int connected;
        while ((connected = connectLoopback(port)) < 0) {
            if (!alive())
                throw TargetError("qemu-system-arm could not start machine " + machine + ": " + readTail(errorFile_));
            if (Clock::now() > deadline)
                throw TargetError(std::string("qemu-system-arm did not open its ") + what + " socket within 10 s");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        outputs_.push_back(connected);
    }
}

bool QemuProcess::alive() const
{
    if (pid_ <= 0)
        return false;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void QemuProcess::readOutputs()
{
    std::vector<pollfd> watched;
    for (const int output : outputs_)
        watched.push_back({output, POLLIN, 0});
    std::vector<LineAssembler> lines(outputs_.size());
    const auto report = [this](const std::vector<std::string>& complete) {
        for (const auto& line : complete)
            if (onLine_)
                onLine_(line);
    };
    char buffer[4096];
    for (bool open = true; open;) {
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; i < watched.size() && open; ++i) {
            if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const auto received = ::recv(watched[i].fd, buffer, sizeof buffer, 0);
            if (received < 0 && errno == EINTR)
                continue;
            open = received > 0; // a socket closes when QEMU goes
            if (open)
                report(lines[i].feed(std::string_view(buffer, static_cast<std::size_t>(received))));
        }
    }
    for (auto& assembler : lines)
        if (auto rest = assembler.rest(); !rest.empty())
            report({rest});
    if (!stopping_ && onExit_)
        onExit_();
}

void QemuProcess::stop()
{
    stopping_ = true;
    // QEMU lingers on its way out while its sockets have a client: those go first.
    for (const int output : outputs_)
        ::shutdown(output, SHUT_RDWR);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + kStopGrace;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (outputReader_.joinable())
        outputReader_.join();
    for (const int output : outputs_)
        ::close(output);
    outputs_.clear();
    if (!errorFile_.empty())
        std::filesystem::remove(errorFile_);
}

} // namespace hil::gdbremote
