// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

/// The property keys and fixed values that the core and the context bundles share. Each group
/// is a namespace; equal texts in different groups are different constants, so code always
/// names a key through its group.

namespace hil::keys {

/// Processor architectures: the value of a device's architecture.
namespace Architecture {
inline const std::string ORIX8 = "ORIX8";
inline const std::string ORIX8L = "ORIX8L";
inline const std::string ORIX8X = "ORIX8X";
inline const std::string ORIX8_ZEFRA = "ORIX8_ZEFRA";
inline const std::string ORIX32_LUNE = "ORIX32_LUNE";
inline const std::string ORIX32_TESK = "ORIX32_TESK";
inline const std::string CORTEX_M0PLUS = "CORTEX-M0PLUS";
inline const std::string CORTEX_M3 = "CORTEX-M3";
inline const std::string CORTEX_M4 = "CORTEX-M4";
inline const std::string CORTEX_M7 = "CORTEX-M7";
} // namespace Architecture

/// Names of a device's address spaces.
namespace AddressSpaceName {
inline const std::string Base = "base";
inline const std::string Data = "data";
inline const std::string Eeprom = "eeprom";
inline const std::string Fuses = "fuses";
inline const std::string Io = "io";
inline const std::string Lockbits = "lockbits";
inline const std::string Osccal = "osccal";
inline const std::string Prod_signatures = "prod_signatures";
inline const std::string Prog = "prog";
inline const std::string Registers = "registers";
inline const std::string Signatures = "signatures";
inline const std::string Sysreg = "sysreg";
inline const std::string User_signatures = "user_signatures";
} // namespace AddressSpaceName

/// Names of a device's memory segments.
namespace MemorySegmentName {
inline const std::string APPTABLE_SECTION = "APPTABLE_SECTION";
inline const std::string APP_SECTION = "APP_SECTION";
inline const std::string BLERAM = "BLERAM";
inline const std::string BOOT_SECTION = "BOOT_SECTION";
inline const std::string EEPROM = "EEPROM";
inline const std::string FLASH = "FLASH";
inline const std::string FUSES = "FUSES";
inline const std::string HRAMC0 = "HRAMC0";
inline const std::string HRAMC1 = "HRAMC1";
inline const std::string IDRAM = "IDRAM";
inline const std::string IFLASH0 = "IFLASH0";
inline const std::string IFLASH1 = "IFLASH1";
inline const std::string IFLASH = "IFLASH";
inline const std::string INTERNAL_SRAM = "INTERNAL_SRAM";
inline const std::string IO = "IO";
inline const std::string IRAM0 = "IRAM0";
inline const std::string IRAM1 = "IRAM1";
inline const std::string IRAM = "IRAM";
inline const std::string IROM = "IROM";
inline const std::string LOCKBITS = "LOCKBITS";
inline const std::string MAPPED_EEPROM = "MAPPED_EEPROM";
inline const std::string MAPPED_IO = "MAPPED_IO";
inline const std::string PERIPHERALS = "PERIPHERALS";
inline const std::string PROD_SIGNATURES = "PROD_SIGNATURES";
inline const std::string PROGMEM = "PROGMEM";
inline const std::string REGISTERS = "REGISTERS";
inline const std::string ROM = "ROM";
inline const std::string RWW = "RWW";
inline const std::string SIGNATURES = "SIGNATURES";
inline const std::string SRAM = "SRAM";
inline const std::string USER_PAGE = "USER_PAGE";
inline const std::string USER_SIGNATURES = "USER_SIGNATURES";
inline const std::string XRAM = "XRAM";
} // namespace MemorySegmentName

/// Memory types of a memory context.
namespace MemoryType {
inline const std::string Data = "data";
inline const std::string Eeprom = "eeprom";
inline const std::string Io = "io";
inline const std::string Prog = "prog";
inline const std::string Ram = "ram";
inline const std::string Regs = "regs";
} // namespace MemoryType

/// Keys of a connection description.
namespace ConnectionKey {
inline const std::string DapProduct = "DapProduct";
inline const std::string PortName = "PortName";
inline const std::string SerialNumber = "SerialNumber";
inline const std::string Type = "Type";
inline const std::string UsbProductId = "UsbProductId";
inline const std::string UsbVendorId = "UsbVendorId";
} // namespace ConnectionKey

/// Connection type identifiers.
namespace ConnectionType {
inline const std::string CmsisDap = "com.velmora.orixdbg.connection.cmsis-dap";
inline const std::string Hid = "com.velmora.orixdbg.connection.hid";
inline const std::string JungoUsb = "com.velmora.orixdbg.connection.jungousb";
inline const std::string LibUsb0 = "com.velmora.orixdbg.connection.libusb0";
inline const std::string LibUsb = "com.velmora.orixdbg.connection.libusb";
inline const std::string Segger = "com.velmora.orixdbg.connection.segger";
inline const std::string SerialPort = "com.velmora.orixdbg.connection.serialport";
/// The J-Link probe reached over a network: the J-Link identifier with ".ip" appended.
inline const std::string SeggerIp = Segger + ".ip";
} // namespace ConnectionType

/// Device-specific facts a session needs.
namespace DeviceParameter {
inline const std::string BuggyZlinkBlockRead = "BuggyZlinkBlockRead";
inline const std::string BuggyZlinkBlockWrite = "BuggyZlinkBlockWrite";
inline const std::string FlashcBaseAddress = "FlashcBaseAddress";
inline const std::string FlashPageSize = "FlashPageSize";
inline const std::string FlashSize = "FlashSize";
inline const std::string NumResetDomains = "NumResetDomains";
} // namespace DeviceParameter

/// Keys of a device context's description.
namespace DeviceKey {
inline const std::string JtagId = "JtagId";
inline const std::string KeepTimersRunning = "KeepTimersRunning";
inline const std::string MemoryIDs = "MemoryIDs";
inline const std::string Name = "Name";
inline const std::string RegistersID = "RegistersID";
inline const std::string RunControlID = "RunControlID";
inline const std::string Session = "Session";
inline const std::string Signature = "Signature";
inline const std::string TraceID = "TraceID";
} // namespace DeviceKey

/// Access types of a memory context.
namespace MemoryAccessType {
inline const std::string Cache = "cache";
inline const std::string Data = "data";
inline const std::string Hypervisor = "hypervisor";
inline const std::string Instruction = "instruction";
inline const std::string Io = "io";
inline const std::string Physical = "physical";
inline const std::string Supervisor = "supervisor";
inline const std::string Tlb = "tlb";
inline const std::string User = "user";
inline const std::string Virtual = "virtual";
} // namespace MemoryAccessType

/// Keys of a memory context's description.
namespace MemoryKey {
inline const std::string AccessTypes = "AccessTypes";
inline const std::string AddressSize = "AddressSize";
inline const std::string BigEndian = "BigEndian";
inline const std::string EndBound = "EndBound";
inline const std::string ID = "ID";
inline const std::string Name = "Name";
inline const std::string ParentID = "ParentID";
inline const std::string ProcessID = "ProcessID";
inline const std::string StartBound = "StartBound";
inline const std::string BootloaderSize = "BootloaderSize";
inline const std::string BootloaderStartAddr = "BootloaderStartAddr";
} // namespace MemoryKey

/// Settings of a message context.
namespace MessageKey {
inline const std::string ContextName = "ContextName";
inline const std::string ReportingActive = "ReportingActive";
inline const std::string SeverityThreshold = "SeverityThreshold";
} // namespace MessageKey

/// Keys of a process context's description.
namespace ProcessKey {
inline const std::string Attached = "Attached";
inline const std::string CanTerminate = "CanTerminate";
inline const std::string ID = "ID";
inline const std::string Name = "Name";
inline const std::string ParentID = "ParentID";
inline const std::string StdErrID = "StdErrID";
inline const std::string StdInID = "StdInID";
inline const std::string StdOutID = "StdOutID";
inline const std::string LoadAddress = "LoadAddress";
inline const std::string MemoryType = "MemoryType";
inline const std::string UseSymbols = "UseSymbols";
inline const std::string RunControlId = "RunControlId";
inline const std::string Signature = "Signature";
inline const std::string TraceID = "TraceID";
} // namespace ProcessKey

/// Keys of a register context's description.
namespace RegisterKey {
inline const std::string BigEndian = "BigEndian";
inline const std::string Bits = "Bits";
inline const std::string CanSearch = "CanSearch";
inline const std::string Description = "Description";
inline const std::string FirstBit = "FirstBit";
inline const std::string Float = "Float";
inline const std::string ID = "ID";
inline const std::string LeftToRight = "LeftToRight";
inline const std::string MemoryAddress = "MemoryAddress";
inline const std::string MemoryContext = "MemoryContext";
inline const std::string Name = "Name";
inline const std::string ParentID = "ParentID";
inline const std::string ProcessID = "ProcessID";
inline const std::string Readable = "Readable";
inline const std::string ReadOnce = "ReadOnce";
inline const std::string Role = "Role";
inline const std::string SideEffects = "SideEffects";
inline const std::string Size = "Size";
inline const std::string Values = "Values";
inline const std::string Volatile = "Volatile";
inline const std::string Writeable = "Writeable";
inline const std::string WriteOnce = "WriteOnce";
} // namespace RegisterKey

/// Values of a register's role.
namespace RegisterRole {
inline const std::string CORE = "CORE";
inline const std::string FP = "FP";
inline const std::string PC = "PC";
inline const std::string RET = "RET";
inline const std::string SP = "SP";
inline const std::string ALIAS = "ALIAS";
inline const std::string CYCLECOUNTER = "CYCLECOUNTER";
inline const std::string SREG = "SREG";
} // namespace RegisterRole

/// Register search and named-value keys.
namespace RegisterSearchKey {
inline const std::string EqualValue = "EqualValue";
inline const std::string Name = "Name";
} // namespace RegisterSearchKey

/// Keys of a tool context's description, and its connection kinds.
namespace ToolKey {
inline const std::string ID = "ID";
inline const std::string ParentID = "ParentID";
inline const std::string Com = "Com";
inline const std::string Usb = "Usb";
} // namespace ToolKey

/// Clocks and scan-chain position, set on a tool before a session.
namespace InterfaceSetting {
inline const std::string ZLinkMaxBaud = "ZLinkMaxBaud";
inline const std::string TracLinkClockDiv = "TracLinkClockDiv";
inline const std::string IspClock = "IspClock";
inline const std::string JtagDbgClock = "JtagDbgClock";
inline const std::string JtagProgClock = "JtagProgClock";
inline const std::string KdlClock = "KdlClock";
inline const std::string SwdClock = "SwdClock";
inline const std::string YkdlClock = "YkdlClock";
inline const std::string JtagDeviceId = "JtagDeviceId";
inline const std::string JtagDeviceIrLength = "JtagDeviceIrLength";
inline const std::string JtagDeviceName = "JtagDeviceName";
inline const std::string JtagDevicesAfter = "JtagDevicesAfter";
inline const std::string JtagDevicesBefore = "JtagDevicesBefore";
inline const std::string JtagInstrBitsAfter = "JtagInstrBitsAfter";
inline const std::string JtagInstrBitsBefore = "JtagInstrBitsBefore";
inline const std::string JtagInChain = "JtagInChain";
inline const std::string JtagEnableExtResetOnStartSession = "JtagEnableExtResetOnStartSession";
} // namespace InterfaceSetting

/// Names of physical interfaces.
namespace PhysicalInterface {
inline const std::string ZLink = "zLink";
inline const std::string TracLINK = "tracLINK";
inline const std::string HXBP = "HXBP";
inline const std::string HXBS = "HXBS";
inline const std::string ISP = "ISP";
inline const std::string JTAG = "JTAG";
inline const std::string KDL = "KDL";
inline const std::string Serial = "Serial";
inline const std::string SWD = "SWD";
inline const std::string MQL = "MQL";
inline const std::string YKDL = "YKDL";
inline const std::string USB_Serial = "USB-Serial";
} // namespace PhysicalInterface

/// Keys of a tool's description.
namespace ToolDescriptionKey {
inline const std::string BoardProperties = "BoardProperties";
inline const std::string DeviceId = "DeviceId";
inline const std::string DeviceName = "DeviceName";
inline const std::string InterfaceName = "InterfaceName";
inline const std::string InterfaceProperties = "InterfaceProperties";
inline const std::string InterfaceType = "InterfaceType";
inline const std::string Name = "Name";
inline const std::string State = "State";
inline const std::string SupportedDevices = "SupportedDevices";
} // namespace ToolDescriptionKey

/// Values of a tool's "State".
namespace ToolState {
inline const std::string Busy = "Busy";
inline const std::string Idle = "Idle";
inline const std::string Ready = "Ready";
} // namespace ToolState

/// Launch and session options.
namespace LaunchOption {
inline const std::string CacheFlash = "CacheFlash";
inline const std::string GdbLocation = "GdbLocation";
inline const std::string GdbStartupCmd = "GdbStartupCmd";
inline const std::string RequireHardReset = "RequireHardReset";
inline const std::string ResetRule = "ResetRule";
inline const std::string UncachedRange = "UncachedRange";
inline const std::string UseGdb = "UseGdb";
inline const std::string EraseKey = "EraseKey";
inline const std::string LaunchAttached = "LaunchAttached";
inline const std::string LaunchLoadModuleParams = "LaunchLoadModuleParams";
inline const std::string LaunchSuspended = "LaunchSuspended";
inline const std::string PreserveEeprom = "PreserveEeprom";
inline const std::string EraseRule = "EraseRule";
inline const std::string MemoryRanges = "MemoryRanges";
inline const std::string BootSegment = "BootSegment";
inline const std::string RamSnippetAddress = "RamSnippetAddress";
inline const std::string ProgFlashFromRam = "ProgFlashFromRam";
} // namespace LaunchOption

} // namespace hil::keys
