// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "packmanager/SvdModel.h"

namespace Poco::XML {
class Element;
}

namespace hil::packs {

/// The device a `<device>` element of an SVD file describes, with every derivedFrom, dim and
/// inherited property resolved as `SvdReader` says; `source` names the file in the warnings and
/// errors. A fault of one element leaves it out, said in the device's warnings. Throws
/// `PackSourceError` for a fault of the device itself, or when its registers and fields pass
/// `SvdReader::kMaxElements`.
SvdDevice resolveSvdDevice(const Poco::XML::Element* device, const std::string& source);

} // namespace hil::packs
