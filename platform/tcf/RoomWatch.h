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

    /// Calls `waiter->onRoom()` once, as soon as `socket` takes more. Any thread.
    void watchOnce(int socket, std::shared_ptr<Waiter> waiter);
    /// Stops watching `socket`, which is about to be closed. Any thread.
    void forget(int socket);

private:
    void run();

    const int epoll_;
    const int wakeUp_; ///< an event descriptor that ends the thread
    std::mutex mutex_;
    std::map<int, std::shared_ptr<Waiter>> waiters_;
    std::thread thread_;
};

} // namespace hil::tcf
