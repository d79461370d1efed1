package frostcap_test

import (
	"encoding/json"
	"errors"
	"fmt"
	"io"
	"os"
	"path/filepath"
	"reflect"
	"runtime"
	"sort"
	"strings"
	"testing"
	"time"

	"frostcap"
	"frostcap/sim"
)

const (
	mail      = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"
	documents = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"
	firstCopy = `\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy1\`
)

var bothComponents = []frostcap.Component{
	{Type: frostcap.Database, WriterID: mail, LogicalPath: "Mail", Name: "Mailbox Database"},
	{Type: frostcap.Filegroup, WriterID: documents, Name: "Documents"}}

// The trace of the whole run, named before any test initialises the library.
var trace = filepath.Join(os.TempDir(), fmt.Sprintf("frostcap-go-%d.jsonl", os.Getpid()))

func TestMain(m *testing.M) {
	if err := frostcap.TraceTo(trace); err != nil {
		panic(err)
	}
	code := m.Run()
	os.Remove(trace)
	os.Exit(code)
}

// load makes the example scenario the service, over the example's volume,
// with replace's pairs of old and new texts made to it.
func load(t *testing.T, replace ...string) {
	t.Helper()
	if !sim.Available() {
		t.Skip("the library has no simulation functions; its service takes FROSTCAP_SIM_SCENARIO")
	}
	examples := os.Getenv("FROSTCAP_EXAMPLES_DIR")
	if examples == "" {
		examples = filepath.Join("..", "..", "examples")
	}
	text, err := os.ReadFile(filepath.Join(examples, "two-writers.json"))
	volume, _ := filepath.Abs(filepath.Join(examples, "volume"))
	quoted, _ := json.Marshal(volume)
	replace = append(replace, `"directory": "volume"`, `"directory": `+string(quoted))
	path := filepath.Join(t.TempDir(), "scenario.json")
	if err == nil {
		err = os.WriteFile(path, []byte(strings.NewReplacer(replace...).Replace(string(text))), 0o644)
	}
	if err == nil {
		err = sim.LoadScenario(path)
	}
	if err != nil {
		t.Fatal(err)
	}
}

// calls are the texts of the recorded calls named name.
func calls(name string) (texts []string) {
	record, _ := sim.Record()
	for _, entry := range record {
		if entry.Call == name {
			texts = append(texts, entry.Text)
		}
	}
	return texts
}

// The road a backup takes, over the example scenario or the one
// FROSTCAP_SIM_SCENARIO names; with the simulated library the record goes to
// FROSTCAP_SIM_RECORD too, where the service model would write it.
func TestTheRoadOfABackup(t *testing.T) {
	scenario := os.Getenv("FROSTCAP_SIM_SCENARIO")
	if scenario == "" {
		load(t)
	} else if sim.Available() {
		if err := sim.LoadScenario(scenario); err != nil {
			t.Fatal(err)
		}
	}
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Components: bothComponents})
	if err != nil {
		t.Fatal(err)
	}
	defer snap.Close()
	entries, _ := snap.Components()
	files, _ := snap.Files()
	excluded, _ := snap.ExcludedFiles()
	messages, _ := snap.Messages()
	sort.Strings(files)
	sort.Strings(excluded)
	got := []interface{}{snap.MountPaths(), entries, len(files), excluded, len(messages)}
	want := []interface{}{[]string{firstCopy}, []frostcap.CatalogueEntry{
		{mail, "Mail", "Mailbox Database", "VSS_CT_DATABASE", true}, {documents, "", "Documents", "VSS_CT_FILEGROUP", true}},
		10, []string{`C:\Documents\Temp\notes.autosave.tmp`, `C:\Documents\~lock.tmp`}, 0}
	if !reflect.DeepEqual(got, want) || files[0] != `C:\Data\Mail\Logs\E00.chk` {
		t.Errorf("got %q\nwant %q, files %q", got, want, files)
	}
	if err := snap.SetSucceeded(); err != nil {
		t.Fatal(err)
	}
	var closer io.Closer = snap
	if err := closer.Close(); err != nil {
		t.Fatal(err)
	}
	// The trace was named before the library was initialised; now it is too late.
	if text, err := os.ReadFile(trace); err != nil || !strings.HasPrefix(string(text), `{"call":"Trace"`) {
		t.Errorf("trace %q: %v", text, err)
	}
	if err := frostcap.TraceTo(trace); err == nil {
		t.Error("TraceTo after the library was initialised answered nil")
	}
	if !sim.Available() {
		return
	}
	verdicts := calls("SetBackupSucceeded")
	if len(verdicts) != 2 || !strings.HasSuffix(verdicts[0], ",true)") || !strings.HasSuffix(verdicts[1], ",true)") {
		t.Errorf("verdicts %q", verdicts)
	}
	if record := os.Getenv("FROSTCAP_SIM_RECORD"); record != "" {
		if err := sim.WriteRecord(record); err != nil {
			t.Fatal(err)
		}
	}
}

// Each failure as a program sees it: the status (found by errors.As too),
// the call, the writer and component, the kind and the retry flag.
func TestAFailedPhaseReleasesTheBackupAndSaysWhatFailed(t *testing.T) {
	const writerStatus = "IVssBackupComponents::GetWriterStatus"
	fault := func(call, status string) []string {
		return []string{`"writers": [`, `"faults": [{"call": "` + call + `", "status": "` + status + `"}], "writers": [`}
	}
	writer := func(fields string) []string {
		return []string{`"name": "Mail Store Writer",`, `"name": "Mail Store Writer", ` + fields + `,`}
	}
	cases := []struct {
		name, component, raw string // raw: one of the messages, or empty
		replace              []string
		want                 frostcap.Error
	}{
		{"a missing component", "Nobody",
			"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=Mail Name=Nobody))", nil,
			frostcap.Error{}},
		{"a writer failed in part", "Mailbox Database", "{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full",
			writer(`"status": "0x80042336", "failedComponents": [{"name": "Mailbox Database", "message": "log disk full"}]`),
			frostcap.Error{Status: 0x80042336, Label: writerStatus, Writer: "Mail Store Writer",
				Component: "Mailbox Database", Kind: frostcap.KindWriterFailure}},
		{"a writer asks for a retry", "Mailbox Database", "", writer(`"status": "0x800423F3"`),
			frostcap.Error{Status: 0x800423F3, Label: writerStatus, Writer: "Mail Store Writer",
				Kind: frostcap.KindWriterFailure, Retryable: true}},
		{"a busy service", "Mailbox Database", "", fault("StartSnapshotSet", "0x80042316"),
			frostcap.Error{Status: 0x80042316, Label: "IVssBackupComponents::StartSnapshotSet",
				Kind: frostcap.KindBusy, Retryable: true}},
		{"access denied", "Mailbox Database", "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({WARNING_PREFIX}{ERR_NO_PERMISSION})",
			fault("InitializeForBackup", "0x80070005"), frostcap.Error{Status: 0x80070005, Kind: frostcap.KindAccessDenied}},
		{"an unsupported volume", "Mailbox Database", "", fault("AddToSnapshotSet", "0x8004230C"),
			frostcap.Error{Status: 0x8004230C, Label: "IVssBackupComponents::AddToSnapshotSet",
				Kind: frostcap.KindUnsupportedVolume}},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			load(t, c.replace...)
			component := frostcap.Component{Type: frostcap.Database, WriterID: mail, LogicalPath: "Mail", Name: c.component}
			snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Components: []frostcap.Component{component}})
			var failure *frostcap.Error
			if !errors.As(err, &failure) || snap != nil {
				t.Fatalf("Take gave %v, %v", snap, err)
			}
			if c.raw != "" && !strings.Contains(strings.Join(failure.Messages, "\n")+"\n", c.raw+"\n") {
				t.Errorf("no message %q among %q", c.raw, failure.Messages)
			}
			rendered := make([]string, len(failure.Messages))
			for i, message := range failure.Messages {
				rendered[i] = frostcap.RenderMessage(message)
			}
			got := *failure
			got.Messages = nil
			if !reflect.DeepEqual(got, c.want) || err.Error() != strings.Join(rendered, "\n") {
				t.Errorf("got %+v\nwant %+v\nfrom %q", got, c.want, failure.Messages)
			}
			var status frostcap.HRESULT
			if errors.As(err, &status) != (c.want.Status != 0) || status != c.want.Status {
				t.Errorf("errors.As found the status %v", status)
			}
			if record, _ := sim.Record(); record[len(record)-1].Call != "Release" {
				t.Error("the backup was not released")
			}
		})
	}
}

// A malformed writer id is refused before the library is called, named.
func TestAMalformedWriterIDIsNamed(t *testing.T) {
	for _, o := range []frostcap.Options{{Writers: []string{mail, "{mail}"}},
		{Components: []frostcap.Component{{Type: frostcap.Database, WriterID: "5D1A2C40", Name: "Db"}}}} {
		_, err := frostcap.Take(o)
		var failure *frostcap.Error
		if !errors.As(err, &failure) || failure.Status != 0x80070057 || failure.Kind != frostcap.KindInvalidArgument ||
			failure.Retryable || !strings.Contains(err.Error(), "is not a GUID") {
			t.Errorf("%+v: %v", o, err)
		}
	}
	if s := frostcap.HRESULT(0x80042316); s.Error() != "0x80042316 VSS_E_SNAPSHOT_SET_IN_PROGRESS" || frostcap.HRESULT(5).Name() != "" {
		t.Errorf("%v", s)
	}
}

// Every option as the service was told it, with text outside ASCII carried
// as UTF-16 both ways; a snapshot closed without success fails the backup
// and answers no more.
func TestTheOptionsReachTheService(t *testing.T) {
	const name = "Boîte aux lettres 🧊"
	load(t, `"Mailbox Database"`, `"`+name+`"`)
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Writers: []string{mail},
		Components: []frostcap.Component{{Type: frostcap.Database, WriterID: mail, LogicalPath: "Archive",
			Name: name, FallbackLogicalPath: "Mail"}},
		BackupType: frostcap.Full, SystemProvider: true})
	if err != nil {
		t.Fatal(err)
	}
	snap.Close()
	if snap.SetSucceeded() != frostcap.ErrClosed || snap.Close() != nil {
		t.Error("a closed snapshot still takes a verdict")
	}
	component := "{8F0E6B12-3C4D-4A5B-8E7F-102132435465}," + mail + ",1,Mail," + name
	for call, want := range map[string]string{
		"SetBackupState":     "SetBackupState(true,false,1,false)",
		"AddComponent":       "AddComponent(" + component + ")",
		"AddToSnapshotSet":   `AddToSnapshotSet(C:\,{B5946137-7B9F-4925-AF80-51ABD60B20D5})`,
		"SetBackupSucceeded": "SetBackupSucceeded(" + component + ",false)",
	} {
		if got := calls(call); !reflect.DeepEqual(got, []string{want}) {
			t.Errorf("%s: %q", call, got)
		}
	}
	if _, err := snap.Files(); err != frostcap.ErrClosed || snap.MountPaths() != nil {
		t.Errorf("a closed snapshot still answers: %v", err)
	}
	if _, err := frostcap.Take(frostcap.Options{Volumes: []string{"C:\\\x00"}}); err == nil {
		t.Error("a text with NUL was passed on")
	}
}

func TestRenderMessageAndIsNetworkPath(t *testing.T) {
	for message, want := range map[string]string{
		"{FATAL_PREFIX}{ERR_NO_VOLUMES}":      "error: there is nothing to copy: no volume and no writer was chosen",
		"{WARNING_PREFIX} (X: 0x1)":           "warning (X: 0x1)",
		"{ERR_COMPONENT_APP}: (Db): 0x5":      "a component failed in its application: (Db): 0x5",
		"{FATAL_PREFIX}{ERR_UNKNOWN} {open":   "error{ERR_UNKNOWN} {open",
		"{WARNING_PREFIX}{FATAL_PREFIX}{ERR_": "warningerror{ERR_",
	} {
		if got := frostcap.RenderMessage(message); got != want {
			t.Errorf("%s: %q", message, got)
		}
	}
	for path, want := range map[string]bool{`\\server\share`: true, `C:\`: false, "": false} {
		if got := frostcap.IsNetworkPath(path); got != want && frostcap.CheckLibrary() == nil {
			t.Errorf("IsNetworkPath(%q): %v", path, got)
		}
	}
}

// A snapshot dropped while open is released as failed once collected.
func TestADroppedSnapshotFailsTheBackup(t *testing.T) {
	load(t)
	if _, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Components: bothComponents}); err != nil {
		t.Fatal(err)
	}
	for i := 0; i < 500 && calls("SetBackupSucceeded") == nil; i++ {
		runtime.GC()
		time.Sleep(10 * time.Millisecond)
	}
	if verdicts := strings.Join(calls("SetBackupSucceeded"), " "); strings.Count(verdicts, ",false)") != 2 {
		t.Errorf("verdicts %q", verdicts)
	}
}

// Without a library (built without cgo outside Windows, or no frostcap.dll
// beside the program) every call answers why.
func TestWithoutTheLibraryEveryCallSaysSo(t *testing.T) {
	missing := frostcap.CheckLibrary()
	if missing == nil {
		t.Skip("the library is there")
	}
	_, take := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}})
	_, record := sim.Record()
	for _, err := range []error{missing, take, record, frostcap.BackupPrivilege(), sim.Unload()} {
		if !errors.Is(err, frostcap.ErrNoLibrary) || !strings.HasPrefix(err.Error(), frostcap.ErrNoLibrary.Error()+": ") {
			t.Errorf("%v", err)
		}
	}
}
