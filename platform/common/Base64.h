// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hil {

/// Standard Base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string base64_encode(std::span<const std::uint8_t> bytes);

/// The number of characters the Base64 text of `byteCount` bytes has.
constexpr std::size_t base64_length(std::size_t byteCount)
{
    return (byteCount + 2) / 3 * 4;
}

/// Writes the Base64 text of `bytes` at `out`, which has room for `base64_length(bytes.size())`
/// characters: for a caller that owns a buffer the text goes into in place.
void base64_encode_to(std::span<const std::uint8_t> bytes, char* out);

/// The ways the encoder can go, fastest last; it takes the fastest the processor has.
enum class Base64Engine { Table, Avx2, Avx512 };
/// `base64_encode_to` with an engine of the caller's choice, for tests that hold each engine to
/// the same text; one the processor does not have is taken as the best it has.
void base64_encode_to(std::span<const std::uint8_t> bytes, char* out, Base64Engine engine);

/// The Base64 text of `bytes` as a JSON string, quotes included. Base64 needs no escaping, so a
/// large transfer is encoded once, straight into its reply.
std::string base64_json_string(std::span<const std::uint8_t> bytes);

/// Decodes standard Base64 into `bytes`, replacing what it held.
///
/// Decoding is strict: the text's length must be a multiple of 4, every character must be of the
/// alphabet, '=' may only end the text (at most two of them), and the bits that padding drops
/// must be zero. Text that breaks any rule decodes to nothing: `bytes` is left empty and the
/// result is false. Whitespace is not skipped. The empty text decodes to no bytes and true.
bool base64_decode(std::string_view text, std::vector<std::uint8_t>& bytes);

} // namespace hil
