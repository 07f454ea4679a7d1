# SPDX-License-Identifier: Apache-2.0
"""The client against a scripted peer: replies matched to their commands, events in order,
progress reports, time-outs and a peer that goes away."""

from __future__ import annotations

import json
import socket
import threading
import time
from typing import Iterator

import pytest

from fake_backend import FakeBackend
from hilcore import CallTimeout, Client, ConnectError, ConnectionLost, HilError, NotRecognised, ProtocolError, wire


@pytest.fixture
def fake() -> Iterator[FakeBackend]:
    peer = FakeBackend()
    yield peer
    peer.close()


@pytest.fixture
def client(fake: FakeBackend) -> Iterator[Client]:
    with Client("127.0.0.1", fake.port, timeout=5) as connected:
        yield connected


def call_in_thread(client: Client, *args, **options) -> tuple[threading.Thread, dict]:
    """Runs client.call in a thread; the result or the exception lands in the dict."""
    outcome: dict = {}

    def run() -> None:
        try:
            outcome["values"] = client.call(*args, **options)
        except Exception as error:  # handed to the test
            outcome["error"] = error
    thread = threading.Thread(target=run)
    thread.start()
    return thread, outcome


def test_hello_names_the_peers_services_and_the_client_says_hello_first(client: Client) -> None:
    assert client.services == ["Locator", "Test"]


def test_arguments_travel_as_json_and_values_come_back_as_python(fake: FakeBackend, client: Client) -> None:
    thread, outcome = call_in_thread(client, "Test", "echo", "a\x03\x00b", {"n": 1}, None, [1, 2])
    token, service, name, args = fake.next_command()
    assert (service, name) == ("Test", "echo")
    assert [json.loads(a) for a in args] == ["a\x03\x00b", {"n": 1}, None, [1, 2]]
    fake.reply(token, b"", b'"x\\u0000\\u0003y"', b"NaN", b"[1,2]")
    thread.join(5)
    values = outcome["values"]
    assert values[0] is None and values[1] == "x\x00\x03y" and values[2] != values[2] and values[3] == [1, 2]


def test_a_value_that_is_no_json_is_a_protocol_error_and_the_client_goes_on(fake: FakeBackend, client: Client) -> None:
    thread, outcome = call_in_thread(client, "Test", "c")
    token, *_ = fake.next_command()
    fake.reply(token, b"{not json")
    thread.join(5)
    assert isinstance(outcome["error"], ProtocolError)
    thread, outcome = call_in_thread(client, "Test", "c")
    token, *_ = fake.next_command()
    fake.reply(token, b"1")
    thread.join(5)
    assert outcome["values"] == [1]


def test_replies_out_of_order_reach_their_own_calls(fake: FakeBackend, client: Client) -> None:
    calls = [call_in_thread(client, "Test", "c", n) for n in range(5)]
    commands = [fake.next_command() for _ in calls]
    for token, _, _, args in reversed(commands):
        fake.reply(token, f'"answer to {json.loads(args[0])}"'.encode())
    for n, (thread, outcome) in enumerate(calls):
        thread.join(5)
        assert outcome["values"] == [f"answer to {n}"]


def test_events_between_replies_come_in_order_before_the_reply_after_them(fake: FakeBackend, client: Client) -> None:
    seen: list[int] = []
    client.subscribe("Test", lambda event: seen.append(event.args[0]), "tick")
    queue = client.events("Test")
    thread, outcome = call_in_thread(client, "Test", "c")
    token, *_ = fake.next_command()
    stream = b"".join(wire.encode(wire.EVENT, [b"Test", b"tick", str(n).encode()]) for n in range(50))
    stream += wire.encode(wire.EVENT, [b"Other", b"tick", b"99"]) + wire.encode(wire.REPLY, [token.encode()])
    fake.send(stream[:7])
    fake.send(stream[7:])
    thread.join(5)
    # The reply came after the events: by the time the call returns, they were all delivered.
    assert outcome["values"] == [] and seen == list(range(50))
    assert [event.args[0] for event in queue] == list(range(50))


def test_progress_reports_go_to_the_call_before_its_reply(fake: FakeBackend, client: Client) -> None:
    reports: list[list] = []
    thread, outcome = call_in_thread(client, "Test", "long", progress=reports.append)
    token, *_ = fake.next_command()
    for percent in (10, 50, 100):
        fake.send_message(wire.PROGRESS, [token.encode(), json.dumps({"Progress": percent}).encode()])
    fake.reply(token, b"")
    thread.join(5)
    assert reports == [[{"Progress": 10}], [{"Progress": 50}], [{"Progress": 100}]]
    assert outcome["values"] == [None]


def test_a_service_the_peer_does_not_offer_raises_not_recognised(fake: FakeBackend, client: Client) -> None:
    thread, outcome = call_in_thread(client, "Nope", "c")
    token, *_ = fake.next_command()
    fake.send_message(wire.NOT_RECOGNISED, [token.encode()])
    thread.join(5)
    assert isinstance(outcome["error"], NotRecognised)


def test_a_reply_that_never_comes_times_out_and_a_late_one_is_dropped(fake: FakeBackend, client: Client) -> None:
    started = time.monotonic()
    with pytest.raises(CallTimeout, match="Test slow"):
        client.call("Test", "slow", timeout=0.3)
    assert 0.3 <= time.monotonic() - started < 1.5
    late, *_ = fake.next_command()
    thread, outcome = call_in_thread(client, "Test", "next")
    token, *_ = fake.next_command()
    fake.reply(late, b'"late"')
    fake.reply(token, b'"mine"')
    thread.join(5)
    assert outcome["values"] == ["mine"]


def test_a_lost_connection_is_raised_once_to_every_waiter_and_to_every_later_call(
        fake: FakeBackend, client: Client) -> None:
    queue = client.events("Test")
    waiting = [call_in_thread(client, "Test", "c", n, timeout=30) for n in range(3)]
    for _ in waiting:
        fake.next_command()
    started = time.monotonic()
    fake.close()
    for thread, outcome in waiting:
        thread.join(5)
        assert isinstance(outcome["error"], ConnectionLost)
    assert time.monotonic() - started < 2, "the waiters must not sit out their time-outs"
    with pytest.raises(ConnectionLost):
        queue.get(5)
    with pytest.raises(ConnectionLost):
        client.call("Test", "after")
    assert not client.connected


def test_a_call_from_an_event_callback_is_refused_instead_of_waiting_for_itself(
        fake: FakeBackend, client: Client) -> None:
    errors: list[Exception] = []

    def callback(event) -> None:
        try:
            client.call("Test", "inside")
        except HilError as error:
            errors.append(error)
    client.subscribe("Test", callback)
    fake.event("Test", "e")
    client.events("Test").get(0)  # nothing to wait for: the callback ran or runs on the reader
    deadline = time.monotonic() + 5
    while not errors and time.monotonic() < deadline:
        time.sleep(0.01)
    assert "wait for itself" in str(errors[0])
    assert client.connected


def test_a_refused_connection_is_a_connect_error_at_once() -> None:
    with socket.create_server(("127.0.0.1", 0)) as spare:
        port = spare.getsockname()[1]
    started = time.monotonic()
    with pytest.raises(ConnectError, match=f"127.0.0.1:{port}"):
        Client("127.0.0.1", port)
    assert time.monotonic() - started < 2


def test_a_peer_that_never_says_hello_is_a_connect_error_after_the_time_out() -> None:
    silent = FakeBackend(hello=False)
    try:
        with pytest.raises(ConnectError, match="no Hello"):
            Client("127.0.0.1", silent.port, connect_timeout=0.3)
    finally:
        silent.close()
