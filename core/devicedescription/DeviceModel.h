// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hil {

// The in-memory picture of one device as its description files describe it. The reader builds
// it once; afterwards it is only read, from any number of threads.
//
// Every object is owned through a shared pointer. Lists are returned as copies of lists of
// shared pointers; lookups by name return the first match in document order (byte-wise,
// case-sensitive), or null. Each object is destroyed through the pointer that created it with its
// concrete type, so the interfaces have protected, non-virtual destructors.

class DIDevice;
class DIVariant;
class DIAddressSpace;
class DIMemorySegment;
class DIMemoryAccessor;
class DIModule;
class DIRegisterGroup;
class DIRegister;
class DIBitfield;
class DIValueGroup;
class DIValue;
class DIInterface;
class DITool;
class DIPropertyGroup;
class DIProperty;

template <class T>
using DIList = std::vector<std::shared_ptr<T>>;

class DIVariant {
public:
    virtual std::string getOrderCode() const = 0;
    virtual double getVccMin() const = 0;
    virtual double getVccMax() const = 0;

protected:
    ~DIVariant() = default;
};

class DIMemoryAccessor {
public:
    virtual std::uint64_t getStart() const = 0;
    virtual std::uint64_t getSize() const = 0;
    virtual std::uint64_t getOcdBlockStart() const = 0;
    virtual bool hasOcdBlockMarker() const = 0;
    virtual void setStart(std::uint64_t start) = 0;
    virtual void setSize(std::uint64_t size) = 0;

protected:
    ~DIMemoryAccessor() = default;
};

class DIMemorySegment {
public:
    virtual std::string getName() const = 0;
    virtual std::uint64_t getStart() const = 0;
    virtual std::uint64_t getSize() const = 0;
    virtual std::uint64_t getMirrorMask() const = 0;
    virtual std::string getType() const = 0;
    virtual bool isReadable() const = 0;
    virtual bool isWritable() const = 0;
    virtual bool isExecutable() const = 0;
    virtual std::int32_t getWordSize() const = 0;
    virtual std::int32_t getPageSize() const = 0;
    virtual std::int32_t getSecondPageSize() const = 0;
    virtual DIList<DIMemoryAccessor> getMemoryAccessors() const = 0;

protected:
    ~DIMemorySegment() = default;
};

class DIAddressSpace {
public:
    virtual std::string getId() const = 0;
    virtual std::uint64_t getStart() const = 0;
    virtual std::uint64_t getSize() const = 0;
    /// True only for the endianness "big", written exactly so.
    virtual bool isBigEndian() const = 0;
    virtual DIList<DIMemorySegment> getMemorySegments() const = 0;
    virtual std::shared_ptr<DIMemorySegment> getMemorySegment(const std::string& name) const = 0;
    virtual DIList<DIMemorySegment> getMemorySegmentsByType(const std::string& type) const = 0;

protected:
    ~DIAddressSpace() = default;
};

class DIValue {
public:
    virtual std::string getName() const = 0;
    virtual std::uint64_t getValue() const = 0;
    /// A reference a value may carry for its users; the model sets none.
    virtual std::shared_ptr<void> getValueRef() const = 0;

protected:
    ~DIValue() = default;
};

class DIValueGroup {
public:
    virtual std::string getName() const = 0;
    virtual DIList<DIValue> getValues() const = 0;
    virtual std::shared_ptr<DIValue> getValue(const std::string& name) const = 0;

protected:
    ~DIValueGroup() = default;
};

class DIBitfield {
public:
    virtual std::string getName() const = 0;
    virtual std::uint64_t getMask() const = 0;
    /// The lowest bit of the mask; a mask of 0 is a misuse.
    virtual std::int32_t getFirstBit() const = 0;
    /// The width from the lowest to the highest bit of the mask; a mask of 0 is a misuse.
    virtual std::int32_t getNumBits() const = 0;
    virtual bool isReadable() const = 0;
    virtual bool isWritable() const = 0;
    virtual std::string getAccess() const = 0;
    virtual std::shared_ptr<DIValueGroup> getValueGroup() const = 0;
    /// Takes the last group of `groups` named as this bit-field's values.
    virtual void linkValueGroup(const DIList<DIValueGroup>& groups) = 0;

protected:
    ~DIBitfield() = default;
};

