// Package native is the thin layer over the library's C functions shared by
// the frostcap and frostcap/sim packages: cgo against libfrostcap-sim where
// there is a C toolchain, the system's DLL loading on Windows.
package native

import (
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
)

// Do runs f on the one operating-system thread that calls the library: the
// library is initialised on the thread that drives it (on Windows it enters
// COM there), and goroutines move between threads. The first call starts that
// thread and initialises the library on it.
func Do(f func()) {
	startOnce.Do(func() {
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
}

// HasNUL tells whether a text cannot be passed to the library, which would
// see only the part before the NUL.
func HasNUL(text string) bool { return strings.IndexByte(text, 0) >= 0 }

// utf16z is text as NUL-terminated UTF-16, the library's strings.
func utf16z(text string) []uint16 { return append(utf16.Encode([]rune(text)), 0) }

// utf8z is text as a NUL-terminated byte string, the simulation's paths.
func utf8z(text string) []byte { return append([]byte(text), 0) }
