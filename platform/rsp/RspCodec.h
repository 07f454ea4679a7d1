// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hil {

/// The pure text rules of the GDB remote protocol: framing, checksums, binary escapes, run-length
/// expansion, hex, and the shapes of the packets a server sends unasked. No I/O.
namespace rsp {

/// The modulo-256 sum of the bytes of `data`.
std::uint8_t checksum(std::string_view data);

/// `$data#cc`, with the bytes '$', '#', '}' and '*' of `data` escaped as '}' and the byte XOR 0x20
/// (the receiver undoes that for every packet, so it is safe for text packets too).
std::string frame(std::string_view data);

/// Escapes binary data for `X` and `vFlashWrite` packets.
std::string escapeBinary(std::string_view bytes);
/// Whether `escapeBinary` writes `c` as two bytes.
bool needsEscape(char c);

/// Undoes the escapes and expands run-length encoding (`c*N`: N - 29 more copies of c) of a
/// received payload. Throws `std::runtime_error` for a repeat count that is not printable or a
/// repeat with nothing before it.
std::string decodePayload(std::string_view payload);

std::string toHex(std::string_view bytes);
std::string toHex(const std::uint8_t* bytes, std::size_t length);
/// The bytes of an even number of hex digits; nullopt when `hex` is not that.
std::optional<std::string> fromHex(std::string_view hex);
/// A big-endian hex number such as "2000" (no prefix); nullopt when it is not one or overflows.
std::optional<std::uint64_t> parseHexNumber(std::string_view hex);

/// True for console output: 'O' followed by a non-empty, even number of hex digits ("OK" is not).
bool isOutputPacket(std::string_view packet);
/// True for a stop reply: "Sxx", "Txx...", "Wxx..." (exited) or "Xxx..." (killed).
bool isStopReply(std::string_view packet);
/// "Exx", the way a server refuses a request.
bool isErrorReply(std::string_view packet);
/// The number of an error reply ("E0e": 14).
int errorNumber(std::string_view errorReply);
/// The outcome of a request answered "OK" or "Exx": 0, the error number, or 1 for any other answer.
int replyStatus(std::string_view reply);

/// A request in words, for errors people read: "m20000000,10" is "a read of 16 bytes at
/// 0x20000000", "Z0,400,2" "setting a breakpoint at 0x400"; a packet it does not know is named by
/// its first letters.
std::string describeRequest(std::string_view packet);

/// The stop point of a `Z`/`z` type (0-4) for people: "a breakpoint", "a write watchpoint", ...
std::string stopPointName(int type);

/// The line of a monitor command's output in which the server says it did not take the command
/// ("unknown command: 'reset'", "invalid command name", "not supported", ...): servers answer
/// "OK" to the request all the same, with only their text to tell. Nullopt when no line says so.
std::optional<std::string> monitorRefusal(std::string_view output);

/// Why the target stopped, from a stop reply.
struct StopReply {
    char kind = 'S';   ///< 'S', 'T', 'W' or 'X'
    int signal = 0;    ///< the signal number (the exit status for 'W')
    /// The "key:value" pairs of a 'T' reply ("thread", "watch", "swbreak", "hwbreak", ...).
    std::map<std::string, std::string> pairs;
    std::string packet; ///< the reply as it came

    /// A line for people: "breakpoint", "watchpoint at 0x20000004", "halted (signal 2)", ...
    std::string describe() const;
};
/// nullopt when `packet` is not a stop reply.
std::optional<StopReply> parseStopReply(std::string_view packet);

/// The features of a `qSupported` reply: "name+" as "+", "name-" as "-", "name=value" as value.
std::map<std::string, std::string> parseFeatures(std::string_view reply);

} // namespace rsp
} // namespace hil
