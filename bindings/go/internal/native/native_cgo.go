//go:build !windows

package native

/*
#cgo CFLAGS: -I${SRCDIR}/../../../../include
#cgo LDFLAGS: -lfrostcap-sim
#include "frostcap_sim.h"
*/
import "C"

import (
	"unicode/utf16"
	"unsafe"
)

// Handle is a frostcap_snapshot*, owned by the library.
type Handle *C.frostcap_snapshot

func initLibrary() { C.frostcap_library_init() }

// missing is nil: the library is linked in.
func missing() error { return nil }

func units(text string) *C.frostcap_char {
	return (*C.frostcap_char)(unsafe.Pointer(&utf16z(text)[0]))
}

func bytes(text string) *C.char { return (*C.char)(unsafe.Pointer(&utf8z(text)[0])) }

func PathIsNetworkPath(path string) int { return int(C.frostcap_pathIsNetworkPath(units(path))) }

// New returns false when memory is exhausted.
func New() (Handle, bool) {
	h := C.frostcap_snapshot_new()
	return h, h != nil
}

func AddVolumePath(h Handle, volume string) { C.frostcap_snapshot_addVolumePath(h, units(volume)) }

func AddWriter(h Handle, writer string) { C.frostcap_snapshot_addWriter(h, units(writer)) }

func AddComponent(h Handle, database bool, writer, path, name, fallback string) {
	if database {
		C.frostcap_snapshot_addWriterDatabaseComponentFallback(
			h, units(writer), units(path), units(name), units(fallback))
	} else {
		C.frostcap_snapshot_addWriterFilegroupComponentFallback(
			h, units(writer), units(path), units(name), units(fallback))
	}
}

func SetIncrementalMode(h Handle, mode uint32) {
	C.frostcap_snapshot_setIncrementalMode(h, C.uint(mode))
}

func SetUseSystemProvider(h Handle) { C.frostcap_snapshot_setUseSystemProvider(h) }

func PerformA(h Handle) int { return int(C.frostcap_snapshot_perform_a(h)) }

func PerformB(h Handle) int { return int(C.frostcap_snapshot_perform_b(h)) }

func LoadWriterComponents(h Handle) { C.frostcap_snapshot_loadWriterComponents(h) }

func LoadWriterFileInfo(h Handle) { C.frostcap_snapshot_loadWriterFileInfo(h) }

func next(h Handle, queue Queue, length *C.size_t) *C.frostcap_char {
	switch queue {
	case Messages:
		return C.frostcap_snapshot_getNextMessage(h, length)
	case MountPaths:
		return C.frostcap_snapshot_getNextMountPath(h, length)
	case WriterComponents:
		return C.frostcap_snapshot_getNextWriterComponent(h, length)
	case WriterFiles:
		return C.frostcap_snapshot_getNextWriterFileInfo(h, length)
	default:
		return C.frostcap_snapshot_getNextWriterExcludedFileInfo(h, length)
	}
}

// Drain reads a queue to its end.
func Drain(h Handle, queue Queue) []string {
	var texts []string
	for {
		var length C.size_t
		text := next(h, queue, &length)
		if length == 0 {
			return texts
		}
		units := unsafe.Slice((*uint16)(unsafe.Pointer(text)), length)
		texts = append(texts, string(utf16.Decode(units)))
	}
}

func Free(h Handle, verdict int) { C.frostcap_snapshot_free(h, C.int(verdict)) }

// Simulated tells whether the library has the simulation's functions; a
// build with cgo links libfrostcap-sim, which always has them.
func Simulated() bool { return true }

func SimLoadScenario(path string) int { return int(C.frostcap_sim_loadScenario(bytes(path))) }

func SimLastError() string { return C.GoString(C.frostcap_sim_lastError()) }

func SimRecordCount() int { return int(C.frostcap_sim_recordCount()) }

func SimRecordEntry(index int) (string, bool) {
	entry := C.frostcap_sim_recordEntry(C.size_t(index))
	return C.GoString(entry), entry != nil
}

func SimWriteRecord(path string) int { return int(C.frostcap_sim_writeRecord(bytes(path))) }

func SimHostPath(path string) (string, bool) {
	found := C.frostcap_sim_hostPath(bytes(path))
	return C.GoString(found), found != nil
}

func SimUnload() { C.frostcap_sim_unload() }