class DIRegister {
public:
    virtual std::string getName() const = 0;
    /// Only a register reached through its register group has an address.
    virtual std::uint64_t getAddress() const = 0;
    virtual std::uint64_t getOffset() const = 0;
    virtual std::int32_t getCount() const = 0;
    virtual bool isReadable() const = 0;
    virtual bool isWritable() const = 0;
    virtual std::string getAccess() const = 0;
    virtual bool isOcdReadable() const = 0;
    virtual bool isOcdWritable() const = 0;
    virtual bool hasInitialValue() const = 0;
    virtual std::uint64_t getInitialValue() const = 0;
    virtual std::uint32_t getSize() const = 0;
    virtual DIList<DIBitfield> getBitfields() const = 0;
    virtual std::shared_ptr<DIBitfield> getBitfield(const std::string& name) const = 0;

protected:
    ~DIRegister() = default;
};

class DIRegisterGroup {
public:
    virtual std::string getName() const = 0;
    virtual std::string getAddressSpace() const = 0;
    virtual std::uint64_t getAddress() const = 0;
    virtual std::uint64_t getOffset() const = 0;
    virtual std::uint32_t getSize() const = 0;
    virtual DIList<DIRegister> getRegisters() const = 0;
    virtual std::shared_ptr<DIRegister> getRegister(const std::string& name) const = 0;
    virtual DIList<DIRegisterGroup> getRegisterGroups() const = 0;
    virtual std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& name) const = 0;
    virtual std::string getRegisterGroupDefinitionName() const = 0;
    virtual std::shared_ptr<DIRegisterGroup> getRegisterGroupDefinition() const = 0;

protected:
    ~DIRegisterGroup() = default;
};

class DIPropertyGroup;

class DIModule {
public:
    virtual std::string getName() const = 0;
    virtual std::string getId() const = 0;
    virtual std::string getVersion() const = 0;
    virtual DIList<DIRegisterGroup> getRegisterGroups() const = 0;
    virtual std::shared_ptr<DIRegisterGroup> getRegisterGroup(const std::string& name) const = 0;
    virtual DIList<DIPropertyGroup> getPropertyGroups() const = 0;
    virtual std::shared_ptr<DIPropertyGroup> getPropertyGroup(const std::string& name) const = 0;
    virtual std::shared_ptr<DIModule> getModuleDefinition() const = 0;
    virtual void resolveValueGroup(const std::shared_ptr<DIBitfield>& bitfield) const = 0;

protected:
    ~DIModule() = default;
};

class DIInterface {
public:
    virtual std::string getName() const = 0;
    virtual std::string getType() const = 0;

protected:
    ~DIInterface() = default;
};

class DITool {
public:
    virtual std::string getName() const = 0;

protected:
    ~DITool() = default;
};

class DIProperty {
public:
    virtual std::string getName() const = 0;
    virtual std::string getValue() const = 0;
    /// The value as a number: base from its prefix (0x hex, leading 0 octal), 0 without digits.
    virtual std::uint32_t getValueAsUnsigned() const = 0;
    virtual std::int32_t getValueAsInt() const = 0;
    virtual std::uint64_t getValueAsUnsigned64() const = 0;
    /// False only for the text "0".
    virtual bool getValueAsBool() const = 0;

protected:
    ~DIProperty() = default;
};

class DIPropertyGroup {
public:
    virtual std::string getName() const = 0;
    virtual DIList<DIProperty> getProperties() const = 0;
    virtual std::shared_ptr<DIProperty> getProperty(const std::string& name) const = 0;

protected:
    ~DIPropertyGroup() = default;
};

class DIDevice {
public:
    /// The name the device was asked for by; the files do not name it.
    virtual std::string getName() const = 0;
    virtual std::string getArchitecture() const = 0;
    virtual std::string getSeries() const = 0;
    virtual DIList<DIAddressSpace> getAddressSpaces() const = 0;
    virtual std::shared_ptr<DIAddressSpace> getAddressSpace(const std::string& id) const = 0;
    virtual DIList<DIInterface> getInterfaces() const = 0;
    virtual std::shared_ptr<DIInterface> getInterface(const std::string& name) const = 0;
    /// The module instances.
    virtual DIList<DIModule> getModules() const = 0;
    /// Always empty.
    virtual DIList<DIModule> getEmptyList() const = 0;
    virtual std::shared_ptr<DIModule> getModule(const std::string& name) const = 0;
    virtual DIList<DIPropertyGroup> getPropertyGroups() const = 0;
    virtual std::shared_ptr<DIPropertyGroup> getPropertyGroup(const std::string& name) const = 0;
    /// The device's parameters; null when no file had any.
    virtual std::shared_ptr<DIPropertyGroup> getParameters() const = 0;
    virtual DIList<DIVariant> getVariants() const = 0;
    virtual DIList<DIModule> getModuleDefinitions() const = 0;
    virtual std::shared_ptr<DIModule> getModuleDefinition(const std::string& name) const = 0;

protected:
    ~DIDevice() = default;
};

} // namespace hil
