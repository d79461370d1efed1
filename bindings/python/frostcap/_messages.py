"""The library's message texts in English: every brace token it can queue,
from the table generated from the frostcap command's own."""

from ._token_texts import TOKEN_TEXTS

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
