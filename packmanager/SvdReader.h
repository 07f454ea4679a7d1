// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <stdexcept>
#include <string>

#include "packmanager/SvdModel.h"
#include "platform/common/Errors.h"

namespace hil::packs {

/// A source file the pack manager cannot use. The text names the file and, where there is one,
/// the element at fault ("UART0.DATA: ...").
class PackSourceError : public SourceFileError {
public:
    using SourceFileError::SourceFileError;
};

/// Reads CMSIS-SVD files into `SvdDevice`s.
///
/// Every derivedFrom is resolved (a peripheral by name; a cluster, register or field by its name
/// among its siblings or by a dotted path such as "UART0.CTRL"; an enumeration by name), then the
/// element's own children override what it copied. A derived peripheral with registers of its
/// own keeps its base's registers and adds or replaces by name. Register properties flow from the
/// device down to each register, access down to each field. "dim" makes its copies (`%s` in the
/// name, `dimIndex` as a range "0-7", "A-D" or a list "A,B,C").
///
/// One broken element never costs the whole device: a peripheral, cluster, register, field or
/// named value the reader cannot use is left out, a field past its register's end is cut at it,
/// an access it does not know is ignored, and a derivedFrom that names nothing it can use is
/// dropped (the element is read from its own children alone). Each is said in the device's
/// `warnings`. Only a fault of the device itself, or a file over a limit, throws.
class SvdReader {
public:
    /// Files over this are refused before they are read: a DOM of one costs about ten times it.
    static constexpr std::uintmax_t kMaxFileBytes = 16u << 20;
    /// One "dim" makes at most this many copies.
    static constexpr std::uint64_t kMaxDim = 65536;
    /// Registers and fields of one device, after every "dim" is made.
    static constexpr std::uint64_t kMaxElements = 2'000'000;
    /// A value with don't-care bits ("#1xx0", "0b1xx0") stands for each value it matches, up to
    /// this many.
    static constexpr unsigned kMaxDontCareBits = 8;

    /// Throws `PackSourceError` naming `file`.
    static SvdDevice readFile(const std::filesystem::path& file);
    /// `sourceName` is what errors call the text.
    static SvdDevice readText(const std::string& text, const std::string& sourceName);

    struct Head {
        std::string name;
        std::string vendor;
        /// The `<name>` of its `<cpu>`, as the file writes it ("CM0PLUS").
        std::string cpu;
    };
    /// The device's `<name>`, `<vendor>` and CPU, read from the first part of the file only;
    /// empty when that part has none. Listing a folder of SVD files must not parse each one whole.
    static Head peekHead(const std::filesystem::path& file);
    /// The same for the first part of what `in` holds (an SVD file inside an archive).
    static Head peekHead(std::istream& in);
};

/// An SVD number: decimal, "0x" hexadecimal, "#" or "0b" binary; throws `std::invalid_argument`.
std::uint64_t parseSvdNumber(const std::string& text);
/// How many characters mark an SVD number as binary: 2 for "0b", 1 for "#", 0 for any other.
std::size_t svdBinaryPrefix(const std::string& text);

} // namespace hil::packs
