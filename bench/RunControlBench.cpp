// SPDX-License-Identifier: Apache-2.0
// Run control of QEMU's mps2-an385 running the test firmware, through the back-end over TCF.
//
// Breakpoint hits: a breakpoint on an instruction of the firmware's spin loop, so that every
// resume hits it again at once; each hit is timed from the client's "resume" to its
// "contextSuspended" (an upper bound of the time from the hit to the event). The baseline is a
// blocking-socket client of a second QEMU's GDB stub doing the same: "vCont;c" to the stop reply
// at the same breakpoint, then the PC read, as the back-end does. Hits alternate between the two.
//
// Steps: instruction steps per second through the back-end (one "resume" of 1,000 steps, and 200
// "resume"s of one step each) against gdb-multiarch's "stepi 1000" on a third QEMU, between two
// time stamps, interleaved round by round.
//
// Usage: runcontrol_bench [HITS] [ROUNDS] (default 1000 and 5). Needs qemu-system-arm,
// gdb-multiarch and the test firmware.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include <boost/json.hpp>

#include "bench/GdbMultiarch.h"
#include "bench/Median.h"
#include "bench/SyncTcfClient.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "platform/rsp/RspCodec.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
using hil::bench::median;
using hil::bench::timeGdb;
const std::string kDevice = R"("gdbremote-1.MPS2-AN385")";

