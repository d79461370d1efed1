package native

import (
	"fmt"
	"runtime"
	"syscall"
	"unicode/utf16"
	"unsafe"
)

// Handle is a frostcap_snapshot*, owned by the library.
type Handle uintptr

// The library is loaded as the system loads any DLL by name, from beside the
// program first. A host's own tests put frostcap-sim.dll there under this
// name to reach the simulated service.
var library = syscall.NewLazyDLL("frostcap.dll")

var procs = map[string]*syscall.LazyProc{}

func proc(name string) *syscall.LazyProc {
	found, ok := procs[name]
	if !ok {
		found = library.NewProc(name)
		procs[name] = found
	}
	return found
}

// call calls one of the library's functions. An argument is a Handle, a
// string (passed as UTF-16), a []byte, a *uintptr or an integer; whatever it
// points to is kept alive until the call returns. A function the library does
// not export panics, as a missing import would stop a C host from starting.
func call(name string, args ...interface{}) uintptr {
	words := make([]uintptr, len(args))
	var texts [][]uint16
	for i, arg := range args {
		switch arg := arg.(type) {
		case Handle:
			words[i] = uintptr(arg)
		case string:
			text := utf16z(arg)
			texts = append(texts, text)
			words[i] = uintptr(unsafe.Pointer(&text[0]))
		case []byte:
			words[i] = uintptr(unsafe.Pointer(&arg[0]))
		case *uintptr:
			words[i] = uintptr(unsafe.Pointer(arg))
		case int:
			words[i] = uintptr(arg)
		case uint32:
			words[i] = uintptr(arg)
		default:
			panic("frostcap: unexpected argument type")
		}
	}
	result, _, _ := proc(name).Call(words...)
	runtime.KeepAlive(texts)
	runtime.KeepAlive(args)
	return result
}

// missing tells why frostcap.dll cannot be loaded, if it cannot.
func missing() error {
	if err := library.Load(); err != nil {
		return fmt.Errorf("%w: %v", ErrNoLibrary, err)
	}
	return nil
}

func initLibrary() {
	BackupPrivilege = enableBackupPrivilege()
	prepareCOM()
	call("frostcap_library_init")
}

func PathIsNetworkPath(path string) int { return int(int32(call("frostcap_pathIsNetworkPath", path))) }

// New returns false when memory is exhausted.
func New() (Handle, bool) {
	h := Handle(call("frostcap_snapshot_new"))
	return h, h != 0
}

func AddVolumePath(h Handle, volume string) { call("frostcap_snapshot_addVolumePath", h, volume) }

func AddWriter(h Handle, writer string) { call("frostcap_snapshot_addWriter", h, writer) }

func AddComponent(h Handle, database bool, writer, path, name, fallback string) {
	function := "frostcap_snapshot_addWriterFilegroupComponentFallback"
	if database {
		function = "frostcap_snapshot_addWriterDatabaseComponentFallback"
	}
	call(function, h, writer, path, name, fallback)
}

func SetIncrementalMode(h Handle, mode uint32) {
	call("frostcap_snapshot_setIncrementalMode", h, mode)
}

func SetUseSystemProvider(h Handle) { call("frostcap_snapshot_setUseSystemProvider", h) }

func PerformA(h Handle) int { return int(int32(call("frostcap_snapshot_perform_a", h))) }

func PerformB(h Handle) int { return int(int32(call("frostcap_snapshot_perform_b", h))) }

func LoadWriterComponents(h Handle) { call("frostcap_snapshot_loadWriterComponents", h) }

func LoadWriterFileInfo(h Handle) { call("frostcap_snapshot_loadWriterFileInfo", h) }

var nextFunctions = map[Queue]string{
	Messages:            "frostcap_snapshot_getNextMessage",
	MountPaths:          "frostcap_snapshot_getNextMountPath",
	WriterComponents:    "frostcap_snapshot_getNextWriterComponent",
	WriterFiles:         "frostcap_snapshot_getNextWriterFileInfo",
	WriterExcludedFiles: "frostcap_snapshot_getNextWriterExcludedFileInfo",
}

// Drain reads a queue to its end.
func Drain(h Handle, queue Queue) []string {
	var texts []string
	for {
		var length uintptr
		text := call(nextFunctions[queue], h, &length)
		if length == 0 {
			return texts
		}
		units := unsafe.Slice((*uint16)(pointer(text)), length)
		texts = append(texts, string(utf16.Decode(units)))
	}
}

func Free(h Handle, verdict int) { call("frostcap_snapshot_free", h, verdict) }

// Simulated tells whether the loaded library has the simulation's functions,
// as frostcap-sim.dll does and frostcap.dll does not.
func Simulated() bool { return proc("frostcap_sim_loadScenario").Find() == nil }

// pointer is an address the library returned: memory it owns, outside the
// Go heap, which the garbage collector neither moves nor frees.
func pointer(address uintptr) unsafe.Pointer { return *(*unsafe.Pointer)(unsafe.Pointer(&address)) }

// goString is a NUL-terminated UTF-8 text the library owns.
func goString(text uintptr) string {
	var bytes []byte
	for p := pointer(text); *(*byte)(p) != 0; p = unsafe.Add(p, 1) {
		bytes = append(bytes, *(*byte)(p))
	}
	return string(bytes)
}

func SimLoadScenario(path string) int {
	return int(int32(call("frostcap_sim_loadScenario", utf8z(path))))
}

func SimLastError() string { return goString(call("frostcap_sim_lastError")) }

func SimRecordCount() int { return int(call("frostcap_sim_recordCount")) }

func SimRecordEntry(index int) (string, bool) {
	entry := call("frostcap_sim_recordEntry", index)
	if entry == 0 {
		return "", false
	}
	return goString(entry), true
}

func SimWriteRecord(path string) int {
	return int(int32(call("frostcap_sim_writeRecord", utf8z(path))))
}

func SimHostPath(path string) (string, bool) {
	found := call("frostcap_sim_hostPath", utf8z(path))
	if found == 0 {
		return "", false
	}
	return goString(found), true
}

func SimUnload() { call("frostcap_sim_unload") }
