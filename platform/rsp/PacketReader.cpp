// SPDX-License-Identifier: Apache-2.0
#include "platform/rsp/PacketReader.h"

#include <cstring>
#include <stdexcept>

#include "platform/rsp/RspCodec.h"

namespace hil::rsp {

namespace {
constexpr char kInterrupt = '\x03';
}

std::vector<PacketReader::Item> PacketReader::feed(std::string_view bytes)
{
    std::vector<Item> items;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        switch (state_) {
        case State::Idle:
            if (c == '$' || c == '%') {
                notification_ = c == '%';
                payload_.clear();
                state_ = State::Payload;
            } else if (c == '+') {
                items.push_back({Kind::Ack, {}});
            } else if (c == '-') {
                items.push_back({Kind::Nak, {}});
            } else if (c == kInterrupt) {
                items.push_back({Kind::Interrupt, {}});
            }
            break;
        case State::Payload: {
            // The payload up to '#' in one piece: a large write is one append, not a byte loop.
            const std::size_t end = bytes.find('#', i);
            const std::size_t run = (end == std::string_view::npos ? bytes.size() : end) - i;
            if (payload_.size() + run > maxPacketBytes_)
                throw std::runtime_error("a packet longer than " + std::to_string(maxPacketBytes_) + " bytes");
            payload_.append(bytes.substr(i, run));
            i += run;
            if (end != std::string_view::npos)
                state_ = State::Checksum1;
            break;
        }
        case State::Checksum1:
            checksumHigh_ = c;
            state_ = State::Checksum2;
            break;
        case State::Checksum2: {
            state_ = State::Idle;
            const auto sum = parseHexNumber(std::string{checksumHigh_, c});
            if (notification_)
                items.push_back({Kind::Notification, decodePayload(payload_)});
            else if (sum && *sum == checksum(payload_))
                items.push_back({Kind::Packet, decodePayload(payload_)});
            else
                items.push_back({Kind::BadChecksum, {}});
            break;
        }
        }
    }
    return items;
}

} // namespace hil::rsp
