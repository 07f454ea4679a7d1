# SPDX-License-Identifier: Apache-2.0
"""Starting and stopping a back-end process on a free loopback port."""

from __future__ import annotations

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Any, Sequence

from .client import Client
from .errors import BackendError

BACKEND_ENV = "HIL_BACKEND"  # the executable, when none is named


def find_executable(executable: str | Path | None = None) -> str:
    """The back-end executable: the one named, else $HIL_BACKEND, else hilcore-backend on the
    PATH. Raises BackendError when there is none."""
    named = str(executable) if executable else os.environ.get(BACKEND_ENV) or shutil.which("hilcore-backend")
    if not named:
        raise BackendError(f"no back-end executable: name one, set {BACKEND_ENV} or put hilcore-backend on the PATH")
    if not os.access(named, os.X_OK):
        raise BackendError(f"{named} is not an executable file")
    return named


class Backend:
    """A back-end process listening on a free port of 127.0.0.1, started by ``start`` (or a
    ``with``) and stopped by ``stop``.

    ``bundles`` and ``preferences`` become --bundles and --preferences; ``options`` are more
    command-line options. With ``isolated`` (the default) it reads no user configuration and
    keeps its pack cache in a folder of its own, and takes no part in UDP discovery, so that
    back-ends of tests running side by side never meet.
    """

    def __init__(self, executable: str | Path | None = None, *, bundles: str | Path | None = None,
                 preferences: str | Path | None = None, options: Sequence[str] = (),
                 env: dict[str, str] | None = None, isolated: bool = True, start_timeout: float = 20.0) -> None:
        self.executable = find_executable(executable)
        self.arguments = [self.executable, "--listen", "127.0.0.1:0"]
        if isolated and "--discovery" not in options:
            self.arguments += ["--discovery", "off"]
        if bundles:
            self.arguments += ["--bundles", str(bundles)]
        if preferences:
            self.arguments += ["--preferences", str(preferences)]
        self.arguments += list(options)
        self.env = dict(os.environ if env is None else env)
        self.isolated = isolated
        self.start_timeout = start_timeout
        self.host = "127.0.0.1"
        self.port = 0
        self.process: subprocess.Popen[bytes] | None = None
        self._folder: tempfile.TemporaryDirectory[str] | None = None
        self._last_log = ""

    @property
    def address(self) -> tuple[str, int]:
        """(host, port) it listens on."""
        return self.host, self.port

    @property
    def pid(self) -> int:
        """The process id (0 when not running)."""
        return self.process.pid if self.process else 0

    def start(self) -> Backend:
        """Starts the process and waits until it says its port. Raises BackendError (with its
        log) when it does not within ``start_timeout`` seconds."""
        if self.process is not None:
            raise BackendError("the back-end runs already")
        self._folder = tempfile.TemporaryDirectory(prefix="hilcore-backend-")
        folder = Path(self._folder.name)
        env = dict(self.env)
        if self.isolated:
            (folder / "config").mkdir()
            env.update(XDG_CONFIG_HOME=str(folder / "config"), HIL_PACK_CACHE=str(folder / "pack-cache"))
        with open(folder / "backend.log", "wb") as log:
            self.process = subprocess.Popen(self.arguments, stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL,
                                            env=env)
        line = self._first_line()
        if not line.startswith("Listening on ") or ":" not in line:
            self.stop()
            raise BackendError(f"the back-end did not start: {line or 'it said nothing'}\n{self.log()}")
        self.port = int(line.rsplit(":", 1)[1])
        return self

    def _first_line(self) -> str:
        assert self.process and self.process.stdout
        out, line = self.process.stdout, b""
        deadline = time.monotonic() + self.start_timeout
        while not line.endswith(b"\n") and (left := deadline - time.monotonic()) > 0:
            if not select.select([out], [], [], left)[0]:
                break
            byte = os.read(out.fileno(), 1)
            if not byte:
                break
            line += byte
        return line.decode(errors="replace").strip()

    def connect(self, **options: Any) -> Client:
        """A client connected to this back-end (options as Client takes them)."""
        if not self.port:
            raise BackendError("the back-end is not running")
        return Client(self.host, self.port, **options)

    def running(self) -> bool:
        """Whether the process still runs."""
        return self.process is not None and self.process.poll() is None

    def stop(self, timeout: float = 10.0) -> int | None:
        """Stops the process (SIGTERM, then SIGKILL after ``timeout`` seconds) and returns its
        exit code (negative: the signal that ended it); None when it did not run."""
        process, self.process = self.process, None
        if process is None:
            return None
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if process.stdout:
            process.stdout.close()
        self.port = 0
        self._last_log = self.log() if self._folder else ""
        if self._folder:
            self._folder.cleanup()
            self._folder = None
        return process.returncode

    def kill(self) -> None:
        """Kills the process at once (SIGKILL), as a crash would; ``stop`` still cleans up."""
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def log(self) -> str:
        """What the process wrote to its standard error so far (the last run's after stop)."""
        if self._folder is None:
            return self._last_log
        try:
            return (Path(self._folder.name) / "backend.log").read_text(errors="replace")
        except OSError:
            return ""

    def __enter__(self) -> Backend:
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()
