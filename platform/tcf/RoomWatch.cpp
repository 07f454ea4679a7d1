// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/RoomWatch.h"

#include <cerrno>
#include <system_error>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/common/ThreadName.h"

namespace hil::tcf {

namespace {
int checked(int descriptor, const char* what)
{
    if (descriptor < 0)
        throw std::system_error(errno, std::system_category(), what);
    return descriptor;
}
} // namespace

RoomWatch::RoomWatch()
    : epoll_(checked(::epoll_create1(EPOLL_CLOEXEC), "epoll_create1")),
      wakeUp_(checked(::eventfd(0, EFD_CLOEXEC), "eventfd"))
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wakeUp_;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeUp_, &event) != 0) {
        const int error = errno;
        ::close(wakeUp_);
        ::close(epoll_);
        throw std::system_error(error, std::system_category(), "epoll_ctl");
    }
    thread_ = std::thread([this] { run(); });
}

RoomWatch::~RoomWatch()
{
    const std::uint64_t one = 1;
    (void)!::write(wakeUp_, &one, sizeof one);
    thread_.join();
    ::close(wakeUp_);
    ::close(epoll_);
}

int RoomWatch::watchOnce(int socket, std::shared_ptr<Waiter> waiter)
{
    epoll_event event{};
    event.events = EPOLLOUT | EPOLLONESHOT;
    event.data.fd = socket;
    std::lock_guard lock(mutex_);
    const bool known = waiters_.contains(socket);
    if (::epoll_ctl(epoll_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) != 0) {
        const int error = errno;
        waiters_.erase(socket);
        return error;
    }
    waiters_[socket] = std::move(waiter);
    return 0;
}

void RoomWatch::forget(int socket)
{
    std::lock_guard lock(mutex_);
    if (waiters_.erase(socket) != 0)
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
}

void RoomWatch::run()
{
    setCurrentThreadName("TCF room");
    for (;;) {
        epoll_event events[16];
        const int ready = ::epoll_wait(epoll_, events, 16, -1);
        for (int i = 0; i < ready; ++i) {
            const int socket = events[i].data.fd;
            if (socket == wakeUp_)
                return;
            std::shared_ptr<Waiter> waiter;
            {
                std::lock_guard lock(mutex_);
                // Gone if its socket was forgotten meanwhile; a socket of the same number opened
                // since would only be asked once more whether it has room, which does no harm.
                if (auto found = waiters_.extract(socket)) {
                    waiter = std::move(found.mapped());
                    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
                }
            }
            if (waiter)
                waiter->onRoom();
        }
    }
}

} // namespace hil::tcf
