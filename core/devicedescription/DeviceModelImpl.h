// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <unordered_map>

#include "core/devicedescription/DeviceModel.h"

namespace hil {

// The classes the reader fills. Their fields are public: the reader builds each object field by
// field, and afterwards everyone sees it only through the DI interfaces. Each object is destroyed
// as the class it was made as: the leaves are final, and the two classes others derive from
// have virtual destructors.

/// The first element of `list` whose `getName` is `name`, or null.
template <class T>
std::shared_ptr<T> findByName(const DIList<T>& list, const std::string& name)
{
    for (const auto& element : list)
        if (element->getName() == name)
            return element;
    return nullptr;
}

/// Constant-time lookups by name in a list that is complete: `build` it once the list no longer
/// changes. It finds what `findByName` finds (the first of each name), or with `keepLast` the last
/// of each name. Until it is built, lookups walk the list.
template <class T>
class NameIndex {
public:
    void build(const DIList<T>& list, bool keepLast = false)
    {
        byName_.clear();
        byName_.reserve(list.size());
        for (const auto& element : list) {
            if (keepLast)
                byName_[element->getName()] = element;
            else
                byName_.emplace(element->getName(), element);
        }
        built_ = true;
    }
    bool built() const { return built_; }
    std::shared_ptr<T> find(const DIList<T>& list, const std::string& name) const
    {
        if (!built_)
            return findByName(list, name);
        const auto found = byName_.find(name);
        return found == byName_.end() ? nullptr : found->second;
    }

private:
    bool built_ = false;
    std::unordered_map<std::string, std::shared_ptr<T>> byName_;
};

/// Offset + size × index, the product taken as 32 bits, as replicated registers and groups are
/// laid out.
inline std::uint64_t replicatedOffset(std::uint64_t offset, std::uint32_t size, std::uint32_t index)
{
    return offset + static_cast<std::uint32_t>(size * index);
}

/// True when `rw` is exactly "R" or "RW".
inline bool readableAccess(const std::string& rw) { return rw == "R" || rw == "RW"; }
/// True when `rw` is exactly "W" or "RW".
inline bool writableAccess(const std::string& rw) { return rw == "W" || rw == "RW"; }

class DIVariantImpl final : public DIVariant {
public:
    std::string getOrderCode() const override { return orderCode; }
    double getVccMin() const override { return vccMin; }
    double getVccMax() const override { return vccMax; }

    std::string orderCode;
    double vccMin = 0;
    double vccMax = 0;
};

class MemoryAccessor final : public DIMemoryAccessor {
public:
    std::uint64_t getStart() const override { return start; }
    std::uint64_t getSize() const override { return size; }
    std::uint64_t getOcdBlockStart() const override { return ocdBlockStart; }
    bool hasOcdBlockMarker() const override { return ocdBlockMarker; }
    void setStart(std::uint64_t value) override { start = value; }
    void setSize(std::uint64_t value) override { size = value; }

    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::uint64_t ocdBlockStart = 0;
    bool ocdBlockMarker = false;
};

class MemorySegment : public DIMemorySegment {
public:
    virtual ~MemorySegment() = default;
    std::string getName() const override { return name; }
    std::uint64_t getStart() const override { return start; }
    std::uint64_t getSize() const override { return size; }
    std::uint64_t getMirrorMask() const override { return mirrorMask; }
    std::string getType() const override { return type; }
    bool isReadable() const override { return readable; }
    bool isWritable() const override { return writable; }
    bool isExecutable() const override { return executable; }
    std::int32_t getWordSize() const override { return wordSize; }
    std::int32_t getPageSize() const override { return pageSize; }
    std::int32_t getSecondPageSize() const override { return pageSize; }
    DIList<DIMemoryAccessor> getMemoryAccessors() const override { return accessors; }

