// Package sim drives the simulated shadow copy service of libfrostcap-sim
// (frostcap-sim.dll on Windows, loaded there under the name frostcap.dll):
// load a scenario, read back every call the service received, find the
// files behind a shadow copy. Until a scenario is loaded the library answers
// as a system without the service.
package sim

import (
	"encoding/json"
	"errors"

	"frostcap/internal/native"
)

// ErrNotSimulated is returned when the loaded library is not the one over
// the simulated service.
var ErrNotSimulated = errors.New("frostcap/sim: the loaded frostcap library is not the one " +
	"over the simulated service (frostcap-sim)")

// RecordEntry is one call the service received: Call names it (for example
// SetBackupSucceeded, or Release for a released backup object), Text gives
// it with its arguments, Status what the service answered ("0x80042308";
// empty for S_OK).
type RecordEntry struct {
	Call   string `json:"call"`
	Text   string `json:"text"`
	Status string `json:"status"`
}

// simulated runs f on the library's thread when the library has the
// simulation's functions.
func simulated(f func()) error {
	var available bool
	if missing := native.Do(func() {
		if available = native.Simulated(); available {
			f()
		}
	}); missing != nil {
		return missing
	}
	if !available {
		return ErrNotSimulated
	}
	return nil
}

// Available tells whether the loaded library is the one over the simulated
// service.
func Available() bool { return simulated(func() {}) == nil }

// LoadScenario makes the scenario file at path the service for the whole
// process, in place of any earlier one, which stays when this one cannot be
// used. The error then names the place in the file and what was expected.
func LoadScenario(path string) error {
	var failure error
	if err := simulated(func() {
		if native.SimLoadScenario(path) != 0 {
			failure = errors.New(native.SimLastError())
		}
	}); err != nil {
		return err
	}
	return failure
}

// Unload ends the loaded scenario.
func Unload() error { return simulated(native.SimUnload) }

// Record lists every call the loaded scenario's service received, in order.
func Record() ([]RecordEntry, error) {
	var entries []RecordEntry
	var failure error
	if err := simulated(func() {
		for i := 0; i < native.SimRecordCount() && failure == nil; i++ {
			line, _ := native.SimRecordEntry(i)
			var entry RecordEntry
			if failure = json.Unmarshal([]byte(line), &entry); failure == nil {
				entries = append(entries, entry)
			}
		}
	}); err != nil {
		return nil, err
	}
	return entries, failure
}

// WriteRecord writes the record to the file at path, one JSON object a line.
func WriteRecord(path string) error {
	var failure error
	if err := simulated(func() {
		if native.SimWriteRecord(path) != 0 {
			failure = errors.New(native.SimLastError())
		}
	}); err != nil {
		return err
	}
	return failure
}

// HostPath is the directory of this host behind a volume name or a shadow
// copy's device path (or a path below one); false when the service does not
// know the name.
func HostPath(path string) (string, bool) {
	var found string
	var known bool
	simulated(func() { found, known = native.SimHostPath(path) })
	return found, known
}
