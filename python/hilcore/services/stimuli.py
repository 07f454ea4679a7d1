# SPDX-License-Identifier: Apache-2.0
"""The Stimuli service: stimuli provider types and device port designators."""

from __future__ import annotations

from typing import Any

from .base import Service


class Stimuli(Service):
    """Stimuli providers feed signals into a device through its port; a provider's channel is
    bound to the port of the same designator. It has no contexts and sends no events."""

    name = "Stimuli"

    def types(self, *, timeout: float | None = None) -> list[str]:
        """The stimuli provider types the back-end knows."""
        return self._value("getStimuliTypes", timeout=timeout)

    def set_designator(self, device_id: str, designator: str, *, timeout: float | None = None) -> None:
        """Names the device's stimuli port (by default it is called by the device id)."""
        self._call("setDesignator", device_id, designator, timeout=timeout)

    def add_provider(self, *args: Any, timeout: float | None = None) -> None:
        """"addStimuliProvider": providers are set up by bundles, so it does nothing."""
        self._call("addStimuliProvider", *args, error=None, timeout=timeout)
