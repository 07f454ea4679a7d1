// SPDX-License-Identifier: Apache-2.0
#include "core/devicedescription/DeviceModelImpl.h"

#include <bit>

#include "core/devicedescription/DescriptionNumbers.h"
#include "platform/common/CoreException.h"

namespace hil {

namespace {

/// Misuse of the model: a question an object of this kind cannot answer.
[[noreturn]] void throwMisuse(const char* operation, const std::string& objectName)
{
    CoreException::createAndThrow("xml", ErrorCode::ModelMisuse, "Invalid call to %s in %s", operation,
                                  objectName.c_str());
}

DIList<DIRegister> wrapRegisters(const DIList<DIRegister>& registers, std::uint64_t base)
{
    DIList<DIRegister> wrapped;
    wrapped.reserve(registers.size());
    for (const auto& reg : registers)
        wrapped.push_back(std::make_shared<RegisterWrapper>(base, reg));
    return wrapped;
}

DIList<DIRegisterGroup> wrapGroups(const DIList<DIRegisterGroup>& groups, const std::string& addressSpace,
                                   std::uint64_t base)
{
    DIList<DIRegisterGroup> wrapped;
    wrapped.reserve(groups.size());
    for (const auto& group : groups)
        wrapped.push_back(std::make_shared<RegisterGroupWrapper>(addressSpace, base, group));
    return wrapped;
}

} // namespace

DIList<DIMemorySegment> AddressSpace::getMemorySegmentsByType(const std::string& segmentType) const
{
    DIList<DIMemorySegment> found;
    for (const auto& segment : memorySegments)
        if (segment->getType() == segmentType)
            found.push_back(segment);
    return found;
}

std::int32_t Bitfield::getFirstBit() const
{
    if (mask == 0)
        throwMisuse("getFirstBit", name);
    return std::countr_zero(mask);
}

std::int32_t Bitfield::getNumBits() const
{
    if (mask == 0)
        throwMisuse("getNumBits", name);
    return std::bit_width(mask) - std::countr_zero(mask);
}

void Bitfield::linkValueGroup(const DIList<DIValueGroup>& groups)
{
    for (const auto& group : groups)
        if (group->getName() == valuesName)
            valueGroup = group;
}

std::uint64_t Register::getAddress() const { throwMisuse("getAddress", name); }

DIList<DIRegister> RegisterGroup::getRegisters() const
{
    return definition ? wrapRegisters(definition->getRegisters(), getAddress()) : DIList<DIRegister>{};
}

std::shared_ptr<DIRegister> RegisterGroup::getRegister(const std::string& registerName) const
{
    const auto found = definition ? definition->getRegister(registerName) : nullptr;
    return found ? std::make_shared<RegisterWrapper>(getAddress(), found) : nullptr;
}

DIList<DIRegisterGroup> RegisterGroup::getRegisterGroups() const
{
    return definition ? wrapGroups(definition->getRegisterGroups(), addressSpaceName, getAddress())
                      : DIList<DIRegisterGroup>{};
}

std::shared_ptr<DIRegisterGroup> RegisterGroup::getRegisterGroup(const std::string& groupName) const
{
    const auto found = definition ? definition->getRegisterGroup(groupName) : nullptr;
    return found ? std::make_shared<RegisterGroupWrapper>(addressSpaceName, getAddress(), found) : nullptr;
}

void RegisterGroup::linkToModuleDefinition(const DIModule& module)
{
    definition = module.getRegisterGroup(definitionName);
    if (!definition)
        CoreException::createAndThrow("xml", ErrorCode::ModelMisuse, "Cannot find register group %s in %s module",
                                      definitionName.c_str(), module.getName().c_str());
}

DIList<DIRegister> RegisterGroupWrapper::getRegisters() const
{
    return wrapRegisters(wrapped_->getRegisters(), getAddress());
}

std::shared_ptr<DIRegister> RegisterGroupWrapper::getRegister(const std::string& name) const
{
    const auto found = wrapped_->getRegister(name);
    return found ? std::make_shared<RegisterWrapper>(getAddress(), found) : nullptr;
}

DIList<DIRegisterGroup> RegisterGroupWrapper::getRegisterGroups() const
{
    return wrapGroups(wrapped_->getRegisterGroups(), addressSpaceName_, getAddress());
}

std::shared_ptr<DIRegisterGroup> RegisterGroupWrapper::getRegisterGroup(const std::string& name) const
{
    const auto found = wrapped_->getRegisterGroup(name);
    return found ? std::make_shared<RegisterGroupWrapper>(addressSpaceName_, getAddress(), found) : nullptr;
}

std::string RegisterGroupDefinition::getAddressSpace() const { throwMisuse("getAddressSpace", name); }
std::uint64_t RegisterGroupDefinition::getAddress() const { throwMisuse("getAddress", name); }
std::uint64_t RegisterGroupDefinition::getOffset() const { throwMisuse("getOffset", name); }
std::string RegisterGroupDefinition::getRegisterGroupDefinitionName() const
{
    throwMisuse("getRegisterGroupDefinitionName", name);
}
std::shared_ptr<DIRegisterGroup> RegisterGroupDefinition::getRegisterGroupDefinition() const
{
    throwMisuse("getRegisterGroupDefinition", name);
}
std::shared_ptr<DIRegister> RegisterGroupDefinition::getRegisterByAddress(std::uint64_t) const
{
    throwMisuse("getRegisterByAddress", name);
}

void RegisterGroupDefinition::linkDefinitions(const DIModule& module)
{
    for (const auto& group : nested)
        group->linkToModuleDefinition(module);
    for (const auto& reg : registers)
        for (const auto& bitfield : reg->getBitfields())
            module.resolveValueGroup(bitfield);
}

std::uint64_t _Property::getValueAsUnsigned64() const { return description::parseNumber(value); }

std::shared_ptr<DIModule> ModuleDefinition::getModuleDefinition() const { throwMisuse("getModuleDefinition", name); }

void ModuleDefinition::resolveValueGroup(const std::shared_ptr<DIBitfield>& bitfield) const
{
    // Linking against the one group the whole list would end on gives the same link, without a
    // walk of every value group for every bit-field.
    const auto* ours = dynamic_cast<const Bitfield*>(bitfield.get());
    if (!ours || !lastValueGroupIndex_.built()) {
        bitfield->linkValueGroup(valueGroups);
        return;
    }
    DIList<DIValueGroup> match;
    if (auto found = lastValueGroupIndex_.find(valueGroups, ours->valuesName))
        match.push_back(std::move(found));
    bitfield->linkValueGroup(match);
}

void ModuleDefinition::indexNames()
{
    groupIndex_.build(registerGroups);
    lastValueGroupIndex_.build(valueGroups, true);
}

std::shared_ptr<DIRegisterGroup> ModuleDefinition::getRegisterGroupByAddress(std::uint64_t) const
{
    throwMisuse("getRegisterGroupByAddress", name);
}

std::shared_ptr<DIAddressSpace> DIDeviceImpl::getAddressSpace(const std::string& spaceId) const
{
    for (const auto& space : addressSpaces)
        if (space->getId() == spaceId)
            return space;
    return nullptr;
}

} // namespace hil
