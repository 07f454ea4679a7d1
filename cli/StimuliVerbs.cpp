// SPDX-License-Identifier: Apache-2.0
// The verb of the "Stimuli" service: provider types, and the designators of device ports.

#include <boost/json.hpp>

#include "cli/CliCommands.h"

namespace hil::cli {

namespace {

const std::string kStimuli = "Stimuli";

int stimuliVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const std::string usage = "types, or designate DEVICE-ID DESIGNATOR";
    requireArguments(arguments, 1, 3, "stimuli", usage);
    if (arguments[0] == "types" && arguments.size() == 1)
        return callAndPrint(context, kStimuli, "getStimuliTypes", {},
                            [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                                for (const auto& type : values.at(1).as_array())
                                    out << type.as_string().c_str() << "\n";
                            });
    if (arguments[0] == "designate" && arguments.size() == 3)
        return callAndPrint(context, kStimuli, "setDesignator", {jsonText(arguments[1]), jsonText(arguments[2])},
                            [&](std::ostream& out, const boost::json::array&, const std::vector<std::string>&) {
                                out << "the stimuli port of " << arguments[1] << " is " << arguments[2] << "\n";
                            });
    throw UsageError("stimuli needs " + usage);
}

} // namespace

void addStimuliVerbs(VerbTable& table)
{
    table.insert({"stimuli", {"types | designate DEVICE-ID DESIGNATOR",
                              "list the stimuli provider types, or name a device's stimuli port", stimuliVerb}});
}

} // namespace hil::cli
