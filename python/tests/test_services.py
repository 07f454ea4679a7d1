# SPDX-License-Identifier: Apache-2.0
"""Every service against the real back-end, on the simulator."""

from __future__ import annotations

import time

import pytest

import hilcore
from hilcore import Client, MemoryRangeError, Target, TcfError

BASE = 0x20000000


# -- Tool ---------------------------------------------------------------------------------------

def test_tool_types_and_attached_tools_include_the_simulator(client: Client) -> None:
    assert "com.velmora.hil.simulator" in client.tool.supported_types()
    assert {"ToolType": "com.velmora.hil.simulator", "ConnectionType": "", "ConnectionProperties": {}} \
        in client.tool.attached()
    assert all(t["ToolType"] == "com.velmora.hil.simulator" for t in client.tool.attached("simulator"))


def test_tool_operations_of_the_simulated_probe(client: Client, sim: Target) -> None:
    tool = sim.tool_id
    assert client.tool.context(tool)["State"] == "Ready"
    assert client.tool.raw(tool, b"\x01\x00\x03echo") == b"\x00\x03echo"
    assert int.from_bytes(client.tool.raw(tool, b"\x03"), "big") == 3300
    assert client.tool.text(tool, "echo hello there") == "hello there"
    client.tool.special(tool, "setVoltage", {"Volts": 1.8})
    assert client.tool.voltage(tool) == pytest.approx(1.8)


def test_a_pulled_cable_is_told_as_connection_lost(client: Client, sim: Target) -> None:
    with client.tool.events("connectionLost") as lost:
        client.tool.special(sim.tool_id, "loseConnection", {"Reason": "cable pulled"})
        event = lost.get(5)
    assert event is not None and "cable pulled" in str(event.args)


def test_a_tool_of_an_unknown_type_is_refused(client: Client) -> None:
    with pytest.raises(TcfError):
        client.tool.setup("com.example.nothing")


def test_a_torn_down_tool_is_gone(client: Client) -> None:
    tool = client.tool.setup("simulator")
    client.tool.tear_down(tool)
    with pytest.raises(TcfError) as refused:
        client.tool.context(tool)
    assert refused.value.code == 16


# -- Device -------------------------------------------------------------------------------------

def test_device_descriptions_by_name(client: Client) -> None:
    info = client.device.description("DEMO8")
    assert info["architecture"] == "ORIX8" and "data" in info["addresspaces"]
    space = client.device.address_space("DEMO8", "data")
    assert space["name"] == "data" and space["size"] > 0
    with pytest.raises(TcfError):
        client.device.description("NO-SUCH-DEVICE")


def test_sessions_erase_and_external_reset_are_told(client: Client, sim: Target) -> None:
    with client.device.events("externalReset") as resets:
        identity = client.device.start_session(sim.device_id, "program")
        assert identity  # the simulated device's signature
        sim.messages.expect("ProgrammingSession started", timeout=5)
        client.device.erase(sim.device_id)
        client.device.special_operation(sim.device_id, 1)
        client.device.end_session(sim.device_id)
        assert resets.get(5).args[0] == sim.device_id


# -- Memory -------------------------------------------------------------------------------------

@pytest.mark.parametrize("data", [b"\x00\x03\x03\x00\x01\x02", bytes(range(256)) * 3, b"\x03" * 0x10000],
                         ids=["escapes", "all bytes", "64 KiB of escape bytes"])
def test_memory_keeps_every_byte(sim: Target, data: bytes) -> None:
    sim.write(BASE, data)
    assert sim.read(BASE, len(data)) == data


def test_transfers_larger_than_a_step_go_in_steps(client: Client, sim: Target) -> None:
    data = bytes((n * 7) & 0xFF for n in range(0x10000))
    done: list[int] = []
    client.memory.write(sim.memory_id, BASE, data, step=0x6000)
    assert client.memory.read(sim.memory_id, BASE, len(data), step=0x6000, progress=lambda n, _: done.append(n)) == data
    assert done == [0x6000, 0xC000, 0x10000]


def test_a_read_across_a_hole_raises_the_failed_ranges_with_the_bytes_that_were_read(sim: Target) -> None:
    end_of_sram = BASE + 0x10000
    sim.write(end_of_sram - 16, b"\x11" * 16)
    with pytest.raises(MemoryRangeError) as failed:
        sim.read(end_of_sram - 16, 32)
    assert [(r.address, r.size, r.status) for r in failed.value.ranges] == [(end_of_sram, 16, 1)]
    assert failed.value.data[:16] == b"\x11" * 16 and len(failed.value.data) == 32
    with pytest.raises(MemoryRangeError) as outside:
        sim.read(0xFFFFFFF0, 32)
    assert [r.status for r in outside.value.ranges] == [1, 2]
    assert "outside the address space" in str(outside.value)


def test_a_write_to_read_only_memory_names_the_range(client: Client) -> None:
    with Target.simulator(client, "DEMO8") as demo8:
        signatures = f"{demo8.device_id}.signatures"
        start = client.memory.context(signatures)["StartBound"]
        with pytest.raises(MemoryRangeError) as failed:
            client.memory.write(signatures, start, b"\x00\x00")
    assert failed.value.ranges[0].status == 3 and failed.value.data is None


@pytest.mark.parametrize("address", [BASE + 0x100, 0xE000E000], ids=["SRAM", "bit 31 set"])
def test_fill_repeats_its_pattern_at_any_32_bit_address(sim: Target, address: int) -> None:
    sim.client.memory.fill(sim.memory_id, address, 10, b"\xAA\x55\x03")
    assert sim.read(address, 10) == b"\xAA\x55\x03" * 3 + b"\xAA"


