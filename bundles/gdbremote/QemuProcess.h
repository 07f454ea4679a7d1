// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace hil::gdbremote {

/// One `qemu-system-arm` the back-end started: a machine halted before its first instruction,
/// its GDB stub on a free loopback port, UART0 and the target's semihosting output (SYS_WRITE0
/// and the like, handled by QEMU) on loopback sockets the process reads.
///
/// The process dies with the back-end (it is told so by the kernel) and is stopped by the
/// destructor: SIGTERM, then SIGKILL after 2 s. Every line of either output goes to the line
/// handler, from the process's own reader thread; the exit handler runs there when QEMU goes
/// away by itself (its sockets close before the destructor began).
class QemuProcess {
public:
    using LineHandler = std::function<void(const std::string& line)>;
    using ExitHandler = std::function<void()>;

    /// The QEMU executable: HIL_QEMU when set, else `qemu-system-arm` on the PATH; empty when
    /// neither is there.
    static std::string executable();

    /// Starts `machine` with `kernel` (an ELF file; none when empty). Throws
    /// `std::runtime_error` naming the problem: QEMU missing, a kernel that is not a readable
    /// ELF file for ARM, a machine QEMU does not know (with what QEMU said), no socket in time.
    QemuProcess(const std::string& machine, const std::string& kernel, LineHandler onLine, ExitHandler onExit = {});
    ~QemuProcess();
    QemuProcess(const QemuProcess&) = delete;
    QemuProcess& operator=(const QemuProcess&) = delete;

    std::uint16_t gdbPort() const { return gdbPort_; }
    pid_t pid() const { return pid_; }
    /// True while the process has not exited.
    bool alive() const;

    /// Throws `std::runtime_error` unless `path` is an ELF file for 32-bit ARM.
    static void checkKernel(const std::string& path);

private:
    void start(const std::string& program, const std::string& machine, const std::string& kernel, std::uint16_t uartPort,
               std::uint16_t semihostingPort);
    /// Reads UART0 and the semihosting output until QEMU goes.
    void readOutputs();
    void stop();

    pid_t pid_ = -1;
    std::uint16_t gdbPort_ = 0;
    std::vector<int> outputs_; ///< connected sockets: UART0, then semihosting
    std::string errorFile_;
    LineHandler onLine_;
    ExitHandler onExit_;
    std::atomic<bool> stopping_{false};
    std::thread outputReader_;
};

} // namespace hil::gdbremote