    std::string name;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::uint64_t mirrorMask = 0;
    std::string type;
    bool readable = false;
    bool writable = false;
    bool executable = false;
    std::int32_t wordSize = 0;
    std::int32_t pageSize = 0;
    std::int32_t secondPageSize = 0;
    DIList<DIMemoryAccessor> accessors;
};

/// A memory segment read from a description file.
class XmlMemorySegment final : public MemorySegment, public std::enable_shared_from_this<XmlMemorySegment> {};

class AddressSpace final : public DIAddressSpace {
public:
    std::string getId() const override { return id; }
    std::uint64_t getStart() const override { return start; }
    std::uint64_t getSize() const override { return size; }
    bool isBigEndian() const override { return endianness == "big"; }
    DIList<DIMemorySegment> getMemorySegments() const override { return memorySegments; }
    std::shared_ptr<DIMemorySegment> getMemorySegment(const std::string& segmentName) const override
    {
        return findByName(memorySegments, segmentName);
    }
    DIList<DIMemorySegment> getMemorySegmentsByType(const std::string& segmentType) const override;

    std::string id;
    DIList<DIMemorySegment> memorySegments;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::string endianness;
};

class _Value final : public DIValue {
public:
    std::string getName() const override { return name; }
    std::uint64_t getValue() const override { return value; }
    std::shared_ptr<void> getValueRef() const override { return ref; }

    std::string name;
    std::uint64_t value = 0;
    std::shared_ptr<void> ref;
};

class ValueGroup final : public DIValueGroup {
public:
    std::string getName() const override { return name; }
    DIList<DIValue> getValues() const override { return values; }
    std::shared_ptr<DIValue> getValue(const std::string& valueName) const override { return findByName(values, valueName); }

    std::string name;
    DIList<DIValue> values;
};

class Bitfield final : public DIBitfield {
public:
    std::string getName() const override { return name; }
    std::uint64_t getMask() const override { return mask; }
    std::int32_t getFirstBit() const override;
    std::int32_t getNumBits() const override;
    bool isReadable() const override { return readableAccess(rw); }
    bool isWritable() const override { return writableAccess(rw); }
    std::string getAccess() const override { return access; }
    std::shared_ptr<DIValueGroup> getValueGroup() const override { return valueGroup; }
    void linkValueGroup(const DIList<DIValueGroup>& groups) override;

    std::string name;
    std::uint64_t mask = 0;
    std::string rw;
    std::string access;
    std::shared_ptr<DIValueGroup> valueGroup;
    /// The name of the value group this bit-field takes its values from.
    std::string valuesName;
};

class Register final : public DIRegister {
public:
    std::string getName() const override { return name; }
    /// A misuse: a register alone has no address.
    std::uint64_t getAddress() const override;
    std::uint64_t getOffset() const override { return replicatedOffset(offset, size, index); }
    std::int32_t getCount() const override { return count; }
    bool isReadable() const override { return readableAccess(rw); }
    bool isWritable() const override { return writableAccess(rw); }
    std::string getAccess() const override { return access; }
    bool isOcdReadable() const override { return readableAccess(ocdRw); }
    bool isOcdWritable() const override { return writableAccess(ocdRw); }
    bool hasInitialValue() const override { return initialValueSet; }
    std::uint64_t getInitialValue() const override { return initialValue; }
    std::uint32_t getSize() const override { return size; }
    DIList<DIBitfield> getBitfields() const override { return bitfields; }
    std::shared_ptr<DIBitfield> getBitfield(const std::string& fieldName) const override
    {
        return findByName(bitfields, fieldName);
    }

    std::string name;
    std::uint64_t offset = 0;
    std::uint32_t index = 0;
    std::string rw;
    std::string access;
    std::string ocdRw;
    std::uint32_t size = 0;
    std::int32_t count = 1;
    bool initialValueSet = false;
    std::uint64_t initialValue = 0;
    DIList<DIBitfield> bitfields;
};

/// A register reached through a register group: its address is the group's plus its offset.
class RegisterWrapper final : public DIRegister {
public:
    RegisterWrapper(std::uint64_t base, std::shared_ptr<DIRegister> wrapped) : base_(base), wrapped_(std::move(wrapped)) {}

