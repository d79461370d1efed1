"""Errors a program can act on: every error of the binding is a frostcap.Error
with the status code of the failure, the call that failed, the writer and
component it concerns, and whether trying the backup again later may
succeed. The classification is the table generated from
bindings/status_classes.inc."""

import re

from ._messages import render_message
from ._status_classes import STATUS_CLASSES, TOKEN_STATUSES

# A failed call in a message: "label: 0x...: description", with the writer's
# name in parentheses after a writer's label, or the status alone in the
# parentheses of a detail.
_CALL = re.compile(r"(?:^|\()(?:([^(){}]*?)(?:\(([^()]*)\))?: )?0x([0-9a-fA-F]{8})(?::|\)|$)")
# A component of a writer that failed in part: "{ERR_COMPONENT_...}: (name): ...".
_COMPONENT = re.compile(r"\{ERR_COMPONENT_[A-Z]+\}: \(([^()]*)\)")
_TOKEN = re.compile(r"\{([A-Z_]+)\}")

E_INVALIDARG = 0x80070057


def status_class(status, writer=None):
    """(name, kind, retryable) of a status: the table's entry, else no name,
    kind "writer_failure" when a writer reported it or "other", and not
    retryable."""
    if status in STATUS_CLASSES:
        return STATUS_CLASSES[status]
    return None, "writer_failure" if writer else "other", False


class Error(Exception):
    """An error of frostcap. `status` is the status code (an unsigned 32-bit
    number, None when the failure has none), `status_name` its name when the
    table knows it, `label` the call that failed, `writer` the name of the
    writer and `component` the name of the component it concerns (None when
    not known), `kind` one of "access_denied", "busy", "writer_failure",
    "unsupported_volume", "invalid_argument", "other", and `retryable` whether
    taking the snapshot again later may succeed."""

    def __init__(self, text, status=None, label=None, writer=None, component=None):
        super().__init__(text)
        self.status, self.label, self.writer, self.component = status, label, writer, component
        self.status_name, self.kind, self.retryable = status_class(status, writer)


class InvalidIdError(Error, ValueError):
    """An id that is not a GUID in braces, refused before the library sees it."""

    def __init__(self, what, value):
        super().__init__(f"{what} {value!r} is not a GUID in braces, such as "
                         "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", status=E_INVALIDARG)
        self.value = value


_GUID = re.compile(r"\{[0-9A-Fa-f]{8}-(?:[0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}\}")


def check_id(what, value):
    if not isinstance(value, str) or not _GUID.fullmatch(value):
        raise InvalidIdError(what, value)
    return value


def parse_failure(messages):
    """(status, label, writer, component) of a failed phase, read from the
    messages it queued: the first failed call outside the component messages,
    or the status a token stands for, and the first component named."""
    status = label = writer = component = None
    for message in messages:
        named = _COMPONENT.match(message)
        if named:
            component = component or named.group(1)
            continue
        if status is not None:
            continue
        call = _CALL.search(message)
        if call:
            label, writer, status = call.group(1) or None, call.group(2), int(call.group(3), 16)
            continue
        status = next((TOKEN_STATUSES[t] for t in _TOKEN.findall(message) if t in TOKEN_STATUSES),
                      None)
    return status, label, writer, component


class SnapshotError(Error):
    """A phase failed. `messages` holds the texts the library queued, with
    their tokens; str() gives them in English, one a line."""

    def __init__(self, messages):
        self.messages = list(messages)
        super().__init__("\n".join(render_message(m) for m in self.messages)
                         or "the snapshot failed without a message", *parse_failure(self.messages))
