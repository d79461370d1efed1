// Package frostcap takes point-in-time shadow copies of volumes for a backup
// program through the frostcap library. On Windows it loads frostcap.dll
// without cgo; elsewhere it links libfrostcap-sim, the library over the
// simulated service (package frostcap/sim drives that service), with cgo. A
// build without cgo outside Windows compiles too, and every call then
// answers ErrNoLibrary.
//
// Close reports the backup as succeeded only when SetSucceeded was called
// before it: a deferred Close on an early return or a panic, a snapshot that
// is garbage-collected before it is closed and a process that ends with the
// snapshot held all leave it failed.
//
//	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}})
//	if err != nil {
//		return err // a *frostcap.Error: status, failed call, retry flag
//	}
//	defer snap.Close() // does nothing once closed
//	for _, path := range snap.MountPaths() {
//		// copy the backup's data from path
//	}
//	snap.SetSucceeded()
//	return snap.Close()
package frostcap

import (
	"encoding/json"
	"errors"
	"fmt"
	"io"
	"runtime"
	"strings"

	"frostcap/internal/native"
)

// ComponentType is the type of a writer's component.
type ComponentType int

const (
	Database ComponentType = iota + 1
	Filegroup
)

// Component is a writer's component to back up. When it is not found under
// LogicalPath it is looked for under FallbackLogicalPath (empty: nowhere
// else). Choosing a component chooses its writer.
type Component struct {
	Type                ComponentType
	WriterID            string // the writer's class id, a GUID in braces
	LogicalPath         string
	Name                string
	FallbackLogicalPath string
}

// BackupType is the type of backup told to the writers.
type BackupType uint32

const (
	Full BackupType = iota + 1
	Incremental
	Differential
	Log
	Copy
)

// Options says what to copy and how.
type Options struct {
	Volumes    []string // volume names such as C:\
	Writers    []string // writers' class ids, GUIDs in braces
	Components []Component
	// BackupType is passed on unchecked; zero leaves the library's default,
	// Incremental.
	BackupType BackupType
	// SystemProvider asks for the system's own software provider.
	SystemProvider bool
}

// ErrClosed is returned by the methods of a snapshot that is closed.
var ErrClosed = errors.New("frostcap: the snapshot is closed")

// ErrNoLibrary is wrapped, with the reason, by the error of every call when
// the program has no library: frostcap.dll cannot be loaded, or the program
// was built without cgo outside Windows.
var ErrNoLibrary = native.ErrNoLibrary

// CheckLibrary answers nil when the library can be called, and otherwise the
// error that every call would answer.
func CheckLibrary() error { return native.Do(func() {}) }

// TraceTo has the library append one JSON line per call it makes to the
// shadow copy service to the file at path, from its initialisation on, by
// naming the file in the process's environment as FROSTCAP_TRACE. The library
// reads that once, at the package's first call of it (Take, CheckLibrary or
// any other): after that, TraceTo answers an error rather than pretend.
func TraceTo(path string) error { return native.SetTrace(path) }

// BackupPrivilege answers nil when the package enabled SeBackupPrivilege in
// the process's token (on Windows, before the library's first call), and
// otherwise why not: the account does not hold it, or there is no library or
// no such privilege. Failing to enable it does not stop a snapshot; files
// that the account may not read then stay unreadable in the copies.
// SeRestorePrivilege is not needed to take or read a copy.
func BackupPrivilege() error {
	if err := CheckLibrary(); err != nil {
		return err
	}
	return native.BackupPrivilege
}

// CatalogueEntry is one component a writer reports. Type is VSS_CT_DATABASE,
// VSS_CT_FILEGROUP or empty for any other type.
type CatalogueEntry struct {
	WriterID    string
	LogicalPath string
	Name        string
	Type        string
	Selectable  bool
}

// Snapshot holds shadow copies until it is closed. Its methods may be called
// from any goroutine; they take turns on the library's thread.
type Snapshot struct {
	handle     native.Handle
	open       bool
	volumes    []string
	succeeded  bool
	mountPaths []string
}

func checkTexts(o Options) error {
	texts := append(append([]string{}, o.Volumes...), o.Writers...)
	for _, writer := range o.Writers {
		if err := checkID("writer id", writer); err != nil {
			return err
		}
	}
	for _, c := range o.Components {
		if c.Type != Database && c.Type != Filegroup {
			return fmt.Errorf("frostcap: component %q: the type is neither Database nor Filegroup", c.Name)
		}
		if err := checkID(fmt.Sprintf("the writer id of component %q", c.Name), c.WriterID); err != nil {
			return err
		}
		texts = append(texts, c.WriterID, c.LogicalPath, c.Name, c.FallbackLogicalPath)
	}
	for _, text := range texts {
		if native.HasNUL(text) {
			return fmt.Errorf("frostcap: %q: text passed to the library cannot contain NUL", text)
		}
	}
	return nil
}