    std::string getName() const override { return wrapped_->getName(); }
    std::uint64_t getAddress() const override { return base_ + wrapped_->getOffset(); }
    std::uint64_t getOffset() const override { return wrapped_->getOffset(); }
    std::int32_t getCount() const override { return wrapped_->getCount(); }
    bool isReadable() const override { return wrapped_->isReadable(); }
    bool isWritable() const override { return wrapped_->isWritable(); }
    std::string getAccess() const override { return wrapped_->getAccess(); }
    bool isOcdReadable() const override { return wrapped_->isOcdReadable(); }
    bool isOcdWritable() const override { return wrapped_->isOcdWritable(); }
    bool hasInitialValue() const override { return wrapped_->hasInitialValue(); }
    std::uint64_t getInitialValue() const override { return wrapped_->getInitialValue(); }
    std::uint32_t getSize() const override { return wrapped_->getSize(); }
    DIList<DIBitfield> getBitfields() const override { return wrapped_->getBitfields(); }
    std::shared_ptr<DIBitfield> getBitfield(const std::string& name) const override { return wrapped_->getBitfield(name); }

private:
    std::uint64_t base_;
    std::shared_ptr<DIRegister> wrapped_;
};

class ModuleDefinition;

/// A register group of a module instance, or one nested in a register-group definition: a
/// placement (offset, index, address space) of the definition named "name-in-module".
class RegisterGroup final : public DIRegisterGroup {
public:
    std::string getName() const override { return name; }
    std::string getAddressSpace() const override { return addressSpaceName; }
    std::uint64_t getAddress() const override { return replicatedOffset(offset, getSize(), index); }
    std::uint64_t getOffset() const override { return getAddress(); }
    std::uint32_t getSize() const override { return definition ? definition->getSize() : 0; }
    DIList<DIRegister> getRegisters() const override;
    std::shared_ptr<DIRegister> getRegister(const std::string& registerName) const override;
    DIList<DIRegisterGroup> getRegisterGroups() const override;
    std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& groupName) const override;
    std::string getRegisterGroupDefinitionName() const override { return definitionName; }
    std::shared_ptr<DIRegisterGroup> getRegisterGroupDefinition() const override { return definition; }

    /// Links this group to its definition in `module`; throws the model's misuse error when the
    /// module has no register group of that name.
    void linkToModuleDefinition(const DIModule& module);

    std::string name;
    std::string addressSpaceName;
    std::uint64_t offset = 0;
    std::uint32_t index = 0;
    std::string definitionName;
    std::shared_ptr<DIRegisterGroup> definition;
};

/// A register group seen from its parent: its address is the parent's plus its own offset.
class RegisterGroupWrapper final : public DIRegisterGroup {
public:
    RegisterGroupWrapper(std::string addressSpaceName, std::uint64_t base, std::shared_ptr<DIRegisterGroup> wrapped)
        : addressSpaceName_(std::move(addressSpaceName)), base_(base), wrapped_(std::move(wrapped))
    {
    }

    std::string getName() const override { return wrapped_->getName(); }
    std::string getAddressSpace() const override { return addressSpaceName_; }
    std::uint64_t getAddress() const override { return base_ + wrapped_->getOffset(); }
    std::uint64_t getOffset() const override { return wrapped_->getOffset(); }
    std::uint32_t getSize() const override { return wrapped_->getSize(); }
    DIList<DIRegister> getRegisters() const override;
    std::shared_ptr<DIRegister> getRegister(const std::string& name) const override;
    DIList<DIRegisterGroup> getRegisterGroups() const override;
    std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& name) const override;
    std::string getRegisterGroupDefinitionName() const override { return wrapped_->getRegisterGroupDefinitionName(); }
    std::shared_ptr<DIRegisterGroup> getRegisterGroupDefinition() const override
    {
        return wrapped_->getRegisterGroupDefinition();
    }

