package frostcap

//go:generate cmake -P ../../cmake/token-texts.cmake

import "strings"

// TokenTexts holds the English words of every brace token the library
// queues, the words the frostcap command renders them with.
var TokenTexts = map[string]string{}

func init() {
	for _, entry := range tokenTable {
		TokenTexts[entry[0]] = entry[1]
	}
}

func isSeverity(token string) bool { return token == "FATAL_PREFIX" || token == "WARNING_PREFIX" }

// RenderMessage is message with each known token replaced by its English
// words; unknown tokens stay as they are. A severity followed directly by an
// error token is joined to it with ": ", so "{FATAL_PREFIX}{ERR_NO_VOLUMES}"
// reads "error: there is nothing to copy: ...".
func RenderMessage(message string) string {
	var out strings.Builder
	afterSeverity := false // the last thing written was a severity word
	for pos := 0; pos < len(message); {
		open := strings.IndexByte(message[pos:], '{')
		close := -1
		if open >= 0 {
			open += pos
			close = strings.IndexByte(message[open:], '}')
		}
		text, known := "", false
		if close >= 0 {
			close += open
			text, known = TokenTexts[message[open+1:close]]
		}
		if !known {
			end := len(message)
			if open >= 0 {
				end = open + 1
			}
			out.WriteString(message[pos:end])
			afterSeverity = false
			pos = end
			continue
		}
		token := message[open+1 : close]
		out.WriteString(message[pos:open])
		if afterSeverity && open == pos && !isSeverity(token) {
			out.WriteString(": ")
		}
		out.WriteString(text)
		afterSeverity = isSeverity(token)
		pos = close + 1
	}
	return out.String()
}