def test_fill_refuses_what_it_cannot_send(sim: Target) -> None:
    with pytest.raises(ValueError):
        sim.client.memory.fill(sim.memory_id, 1 << 32, 4, b"\x00")
    with pytest.raises(ValueError):
        sim.client.memory.fill(sim.memory_id, 0, 4, b"")


def test_writes_are_announced_and_cached_writes_when_committed(client: Client, sim: Target) -> None:
    with client.memory.events("memoryChanged") as changes:
        sim.write(BASE, b"\x00" * 4)
        assert changes.get(5).args == [sim.memory_id, [{"addr": BASE, "size": 4}]]
        client.memory.cache_range(sim.memory_id, BASE, 4)
        sim.write(BASE, b"\x01\x02\x03\x04")
        client.sync()
        assert changes.get(0.2) is None, "a cached write is announced at its commit"
        client.memory.commit_cache(sim.memory_id)
        assert changes.get(5).args[0] == sim.memory_id
    assert sim.read(BASE, 4) == b"\x01\x02\x03\x04"


# -- Registers ----------------------------------------------------------------------------------

def test_registers_by_name_as_ints(sim: Target) -> None:
    sim.set_register("R0", 0xDEADBEEF)
    sim.set_register("SP", 0x20001000)
    assert sim.register("R0") == 0xDEADBEEF
    everything = sim.registers()
    assert everything["SP"] == 0x20001000 and list(everything)[:2] == ["R0", "R1"]


def test_register_values_that_do_not_fit_and_unknown_names_are_refused(sim: Target) -> None:
    with pytest.raises(ValueError, match="does not fit"):
        sim.set_register("R0", 1 << 32)
    with pytest.raises(hilcore.HilError, match="no register 'R99'"):
        sim.register("R99")


def test_a_slice_outside_its_register_is_refused(client: Client, sim: Target) -> None:
    r0 = client.registers.layout(sim.device_id)["R0"]["ID"]
    with pytest.raises(TcfError) as refused:
        client.registers.get_many([(r0, 2, 4)])
    assert refused.value.code == 15


# -- Stimuli, Message, Packs ----------------------------------------------------------------------

def test_a_stimulus_holds_a_value_while_bound(client: Client) -> None:
    with Target.simulator(client, "DEMO8") as demo8:
        data = f"{demo8.device_id}.data"
        assert "com.velmora.hil.simulator.stimuli" in client.stimuli.types()
        client.stimuli.set_designator(demo8.device_id, "bench")
        channel = {"Designator": "bench", "Space": "data", "Address": 0x23, "Value": [90]}
        demo8.special("stimulate", {"Configuration": {"Channels": [channel]}})
        assert client.memory.read(data, 0x23, 1) == b"Z"
        demo8.special("release")
        assert client.memory.read(data, 0x23, 1) != b"Z"


def test_messages_obey_their_context_properties(client: Client, sim: Target) -> None:
    context = f"{sim.device_id}.messages"
    client.message.set_properties(context, {"ContextName": "bench"})
    client.device.start_session(sim.device_id)
    line = str(next(sim.messages.messages(5)))
    assert line.startswith("[bench]") and "DebuggingSession started" in line
    client.message.set_properties(context, {"ReportingActive": False})
    client.device.end_session(sim.device_id)
    assert list(sim.messages.messages(0.3)) == []


def test_expect_times_out_naming_the_pattern_and_the_last_lines(client: Client, sim: Target) -> None:
    client.device.start_session(sim.device_id)
    with pytest.raises(hilcore.ExpectTimeout) as missed:
        sim.messages.expect(r"never \d+", timeout=0.3)
    assert missed.value.pattern == r"never \d+" and "never" in str(missed.value)
    assert "DebuggingSession started" in str(missed.value)


def test_packs_list_and_show_devices_in_any_case(client: Client) -> None:
    assert [d["name"] for d in client.packs.list("cm3")] == ["CMSDK_CM3"]
    assert client.packs.show("cmsdk_cm3")["architecture"] == "CORTEX-M3"
    assert any(p["name"] == "UART0" for p in client.packs.peripherals("CMSDK_CM3"))
    with pytest.raises(TcfError, match="no pack knows a device NOPE"):
        client.packs.show("NOPE")


# -- RunControl and Breakpoints -------------------------------------------------------------------

def test_the_simulator_has_no_run_control(client: Client, sim: Target) -> None:
    assert sim.device_id not in client.run_control.children()
    with pytest.raises(TcfError) as refused:
        sim.halt(timeout=1)
    assert refused.value.code == 16


def test_breakpoints_belong_to_their_client(backend: hilcore.Backend, client: Client) -> None:
    with backend.connect() as other:
        theirs = other.breakpoints.add(0x400)
        mine = client.breakpoints.add(0x500, kind="Hardware", temporary=True)
        assert {mine, theirs} <= set(client.breakpoints.ids())
        assert client.breakpoints.properties(mine)["Location"] == "0x500"
        client.breakpoints.remove([theirs])  # not ours: passed over
        assert theirs in client.breakpoints.ids()
    deadline = time.monotonic() + 5
    while theirs in client.breakpoints.ids() and time.monotonic() < deadline:
        time.sleep(0.02)
    assert theirs not in client.breakpoints.ids(), "its client went"
    with pytest.raises(ValueError):
        client.breakpoints.watch(0x20000000, access="x")

