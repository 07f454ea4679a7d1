// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace hil::tcf {

/// Waits, on a thread of its own, for sockets whose output did not all fit, and tells their
/// owners once each can take more. Output waits only for a client that reads slowly, so one
/// thread serves every channel, and the threads that read never wait for room.
class RoomWatch {
public:
    /// Told once the socket it waits for has room; on the watch's thread.
    class Waiter {
    public:
        virtual void onRoom() = 0;

    protected:
        ~Waiter() = default;
    };

    /// Starts the thread. Throws `std::system_error` when the system has no descriptor left.
    RoomWatch();
    ~RoomWatch();
    RoomWatch(const RoomWatch&) = delete;
    RoomWatch& operator=(const RoomWatch&) = delete;

    /// Calls `waiter->onRoom()` once, as soon as `socket` takes more. Any thread. Returns 0, or
    /// the `errno` of the system's refusal (no memory, the watch limit reached), in which case
    /// nothing will call the waiter.
    int watchOnce(int socket, std::shared_ptr<Waiter> waiter);
    /// Stops watching `socket`, which is about to be closed. Any thread.
    void forget(int socket);

private:
    void run();

    const int epoll_;
    const int wakeUp_; ///< an event descriptor that ends the thread
    /// The innermost lock: held while calling no one.
    std::mutex mutex_;
    std::map<int, std::shared_ptr<Waiter>> waiters_;
    std::thread thread_;
};

} // namespace hil::tcf
