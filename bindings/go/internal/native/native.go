// Package native is the thin layer over the library's C functions shared by
// the frostcap and frostcap/sim packages: the system's DLL loading on
// Windows, cgo against libfrostcap-sim elsewhere, and, in a build without cgo
// outside Windows, nothing: every call then answers ErrNoLibrary.
package native

import (
	"errors"
	"os"
	"runtime"
	"strings"
	"sync"
	"unicode/utf16"
)

// Queue names one of a handle's queues of texts.
type Queue int

const (
	Messages Queue = iota
	MountPaths
	WriterComponents
	WriterFiles
	WriterExcludedFiles
)

var (
	startOnce sync.Once
	calls     = make(chan func())

	// Whether the library's thread was started, which initialises the library.
	startedLock sync.Mutex
	started     bool
)

// ErrTraceTooLate is SetTrace's answer once the library was initialised.
var ErrTraceTooLate = errors.New("frostcap.TraceTo: the library was initialised by an earlier " +
	"call of this process, and reads FROSTCAP_TRACE only then; call TraceTo before the first")

// SetTrace names the trace file in the process's environment, where the
// library reads it when it is initialised; ErrTraceTooLate once it was.
func SetTrace(path string) error {
	startedLock.Lock()
	defer startedLock.Unlock()
	if started {
		return ErrTraceTooLate
	}
	return os.Setenv("FROSTCAP_TRACE", path)
}

// ErrNoLibrary is what every call answers, wrapped with the reason, when the
// program has no library to call.
var ErrNoLibrary = errors.New("frostcap: the frostcap library is not available")

// Do runs f on the one operating-system thread that calls the library: the
// library is initialised on the thread that drives it (on Windows it enters
// COM there), and goroutines move between threads. The first call starts that
// thread and initialises the library on it. Without a library, f does not run
// and Do answers why.
func Do(f func()) error {
	if err := missing(); err != nil {
		return err
	}
	startOnce.Do(func() {
		startedLock.Lock()
		started = true
		startedLock.Unlock()
		go func() {
			runtime.LockOSThread()
			initLibrary()
			for call := range calls {
				call()
			}
		}()
	})
	done := make(chan struct{})
	calls <- func() {
		defer close(done)
		f()
	}
	<-done
	return nil
}

// HasNUL tells whether a text cannot be passed to the library, which would
// see only the part before the NUL.
func HasNUL(text string) bool { return strings.IndexByte(text, 0) >= 0 }

// utf16z is text as NUL-terminated UTF-16, the library's strings.
func utf16z(text string) []uint16 { return append(utf16.Encode([]rune(text)), 0) }

// utf8z is text as a NUL-terminated byte string, the simulation's paths.
func utf8z(text string) []byte { return append([]byte(text), 0) }
