package frostcap_test

import (
	"reflect"
	"testing"

	"frostcap"
	"frostcap/internal/native"
)

// The set-up a requester process needs, made by the package on the thread
// that drives the library, before the library starts; Wine's token holds the
// backup privilege, as an administrator's does.
func TestCOMIsSetUpForARequester(t *testing.T) {
	frostcap.IsNetworkPath("") // the library's thread starts with the first call
	want := []string{"CoInitializeEx 0x00000000", "CoInitializeSecurity 0x00000000",
		"CoCreateInstance 0x00000000", "IGlobalOptions::Set 0x00000000"}
	if !reflect.DeepEqual(native.COMSetup, want) {
		t.Errorf("COM set-up: %q", native.COMSetup)
	}
	if err := frostcap.BackupPrivilege(); err != nil {
		t.Error(err)
	}
}
