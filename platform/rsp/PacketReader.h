// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hil::rsp {

/// Cuts the byte stream of a GDB remote protocol connection into what it carries, whichever side
/// reads it: packets (checked and decoded), acknowledgements, and the interrupt byte. Bytes
/// between packets that mean nothing are dropped. No I/O.
class PacketReader {
public:
    enum class Kind {
        Packet,       ///< `$...#cc` with a good checksum; `payload` decoded
        BadChecksum,  ///< `$...#cc` whose checksum is wrong: to be answered '-'
        Notification, ///< `%...#cc`, never acknowledged; `payload` decoded
        Ack,          ///< '+'
        Nak,          ///< '-'
        Interrupt     ///< the raw byte 0x03 between packets
    };
    struct Item {
        Kind kind;
        std::string payload;
    };

    /// `maxPacketBytes` bounds one packet's payload as it came (before decoding).
    explicit PacketReader(std::size_t maxPacketBytes) : maxPacketBytes_(maxPacketBytes) {}

    /// The items `bytes` completes, in order; a packet cut between two calls comes whole from the
    /// second. Throws `std::runtime_error` for a packet longer than the bound or one whose
    /// run-length encoding is broken: the stream cannot be trusted after either.
    std::vector<Item> feed(std::string_view bytes);

private:
    enum class State { Idle, Payload, Checksum1, Checksum2 } state_ = State::Idle;
    std::size_t maxPacketBytes_;
    std::string payload_;
    char checksumHigh_ = 0;
    bool notification_ = false;
};

} // namespace hil::rsp
