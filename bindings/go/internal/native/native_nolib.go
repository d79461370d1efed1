//go:build !windows && !cgo

package native

import (
	"fmt"
	"runtime"
)

// Outside Windows the library is reached through cgo only. A build without
// cgo (CGO_ENABLED=0, as pure-Go release builds for every platform are made)
// still compiles, and every call answers ErrNoLibrary with this reason.
func missing() error {
	return fmt.Errorf("%w: this program was built without cgo, through which it reaches the "+
		"library on %s (build with CGO_ENABLED=1 and libfrostcap)", ErrNoLibrary, runtime.GOOS)
}

// The functions below are never called, since Do refuses first; they give
// the build the same names as the others.

type Handle uintptr

func initLibrary()                                              {}
func PathIsNetworkPath(string) int                              { return 1 }
func New() (Handle, bool)                                       { return 0, false }
func AddVolumePath(Handle, string)                              {}
func AddWriter(Handle, string)                                  {}
func AddComponent(Handle, bool, string, string, string, string) {}
func SetIncrementalMode(Handle, uint32)                         {}
func SetUseSystemProvider(Handle)                               {}
func PerformA(Handle) int                                       { return 1 }
func PerformB(Handle) int                                       { return 1 }
func LoadWriterComponents(Handle)                               {}
func LoadWriterFileInfo(Handle)                                 {}
func Drain(Handle, Queue) []string                              { return nil }
func Free(Handle, int)                                          {}
func Simulated() bool                                           { return false }
func SimLoadScenario(string) int                                { return 1 }
func SimLastError() string                                      { return "" }
func SimRecordCount() int                                       { return 0 }
func SimRecordEntry(int) (string, bool)                         { return "", false }
func SimWriteRecord(string) int                                 { return 1 }
func SimHostPath(string) (string, bool)                         { return "", false }
func SimUnload()                                                {}