private:
    std::string addressSpaceName_;
    std::uint64_t base_;
    std::shared_ptr<DIRegisterGroup> wrapped_;
};

/// A register group as a module defines it: its registers and nested groups, without a place.
class RegisterGroupDefinition final : public DIRegisterGroup {
public:
    std::string getName() const override { return name; }
    std::string getAddressSpace() const override;
    std::uint64_t getAddress() const override;
    std::uint64_t getOffset() const override;
    std::uint32_t getSize() const override { return size; }
    DIList<DIRegister> getRegisters() const override { return registers; }
    std::shared_ptr<DIRegister> getRegister(const std::string& registerName) const override
    {
        return findByName(registers, registerName);
    }
    DIList<DIRegisterGroup> getRegisterGroups() const override { return {nested.begin(), nested.end()}; }
    std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& groupName) const override
    {
        return findByName(nested, groupName);
    }
    std::string getRegisterGroupDefinitionName() const override;
    std::shared_ptr<DIRegisterGroup> getRegisterGroupDefinition() const override;
    virtual std::shared_ptr<DIRegister> getRegisterByAddress(std::uint64_t address) const;

    /// Links the nested groups to their definitions in `module`, then the value groups of every
    /// bit-field of every register.
    void linkDefinitions(const DIModule& module);

    std::string name;
    std::uint32_t size = 0;
    DIList<DIRegister> registers;
    DIList<RegisterGroup> nested;
};

class PropertyGroup : public DIPropertyGroup {
public:
    virtual ~PropertyGroup() = default;
    std::string getName() const override { return name; }
    DIList<DIProperty> getProperties() const override { return properties; }
    std::shared_ptr<DIProperty> getProperty(const std::string& propertyName) const override
    {
        return findByName(properties, propertyName);
    }

    std::string name;
    DIList<DIProperty> properties;
};

/// The "param" entries of a "parameters" element; it has no name.
class _Parameters final : public PropertyGroup {};

class _Property final : public DIProperty {
public:
    std::string getName() const override { return name; }
    std::string getValue() const override { return value; }
    std::uint32_t getValueAsUnsigned() const override { return static_cast<std::uint32_t>(getValueAsUnsigned64()); }
    std::int32_t getValueAsInt() const override { return static_cast<std::int32_t>(getValueAsUnsigned64()); }
    std::uint64_t getValueAsUnsigned64() const override;
    bool getValueAsBool() const override { return value != "0"; }

    std::string name;
    std::string value;
};

/// A module as a description file defines it: value groups and register-group definitions.
class ModuleDefinition final : public DIModule {
public:
    std::string getName() const override { return name; }
    std::string getId() const override { return id; }
    std::string getVersion() const override { return version; }
    DIList<DIRegisterGroup> getRegisterGroups() const override { return registerGroups; }
    std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& groupName) const override
    {
        return groupIndex_.find(registerGroups, groupName);
    }
    DIList<DIPropertyGroup> getPropertyGroups() const override { return {}; }
    std::shared_ptr<DIPropertyGroup> getPropertyGroup(const std::string& groupName) const override
    {
        return findByName(propertyGroups, groupName);
    }
    /// A misuse: a definition is not an instance.
    std::shared_ptr<DIModule> getModuleDefinition() const override;
    void resolveValueGroup(const std::shared_ptr<DIBitfield>& bitfield) const override;
    virtual std::shared_ptr<DIRegisterGroup> getRegisterGroupByAddress(std::uint64_t address) const;
    /// Makes lookups of register groups and value groups by name take constant time; call once
    /// both lists are complete. Without it a file of many definitions reads in quadratic time.
    void indexNames();

    std::string name;
    std::string id;
    std::string version;
    DIList<DIValueGroup> valueGroups;
    DIList<DIRegisterGroup> registerGroups;
    DIList<DIPropertyGroup> propertyGroups;