double microseconds(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

/// The cheapest client of a GDB stub: one blocking socket, no-ack mode, no threads.
class PlainRsp {
public:
    explicit PlainRsp(std::uint16_t port)
    {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot reach the GDB stub");
        const int on = 1;
        ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        request("qSupported:swbreak+;hwbreak+;vContSupported+");
        request("QStartNoAckMode");
        noAck_ = true;
    }
    ~PlainRsp() { ::close(socket_); }

    /// Sends a packet and returns the reply's payload.
    std::string request(const std::string& packet)
    {
        send(packet);
        return reply();
    }
    void send(const std::string& packet)
    {
        char checksum[4];
        std::snprintf(checksum, sizeof checksum, "%02x", hil::rsp::checksum(packet));
        const std::string frame = "$" + packet + "#" + checksum;
        ::send(socket_, frame.data(), frame.size(), 0);
    }
    /// The next packet's payload; output packets ("O...") are passed over.
    std::string reply()
    {
        for (;;) {
            const auto start = pending_.find('$');
            const auto end = start == std::string::npos ? std::string::npos : pending_.find('#', start);
            if (end != std::string::npos && pending_.size() >= end + 3) {
                std::string payload = pending_.substr(start + 1, end - start - 1);
                pending_.erase(0, end + 3);
                if (!noAck_)
                    ::send(socket_, "+", 1, 0);
                if (payload.size() > 1 && payload[0] == 'O' && payload != "OK")
                    continue;
                return payload;
            }
            char buffer[4096];
            const auto count = ::recv(socket_, buffer, sizeof buffer, 0);
            if (count <= 0)
                throw std::runtime_error("the GDB stub closed");
            pending_.append(buffer, static_cast<std::size_t>(count));
        }
    }

private:
    int socket_ = -1;
    bool noAck_ = false;
    std::string pending_;
};

/// Waits for the back-end's next contextSuspended; the reply of the command that caused it may
/// come before or after it.
void awaitStop(hil::bench::SyncTcfClient& client)
{
    client.receiveEvent("RunControl", "contextSuspended");
    const auto reply = client.receive(hil::tcf::MessageKind::Reply);
    if (reply.fields.size() < 2 || !reply.fields[1].empty())
        throw std::runtime_error("a resume failed: " + (reply.fields.size() > 1 ? reply.fields[1] : std::string()));
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    const int hits = argc > 1 ? std::stoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 5;
    if (hil::gdbremote::QemuProcess::executable().empty() || std::system("command -v gdb-multiarch >/dev/null") != 0 ||
        std::string(HIL_FIRMWARE_ELF).empty()) {
        std::cerr << "needs qemu-system-arm, gdb-multiarch and the test firmware\n";
        return 2;
    }
    hil::fakes::TempDirectory directory;
    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withGdbRemote(directory.path()));
    hil::bench::SyncTcfClient client(backend.port());
    const std::string kernel = boost::json::serialize(boost::json::object{{"Kernel", HIL_FIRMWARE_ELF}});
    if (client.call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")", kernel})
                .at(0) != "" ||
        client.call("Tool", "connect", {R"("gdbremote-1")"}).at(0) != "") {
        std::cerr << "the back-end could not start its QEMU\n";
        return 1;
    }
    hil::gdbremote::QemuProcess plainQemu("mps2-an385", HIL_FIRMWARE_ELF, nullptr);
    hil::gdbremote::QemuProcess gdbsQemu("mps2-an385", HIL_FIRMWARE_ELF, nullptr);

    // Into the spin loop on both: run a moment, halt, and take the PC there.
    client.send("RunControl", "resume", {kDevice, "0", "1"});
    client.receive(hil::tcf::MessageKind::Reply);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client.send("RunControl", "suspend", {kDevice});
    awaitStop(client);
    const auto state = client.call("RunControl", "getState", {kDevice});
    const std::uint64_t loop = std::stoull(state.at(2));
    char location[32];
    std::snprintf(location, sizeof location, "0x%llx", static_cast<unsigned long long>(loop));
    const boost::json::object breakpoint{{"ID", "loop"}, {"Enabled", true}, {"Location", location}};
    if (const auto added = client.call("Breakpoints", "add", {boost::json::serialize(breakpoint)}); added.at(0) != "") {
        std::cerr << "the breakpoint was refused: " << added.at(0) << "\n";
        return 1;
    }
    PlainRsp plain(plainQemu.gdbPort());
    char z0[48];
    std::snprintf(z0, sizeof z0, "Z0,%llx,2", static_cast<unsigned long long>(loop));
    plain.request(z0);
    plain.send("vCont;c");
    plain.reply();

    std::vector<double> backendHit, plainHit;
    for (int hit = 0; hit < hits; ++hit) {
        auto start = Clock::now();
        client.send("RunControl", "resume", {kDevice, "0", "1"});
        awaitStop(client);
        backendHit.push_back(microseconds(Clock::now() - start));
        start = Clock::now();
        plain.send("vCont;c");
        plain.reply();
        plain.request("p0f");
        plainHit.push_back(microseconds(Clock::now() - start));
    }
    client.call("Breakpoints", "remove", {R"(["loop"])"});
    std::printf("breakpoint hits, resume to stop (us), %d each, interleaved\n", hits);
    std::printf("%-28s %10s %10s\n", "", "median", "99th");
    std::printf("%-28s %10.0f %10.0f\n", "back-end (contextSuspended)", median(backendHit), percentile(backendHit, 0.99));
    std::printf("%-28s %10.0f %10.0f\n", "plain RSP client", median(plainHit), percentile(plainHit, 0.99));

    constexpr int kSteps = 1000;
    constexpr int kSingleSteps = 200;
    std::vector<double> counted, single, gdb;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        client.send("RunControl", "resume", {kDevice, "2", std::to_string(kSteps)});
        awaitStop(client);
        counted.push_back(kSteps / std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        for (int step = 0; step < kSingleSteps; ++step) {
            client.send("RunControl", "resume", {kDevice, "2", "1"});
            awaitStop(client);
        }
        single.push_back(kSingleSteps / std::chrono::duration<double>(Clock::now() - start).count());
        gdb.push_back(kSteps / timeGdb(gdbsQemu.gdbPort(), "stepi " + std::to_string(kSteps)));
    }
    std::printf("\ninstruction steps/s, medians of %d interleaved rounds\n", rounds);
    std::printf("%-34s %10.0f  ratio %.2f\n", "back-end, one resume of 1000", median(counted), median(counted) / median(gdb));
    std::printf("%-34s %10.0f  ratio %.2f\n", "back-end, one resume a step", median(single), median(single) / median(gdb));
    std::printf("%-34s %10.0f\n", "gdb-multiarch stepi 1000", median(gdb));
    for (int round = 0; round < rounds; ++round)
        std::printf("round %d: %.0f / %.0f / %.0f steps/s\n", round + 1, counted[round], single[round], gdb[round]);
    return 0;
}
