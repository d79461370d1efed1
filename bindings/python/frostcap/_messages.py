"""The library's message texts in English: every brace token it can queue,
from one table (the frostcap command renders them with the same words)."""

TOKEN_TEXTS = {
    "FATAL_PREFIX": "error",
    "WARNING_PREFIX": "warning",
    "ERR_TAKE_SNAPSHOT": "the shadow copies could not be made",
    "ERR_INIT_VSS": "the shadow copy service could not be reached",
    "ERR_NO_VOLUMES": "there is nothing to copy: no volume and no writer was chosen",
    "ERR_SNAPSHOT_REUSE": "this snapshot has already been taken; start a new one",
    "ERR_NO_PERMISSION":
        "the service refused to start a backup; run as an administrator or backup operator",
    "ERR_BAD_GUID": "a writer id is not a GUID in braces",
    "ERR_MISSING_WRITER": "not every chosen writer answered the service",
    "ERR_NO_COMPONENT": "a chosen component is not among its writer's components",
    "ERR_MISSING_NAME": "a component was chosen without a name",
    "ERR_NOT_READY": "the snapshot has not been prepared yet",
    "ERR_FILE_SET": "the list of files could not be completed",
    "ERR_UNCAUGHT": "an unexpected internal error occurred",
    "ERR_COMPONENT_VSS": "a component failed in the shadow copy service",
    "ERR_COMPONENT_APP": "a component failed in its application",
    "ERR_COMPONENT_CUST": "a component's writer reported a failure",
}

_SEVERITIES = ("FATAL_PREFIX", "WARNING_PREFIX")


def render_message(message):
    """`message` with each known token replaced by its English text; unknown
    tokens stay as they are. A severity followed directly by an error token is
    joined to it with ": ", so "{FATAL_PREFIX}{ERR_NO_VOLUMES}" reads
    "error: there is nothing to copy: ..."."""
    out = []
    after_severity = False  # the last thing written was a severity word
    pos = 0
    while pos < len(message):
        start = message.find("{", pos)
        end = message.find("}", start) if start >= 0 else -1
        token = message[start + 1:end] if end >= 0 else None
        if token not in TOKEN_TEXTS:
            stop = len(message) if start < 0 else start + 1
            out.append(message[pos:stop])
            after_severity = after_severity and stop == pos
            pos = stop
            continue
        out.append(message[pos:start])
        if start > pos:
            after_severity = False
        if after_severity and token not in _SEVERITIES:
            out.append(": ")
        out.append(TOKEN_TEXTS[token])
        after_severity = token in _SEVERITIES
        pos = end + 1
    return "".join(out)
