// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <mutex>
#include <set>

#include "core/interfaces/ConnectionFactory.h"

namespace hil::simulator {

/// The connection type, and the class name of its factory, of virtual probes.
inline const std::string kVirtualConnectionType = "com.velmora.hil.connection.virtual";

/// A connection to a virtual probe: its type and the properties its probe file gives.
class VirtualConnection : public IConnection {
public:
    explicit VirtualConnection(boost::json::object properties) : properties_(std::move(properties)) {}
    std::string getConnectionType() const override { return kVirtualConnectionType; }
    boost::json::object getConnectionProperties() const override { return properties_; }

private:
    boost::json::object properties_;
};

/// Virtual probes that are "plugged in" by writing a file and "pulled out" by deleting it.
///
/// Each file `NAME.probe` in the probe directory is one attached probe; it holds a JSON object
/// with the connection's properties, for example {"SerialNumber":"VP-0001","PortName":"vport0"}.
/// Probes are listed in file name order, the properties in the file's order. A file that is not
/// a JSON object is skipped and reported once (error level, category "simulator") until it
/// changes back to a good one or goes away. A missing directory means nothing is plugged in;
/// a leading "~" is the home folder.
class VirtualConnectionFactory : public ConnectionFactory {
public:
    explicit VirtualConnectionFactory(std::filesystem::path probeDirectory);

    std::string getCategory() const override { return kConnectionFactoryCategory; }
    std::string getClassName() const override { return kVirtualConnectionType; }
    std::vector<std::shared_ptr<IConnection>> getAttachedConnections() override;
    /// The attached probe that `properties` names by "SerialNumber" or, without one, by
    /// "PortName"; null when no attached probe matches or `properties` names neither.
    std::shared_ptr<IConnection> createConnection(const boost::json::object& properties) override;

    static constexpr const char* kProbeFileExtension = ".probe";

private:
    /// Reads one probe file; false (and reported once) when it is not a JSON object.
    bool readProbeFile(const std::filesystem::path& file, boost::json::object& properties);

    const std::filesystem::path probeDirectory_;
    std::mutex reportedMutex_;
    std::set<std::filesystem::path> reportedBadFiles_;
};

} // namespace hil::simulator
