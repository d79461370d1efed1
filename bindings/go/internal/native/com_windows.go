package native

import (
	"errors"
	"fmt"
	"runtime"
	"syscall"
	"unsafe"
)

// What a requester process sets up on Windows before the library runs, done
// here because the package owns the thread that drives the library:
// SeBackupPrivilege enabled in the process's token, at best effort, so that
// the library can list protected folders and the program can read every file
// of the copies (restoring is not a requester's business, so
// SeRestorePrivilege stays as it is); COM in
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
	tokenAdjustPrivileges      = 0x20
	tokenQuery                 = 0x8
	sePrivilegeEnabled         = 0x2
	errorNotAllAssigned        = syscall.Errno(1300)
)

// BackupPrivilege is nil once the set-up enabled SeBackupPrivilege, and
// otherwise says why it is not enabled.
var BackupPrivilege error

var (
	ole32                = syscall.NewLazyDLL("ole32.dll")
	coInitializeEx       = ole32.NewProc("CoInitializeEx")
	coInitializeSecurity = ole32.NewProc("CoInitializeSecurity")
	coCreateInstance     = ole32.NewProc("CoCreateInstance")
	clsidGlobalOptions   = syscall.GUID{Data1: 0x0000034b, Data4: [8]byte{0xc0, 0, 0, 0, 0, 0, 0, 0x46}}
	iidGlobalOptions     = syscall.GUID{Data1: 0x0000015b, Data4: [8]byte{0xc0, 0, 0, 0, 0, 0, 0, 0x46}}

	advapi32              = syscall.NewLazyDLL("advapi32.dll")
	lookupPrivilegeValue  = advapi32.NewProc("LookupPrivilegeValueW")
	adjustTokenPrivileges = advapi32.NewProc("AdjustTokenPrivileges")
)

func enableBackupPrivilege() error {
	process, _ := syscall.GetCurrentProcess()
	var token syscall.Token
	if err := syscall.OpenProcessToken(process, tokenAdjustPrivileges|tokenQuery, &token); err != nil {
		return fmt.Errorf("frostcap: OpenProcessToken: %w", err)
	}
	defer token.Close()
	// TOKEN_PRIVILEGES with one entry: the count, the LUID, its attributes.
	privileges := struct{ count, luidLow, luidHigh, attributes uint32 }{count: 1,
		attributes: sePrivilegeEnabled}
	name, _ := syscall.UTF16PtrFromString("SeBackupPrivilege")
	if ok, _, err := lookupPrivilegeValue.Call(0, uintptr(unsafe.Pointer(name)),
		uintptr(unsafe.Pointer(&privileges.luidLow))); ok == 0 {
		return fmt.Errorf("frostcap: LookupPrivilegeValueW(SeBackupPrivilege): %w", err)
	}
	ok, _, err := adjustTokenPrivileges.Call(uintptr(token), 0, uintptr(unsafe.Pointer(&privileges)),
		0, 0, 0)
	switch {
	case ok == 0:
		return fmt.Errorf("frostcap: AdjustTokenPrivileges: %w", err)
	case errors.Is(err, errorNotAllAssigned):
		return errors.New("frostcap: the account does not hold SeBackupPrivilege: files it " +
			"may not read stay unreadable in the copies (run as an administrator or a member " +
			"of Backup Operators)")
	}
	return nil
}

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