private:
    NameIndex<DIRegisterGroup> groupIndex_;
    NameIndex<DIValueGroup> lastValueGroupIndex_;
};

/// A module instance: a named placement of a module definition's register groups.
class _Module final : public DIModule {
public:
    std::string getName() const override { return name; }
    std::string getId() const override { return id; }
    std::string getVersion() const override { return version; }
    DIList<DIRegisterGroup> getRegisterGroups() const override { return {registerGroups.begin(), registerGroups.end()}; }
    std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& groupName) const override
    {
        return findByName(registerGroups, groupName);
    }
    DIList<DIPropertyGroup> getPropertyGroups() const override { return propertyGroups; }
    std::shared_ptr<DIPropertyGroup> getPropertyGroup(const std::string& groupName) const override
    {
        return findByName(propertyGroups, groupName);
    }
    std::shared_ptr<DIModule> getModuleDefinition() const override { return moduleDefinition; }
    void resolveValueGroup(const std::shared_ptr<DIBitfield>&) const override {}

    std::string name;
    std::string id;
    std::string version;
    DIList<RegisterGroup> registerGroups;
    DIList<DIPropertyGroup> propertyGroups;
    std::shared_ptr<DIModule> moduleDefinition;
};

class _Interface final : public DIInterface {
public:
    std::string getName() const override { return name; }
    std::string getType() const override { return type; }

    std::string name;
    std::string type;
};

class Tool final : public DITool {
public:
    std::string getName() const override { return name; }

    std::string name;
};

class DIDeviceImpl final : public DIDevice, public std::enable_shared_from_this<DIDeviceImpl> {
public:
    std::string getName() const override { return name; }
    std::string getArchitecture() const override { return architecture; }
    std::string getSeries() const override { return series; }
    DIList<DIAddressSpace> getAddressSpaces() const override { return addressSpaces; }
    std::shared_ptr<DIAddressSpace> getAddressSpace(const std::string& spaceId) const override;
    DIList<DIInterface> getInterfaces() const override { return interfaces; }
    std::shared_ptr<DIInterface> getInterface(const std::string& interfaceName) const override
    {
        return findByName(interfaces, interfaceName);
    }
    DIList<DIModule> getModules() const override { return modules; }
    DIList<DIModule> getEmptyList() const override { return {}; }
    std::shared_ptr<DIModule> getModule(const std::string& moduleName) const override { return findByName(modules, moduleName); }
    DIList<DIPropertyGroup> getPropertyGroups() const override { return propertyGroups; }
    std::shared_ptr<DIPropertyGroup> getPropertyGroup(const std::string& groupName) const override
    {
        return findByName(propertyGroups, groupName);
    }
    std::shared_ptr<DIPropertyGroup> getParameters() const override { return parameters; }
    DIList<DIVariant> getVariants() const override { return variants; }
    DIList<DIModule> getModuleDefinitions() const override { return moduleDefinitions; }
    std::shared_ptr<DIModule> getModuleDefinition(const std::string& definitionName) const override
    {
        return definitionIndex_.find(moduleDefinitions, definitionName);
    }
    /// Makes `getModuleDefinition` take constant time; call again after adding definitions.
    void indexModuleDefinitions() { definitionIndex_.build(moduleDefinitions); }

    std::string name;
    std::string architecture;
    std::string series;
    DIList<DIAddressSpace> addressSpaces;
    DIList<DIModule> modules;
    DIList<DIInterface> interfaces;
    DIList<DITool> tools;
    DIList<DIPropertyGroup> propertyGroups;
    std::shared_ptr<DIPropertyGroup> parameters;
    DIList<DIVariant> variants;
    DIList<DIModule> moduleDefinitions;

private:
    NameIndex<DIModule> definitionIndex_;
};

} // namespace hil
