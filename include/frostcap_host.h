/*
 * frostcap_host.h — what every C and C++ host of frostcap writes otherwise:
 * string literals of the library's character type, and the library's queued
 * messages rendered in English. Header-only; it adds nothing to the library,
 * whose whole contract stays frostcap.h.
 */
#ifndef FROSTCAP_HOST_H
#define FROSTCAP_HOST_H

#include <stddef.h>

#include "frostcap.h"
#include "frostcap_token_texts.h"

/* A string literal of frostcap_char: FROSTCAP_TEXT("C:\\") is L"C:\\" on
 * Windows and u"C:\\" elsewhere, where a C host needs C11 (or C++11) for u"". */
#ifdef _WIN32
#define FROSTCAP_TEXT(literal) L##literal
#else
#define FROSTCAP_TEXT(literal) u##literal
#endif

/* The functions here are defined in every file that includes this header,
 * and most hosts use some of them only. */
#if defined(__GNUC__) || defined(__clang__)
#define FROSTCAP_HOST_INLINE static inline __attribute__((unused))
#else
#define FROSTCAP_HOST_INLINE static inline
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The English text of the brace token `name` (without its braces, `length`
 * characters), or a null pointer for a token the table does not hold. The
 * text is static; never freed. */
FROSTCAP_HOST_INLINE const char* frostcap_token_text(const frostcap_char* name, size_t length) {
  static const struct {
    const char* token;
    const char* text;
  } table[] = {
#define FROSTCAP_HOST_TOKEN_ROW(token, text) {token, text},
      FROSTCAP_TOKEN_TEXTS(FROSTCAP_HOST_TOKEN_ROW)
#undef FROSTCAP_HOST_TOKEN_ROW
  };
  size_t row, i;
  for (row = 0; row < sizeof table / sizeof table[0]; ++row) {
    const char* token = table[row].token;
    for (i = 0; i < length && token[i] != '\0' && (frostcap_char)token[i] == name[i]; ++i) {
    }
    if (i == length && token[i] == '\0') return table[row].text;
  }
  return NULL;
}

/* Appends the UTF-8 bytes of `text` to out[*used...] while they fit in
 * capacity - 1 bytes, and counts them in *used either way. */
FROSTCAP_HOST_INLINE void frostcap_host_put(char* out, size_t capacity, size_t* used,
                                            const char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i, ++*used) {
    if (*used + 1 < capacity) out[*used] = text[i];
  }
}

/* Appends one code point, or U+FFFD for half of a surrogate pair, as UTF-8. */
FROSTCAP_HOST_INLINE void frostcap_host_put_code_point(char* out, size_t capacity, size_t* used,
                                                       unsigned long c) {
  char bytes[4];
  size_t count;
  if (c < 0x80) {
    bytes[0] = (char)c;
    count = 1;
  } else if (c < 0x800) {
    bytes[0] = (char)(0xC0 | (c >> 6));
    bytes[1] = (char)(0x80 | (c & 0x3F));
    count = 2;
  } else if (c < 0x10000) {
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    bytes[0] = (char)(0xE0 | (c >> 12));
    bytes[1] = (char)(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = (char)(0x80 | (c & 0x3F));
    count = 3;
  } else {
    bytes[0] = (char)(0xF0 | (c >> 18));
    bytes[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = (char)(0x80 | (c & 0x3F));
    count = 4;
  }
  frostcap_host_put(out, capacity, used, bytes, count);
}

/* The UTF-8 of message[0...length), with the brace tokens rendered when
 * `tokens` is nonzero; see frostcap_render_message. */
FROSTCAP_HOST_INLINE size_t frostcap_host_render(const frostcap_char* message, size_t length,
                                                 char* out, size_t capacity, int tokens) {
  size_t used = 0, pos = 0;
  int afterSeverity = 0; /* the last thing written was a severity word */
  while (message != NULL && pos < length) {
    const char* text = NULL;
    size_t close = pos + 1;
    if (tokens && message[pos] == '{') {
      while (close < length && message[close] != '}' && message[close] != '{') ++close;
      if (close < length && message[close] == '}')
        text = frostcap_token_text(message + pos + 1, close - pos - 1);
    }
    if (text != NULL) {
      /* The severities are the tokens named ..._PREFIX. */
      static const char suffix[] = "_PREFIX";
      int severity = close - pos - 1 >= sizeof suffix - 1;
      size_t textLength = 0, i;
      for (i = 0; severity && i < sizeof suffix - 1; ++i)
        severity = message[close - (sizeof suffix - 1) + i] == (frostcap_char)suffix[i];
      while (text[textLength] != '\0') ++textLength;
      if (afterSeverity && !severity) frostcap_host_put(out, capacity, &used, ": ", 2);
      frostcap_host_put(out, capacity, &used, text, textLength);
      afterSeverity = severity;
      pos = close + 1;
      continue;
    }
    {
      unsigned long c = (unsigned long)message[pos++] & 0xFFFFu;
      if (c >= 0xD800 && c < 0xDC00 && pos < length &&
          ((unsigned long)message[pos] & 0xFC00u) == 0xDC00u) {
        c = 0x10000 + ((c - 0xD800) << 10) + (((unsigned long)message[pos++] & 0xFFFFu) - 0xDC00);
      }
      frostcap_host_put_code_point(out, capacity, &used, c);
      afterSeverity = 0;
    }
  }
  if (capacity > 0) out[used < capacity ? used : capacity - 1] = '\0';
  return used;
}

/* Renders a message from frostcap_snapshot_getNextMessage (`length` code
 * units) in English, as UTF-8: every known brace token becomes its text, a
 * severity ({FATAL_PREFIX}, {WARNING_PREFIX}) followed directly by another
 * token gets ": " between them, and everything else (unknown tokens, the
 * details in parentheses) is kept as it is. As snprintf does, it writes at
 * most capacity - 1 bytes and a terminating NUL into `out` (nothing when
 * capacity is 0) and returns the length of the whole rendering, so a result
 * of capacity or more means it was cut. For example
 * "{FATAL_PREFIX}{ERR_INIT_VSS} (0x80004001: ...)" renders as
 * "error: the shadow copy service could not be reached (0x80004001: ...)". */
FROSTCAP_HOST_INLINE size_t frostcap_render_message(const frostcap_char* message, size_t length,
                                                    char* out, size_t capacity) {
  return frostcap_host_render(message, length, out, capacity, 1);
}

/* The same for any text of the library, such as a path, without rendering
 * anything: UTF-16 to UTF-8, with U+FFFD for half of a surrogate pair. */
FROSTCAP_HOST_INLINE size_t frostcap_to_utf8(const frostcap_char* text, size_t length, char* out,
                                             size_t capacity) {
  return frostcap_host_render(text, length, out, capacity, 0);
}

#ifdef __cplusplus
}
#endif

#endif
