package native

import (
	"fmt"
	"runtime"
	"syscall"
	"unsafe"
)

// What a requester process sets up on Windows before the library runs, done
// here because the package owns the thread that drives the library: COM in
// the multithreaded apartment on that thread, the process's COM security with
// the settings documented for requesters (so that writers running under other
// accounts can call back), and COM's catching of fatal exceptions turned off.
// Security is process-wide and taken by the first caller: when the program
// set it already, its settings stay (RPC_E_TOO_LATE).

// COMSetup lists the calls the set-up made, each with the status COM
// answered ("CoInitializeEx 0x00000000"), once the library thread has started.
var COMSetup []string

const (
	coinitMultithreaded        = 0x0
	rpcAuthnLevelPktPrivacy    = 6
	rpcImpLevelImpersonate     = 3
	eoacStaticCloaking         = 0x20
	clsctxInprocServer         = 0x1
	comglbExceptionHandling    = 1
	comglbExceptionDonotHandle = 1
)

var (
	ole32                = syscall.NewLazyDLL("ole32.dll")
	coInitializeEx       = ole32.NewProc("CoInitializeEx")
	coInitializeSecurity = ole32.NewProc("CoInitializeSecurity")
	coCreateInstance     = ole32.NewProc("CoCreateInstance")
	clsidGlobalOptions   = syscall.GUID{Data1: 0x0000034b, Data4: [8]byte{0xc0, 0, 0, 0, 0, 0, 0, 0x46}}
	iidGlobalOptions     = syscall.GUID{Data1: 0x0000015b, Data4: [8]byte{0xc0, 0, 0, 0, 0, 0, 0, 0x46}}
)

// comCall calls a COM function or method and notes its status.
func comCall(name string, function uintptr, args ...uintptr) bool {
	status, _, _ := syscall.SyscallN(function, args...)
	COMSetup = append(COMSetup, fmt.Sprintf("%s 0x%08x", name, uint32(status)))
	return uint32(status)&0x80000000 == 0
}

func prepareCOM() {
	if !comCall("CoInitializeEx", coInitializeEx.Addr(), 0, coinitMultithreaded) {
		return
	}
	minusOne := int32(-1)
	comCall("CoInitializeSecurity", coInitializeSecurity.Addr(), 0, uintptr(minusOne), 0, 0,
		rpcAuthnLevelPktPrivacy, rpcImpLevelImpersonate, 0, eoacStaticCloaking, 0)
	// On the heap, where it does not move, and kept alive past the call: its
	// address travels as an integer.
	options := new(uintptr)
	created := comCall("CoCreateInstance", coCreateInstance.Addr(),
		uintptr(unsafe.Pointer(&clsidGlobalOptions)), 0, clsctxInprocServer,
		uintptr(unsafe.Pointer(&iidGlobalOptions)), uintptr(unsafe.Pointer(options)))
	runtime.KeepAlive(options)
	if !created || *options == 0 {
		return
	}
	// IGlobalOptions: IUnknown's three methods, then Set and Query.
	object := *options
	vtable := *(*[5]uintptr)(pointer(*(*uintptr)(pointer(object))))
	comCall("IGlobalOptions::Set", vtable[3], object, comglbExceptionHandling,
		comglbExceptionDonotHandle)
	syscall.SyscallN(vtable[2], object)
}