// Take prepares the backup and creates the shadow copies. When either phase
// fails the backup is released as failed and the error is an *Error. A
// writer id that is not a GUID in braces is an *Error with the status
// E_INVALIDARG, before the library is called.
func Take(o Options) (*Snapshot, error) {
	if err := checkTexts(o); err != nil {
		return nil, err
	}
	var snap *Snapshot
	var err error
	if missing := native.Do(func() {
		h, ok := native.New()
		if !ok {
			err = errors.New("frostcap: out of memory")
			return
		}
		for _, volume := range o.Volumes {
			native.AddVolumePath(h, volume)
		}
		for _, writer := range o.Writers {
			native.AddWriter(h, writer)
		}
		for _, c := range o.Components {
			native.AddComponent(h, c.Type == Database, c.WriterID, c.LogicalPath, c.Name,
				c.FallbackLogicalPath)
		}
		if o.BackupType != 0 {
			native.SetIncrementalMode(h, uint32(o.BackupType))
		}
		if o.SystemProvider {
			native.SetUseSystemProvider(h)
		}
		if native.PerformA(h) != 0 || native.PerformB(h) != 0 {
			err = failure(native.Drain(h, native.Messages))
			native.Free(h, 0)
			return
		}
		snap = &Snapshot{handle: h, open: true, volumes: append([]string{}, o.Volumes...),
			mountPaths: native.Drain(h, native.MountPaths)}
	}); missing != nil {
		return nil, missing
	}
	if snap != nil {
		// A snapshot dropped without Close is released as failed.
		runtime.SetFinalizer(snap, func(s *Snapshot) { s.Close() })
	}
	return snap, err
}

// SetSucceeded declares the backup succeeded, for Close to report; call it
// once the backup's data is safely copied.
func (s *Snapshot) SetSucceeded() error {
	return s.while(func() { s.succeeded = true })
}

// Close completes the backup, as succeeded when SetSucceeded was called and
// as failed otherwise, and ends the shadow copies. Calls after the first do
// nothing and answer nil: a deferred Close fails the backup on every early
// return and panic, and changes nothing after the last one. The error is
// the missing library's, when there is none.
func (s *Snapshot) Close() error {
	return native.Do(func() {
		if s.open {
			s.open = false
			verdict := 0
			if s.succeeded {
				verdict = 1
			}
			native.Free(s.handle, verdict)
		}
	})
}

var _ io.Closer = (*Snapshot)(nil)

// while runs f on the library's thread while the snapshot is open.
func (s *Snapshot) while(f func()) (err error) {
	if missing := native.Do(func() {
		if !s.open {
			err = ErrClosed
			return
		}
		f()
	}); missing != nil {
		return missing
	}
	return err
}

// MountPaths are the device paths of the shadow copies, one per volume, in
// the order of Options.Volumes; nil once the snapshot is closed.
func (s *Snapshot) MountPaths() []string {
	var paths []string
	s.while(func() { paths = append(paths, s.mountPaths...) })
	return paths
}

// Components lists every component of every writer the service reports,
// read afresh. A failure to read them all is queued as a warning message.
func (s *Snapshot) Components() ([]CatalogueEntry, error) {
	var lines []string
	if err := s.while(func() {
		native.LoadWriterComponents(s.handle)
		lines = native.Drain(s.handle, native.WriterComponents)
	}); err != nil {
		return nil, err
	}
	var entries []CatalogueEntry
	for _, line := range lines {
		if strings.HasPrefix(line, "#") {
			continue
		}
		var fields []interface{}
		var entry CatalogueEntry
		ok := json.Unmarshal([]byte(line), &fields) == nil && len(fields) == 5
		for i, text := range []*string{&entry.WriterID, &entry.LogicalPath, &entry.Name, &entry.Type} {
			if ok {
				*text, ok = fields[i].(string)
			}
		}
		if ok {
			entry.Selectable, ok = fields[4].(bool)
		}
		if !ok {
			return entries, fmt.Errorf("frostcap: a catalogue entry not understood: %s", line)
		}
		entries = append(entries, entry)
	}
	return entries, nil
}

func (s *Snapshot) inventory() (files, excluded []string, err error) {
	err = s.while(func() {
		native.LoadWriterFileInfo(s.handle)
		files = native.Drain(s.handle, native.WriterFiles)
		excluded = native.Drain(s.handle, native.WriterExcludedFiles)
	})
	return files, excluded, err
}

// Files lists the files of the chosen components, searched inside the shadow
// copies and named by their live paths.
func (s *Snapshot) Files() ([]string, error) {
	files, _, err := s.inventory()
	return files, err
}

// ExcludedFiles lists the files the writers exclude from the backup.
func (s *Snapshot) ExcludedFiles() ([]string, error) {
	_, excluded, err := s.inventory()
	return excluded, err
}

// RawMessages are the messages queued since the last call, with their tokens.
func (s *Snapshot) RawMessages() ([]string, error) {
	var messages []string
	err := s.while(func() { messages = native.Drain(s.handle, native.Messages) })
	return messages, err
}

// Messages are the messages queued since the last call, in English.
func (s *Snapshot) Messages() ([]string, error) {
	messages, err := s.RawMessages()
	for i, message := range messages {
		messages[i] = RenderMessage(message)
	}
	return messages, err
}

// IsNetworkPath tells whether the library takes path for a network path (a
// UNC path such as \\server\share), which cannot be copied; false without a
// library.
func IsNetworkPath(path string) bool {
	if native.HasNUL(path) {
		return false // names no file
	}
	answer := 1 // not a network path, when there is no library to ask
	native.Do(func() { answer = native.PathIsNetworkPath(path) })
	return answer == 0
}
