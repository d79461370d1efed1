package frostcap

import (
	"fmt"
	"regexp"
	"strconv"
	"strings"
)

// HRESULT is a status code in the platform's layout, as the service and the
// system report it. It is an error, so that errors.As finds it in the chain
// of an *Error:
//
//	var status frostcap.HRESULT
//	if errors.As(err, &status) && status.Retryable() { ... }
type HRESULT uint32

// Kind is the kind of condition a status stands for.
type Kind int

const (
	KindOther Kind = iota
	KindAccessDenied
	KindBusy
	KindWriterFailure
	KindUnsupportedVolume
	KindInvalidArgument
)

var kindNames = [...]string{"other", "access denied", "busy", "writer failure",
	"unsupported volume", "invalid argument"}

func (k Kind) String() string {
	if k < 0 || int(k) >= len(kindNames) {
		return "kind " + strconv.Itoa(int(k))
	}
	return kindNames[k]
}

type statusClass struct {
	status    HRESULT
	name      string
	kind      Kind
	retryable bool
}

type tokenStatus struct {
	token  string
	status HRESULT
}

func lookup(h HRESULT) (statusClass, bool) {
	for _, class := range statusTable {
		if class.status == h {
			return class, true
		}
	}
	return statusClass{}, false
}

// Name is the status's symbolic name when the classification table knows
// it, such as VSS_E_SNAPSHOT_SET_IN_PROGRESS; empty otherwise.
func (h HRESULT) Name() string {
	class, _ := lookup(h)
	return class.name
}

// Kind is the condition the classification table gives the status; KindOther
// for a status it does not list.
func (h HRESULT) Kind() Kind {
	class, _ := lookup(h)
	return class.kind
}

// Retryable tells whether the status names a passing condition, so that
// taking the snapshot again later may succeed.
func (h HRESULT) Retryable() bool {
	class, _ := lookup(h)
	return class.retryable
}

func (h HRESULT) Error() string {
	if name := h.Name(); name != "" {
		return fmt.Sprintf("0x%08x %s", uint32(h), name)
	}
	return fmt.Sprintf("0x%08x", uint32(h))
}

// Error is a failure of the snapshot. Messages are the texts the library
// queued, with their tokens; Error() gives them in English, one a line.
// Status is the failure's status code (zero when it has none), which Unwrap
// answers; Label the call that failed, Writer the name of the writer and
// Component the name of the component it concerns (empty when not known);
// Kind and Retryable come from the classification table, and a status a
// writer reported that the table does not list is a KindWriterFailure.
type Error struct {
	Messages  []string
	Status    HRESULT
	Label     string
	Writer    string
	Component string
	Kind      Kind
	Retryable bool
	text      string // for an error made here rather than by the library
}

func (e *Error) Error() string {
	if e.text != "" {
		return e.text
	}
	if len(e.Messages) == 0 {
		return "the snapshot failed without a message"
	}
	rendered := make([]string, len(e.Messages))
	for i, message := range e.Messages {
		rendered[i] = RenderMessage(message)
	}
	return strings.Join(rendered, "\n")
}

// Unwrap answers the status, when there is one.
func (e *Error) Unwrap() error {
	if e.Status == 0 {
		return nil
	}
	return e.Status
}

func (e *Error) classify() *Error {
	class, known := lookup(e.Status)
	e.Kind, e.Retryable = class.kind, class.retryable
	if !known && e.Writer != "" {
		e.Kind = KindWriterFailure
	}
	return e
}

var (
	// A failed call in a message: "label: 0x...: description", with the
	// writer's name in parentheses after a writer's label, or the status
	// alone in the parentheses of a detail.
	failedCall = regexp.MustCompile(`(?:^|\()(?:([^(){}]*?)(?:\(([^()]*)\))?: )?0x([0-9a-fA-F]{8})(?::|\)|$)`)
	// A component of a writer that failed in part.
	failedComponent = regexp.MustCompile(`^\{ERR_COMPONENT_[A-Z]+\}: \(([^()]*)\)`)
	braceToken      = regexp.MustCompile(`\{([A-Z_]+)\}`)
)

// failure reads a failed phase's messages: the first failed call outside
// the component messages, or the status a token stands for, and the first
// component named.
func failure(messages []string) *Error {
	e := &Error{Messages: messages}
	found := false
	for _, message := range messages {
		if named := failedComponent.FindStringSubmatch(message); named != nil {
			if e.Component == "" {
				e.Component = named[1]
			}
			continue
		}
		if found {
			continue
		}
		if call := failedCall.FindStringSubmatch(message); call != nil {
			code, _ := strconv.ParseUint(call[3], 16, 32)
			e.Label, e.Writer, e.Status, found = call[1], call[2], HRESULT(code), true
			continue
		}
		for _, token := range braceToken.FindAllStringSubmatch(message, -1) {
			for _, entry := range tokenStatuses {
				if !found && entry.token == token[1] {
					e.Status, found = entry.status, true
				}
			}
		}
	}
	return e.classify()
}

var guid = regexp.MustCompile(`^\{[0-9A-Fa-f]{8}-(?:[0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}\}$`)

const eInvalidArg HRESULT = 0x80070057

// checkID refuses an id that is not a GUID in braces before the library
// sees it, naming it.
func checkID(what, id string) error {
	if guid.MatchString(id) {
		return nil
	}
	return (&Error{Status: eInvalidArg, text: fmt.Sprintf(
		"frostcap: %s %q is not a GUID in braces, such as {5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}",
		what, id)}).classify()
}
