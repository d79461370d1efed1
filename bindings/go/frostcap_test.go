package frostcap_test

import (
	"encoding/json"
	"errors"
	"os"
	"path/filepath"
	"reflect"
	"regexp"
	"sort"
	"strings"
	"testing"

	"frostcap"
	"frostcap/sim"
)

const (
	mail      = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"
	documents = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"
	firstCopy = `\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy1\`
)

var (
	mailbox        = frostcap.Component{Type: frostcap.Database, WriterID: mail, LogicalPath: "Mail", Name: "Mailbox Database"}
	bothComponents = []frostcap.Component{mailbox, {Type: frostcap.Filegroup, WriterID: documents, Name: "Documents"}}
)

func examples() string {
	if dir := os.Getenv("FROSTCAP_EXAMPLES_DIR"); dir != "" {
		return dir
	}
	return filepath.Join("..", "..", "examples")
}

// load makes the example scenario, changed by change, the service.
func load(t *testing.T, change func(scenario map[string]interface{})) {
	t.Helper()
	if !sim.Available() {
		t.Skip("the library has no simulation functions; its service takes FROSTCAP_SIM_SCENARIO")
	}
	text, err := os.ReadFile(filepath.Join(examples(), "two-writers.json"))
	var scenario map[string]interface{}
	if err == nil {
		err = json.Unmarshal(text, &scenario)
	}
	volume, _ := filepath.Abs(filepath.Join(examples(), "volume"))
	scenario["volumes"] = []interface{}{map[string]interface{}{"name": `C:\`, "directory": volume}}
	if change != nil {
		change(scenario)
	}
	if text, err = json.Marshal(scenario); err == nil {
		path := filepath.Join(t.TempDir(), "scenario.json")
		if err = os.WriteFile(path, text, 0o644); err == nil {
			err = sim.LoadScenario(path)
		}
	}
	if err != nil {
		t.Fatal(err)
	}
}

// calls are the texts of the recorded calls named name.
func calls(t *testing.T, name string) []string {
	t.Helper()
	record, err := sim.Record()
	if err != nil {
		t.Fatal(err)
	}
	var texts []string
	for _, entry := range record {
		if entry.Call == name {
			texts = append(texts, entry.Text)
		}
	}
	return texts
}

func verdicts(t *testing.T) string {
	var words []string
	for _, text := range calls(t, "SetBackupSucceeded") {
		words = append(words, text[strings.LastIndexByte(text, ',')+1:len(text)-1])
	}
	return strings.Join(words, " ")
}

// The road a backup takes, over the example scenario or the one
// FROSTCAP_SIM_SCENARIO names; with the simulated library the record goes to
// FROSTCAP_SIM_RECORD too, where the service model would write it.
func TestTheRoadOfABackup(t *testing.T) {
	scenario := os.Getenv("FROSTCAP_SIM_SCENARIO")
	if scenario == "" {
		load(t, nil)
	} else if sim.Available() {
		if err := sim.LoadScenario(scenario); err != nil {
			t.Fatal(err)
		}
	}
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Components: bothComponents})
	if err != nil {
		t.Fatal(err)
	}
	defer snap.Close(false)
	if paths := snap.MountPaths(); !reflect.DeepEqual(paths, []string{firstCopy}) {
		t.Errorf("mount paths %q", paths)
	}
	if dir, ok := sim.HostPath(firstCopy); sim.Available() && !ok {
		t.Errorf("no directory behind %s", firstCopy)
	} else if _, err := os.Stat(filepath.Join(dir, "Data", "Mail", "mailbox.edb")); ok && err != nil {
		t.Error(err)
	}
	entries, err := snap.Components()
	want := []frostcap.CatalogueEntry{{mail, "Mail", "Mailbox Database", "VSS_CT_DATABASE", true},
		{documents, "", "Documents", "VSS_CT_FILEGROUP", true}}
	if err != nil || !reflect.DeepEqual(entries, want) {
		t.Errorf("catalogue %v, %v", entries, err)
	}
	files, _ := snap.Files()
	excluded, _ := snap.ExcludedFiles()
	sort.Strings(files)
	sort.Strings(excluded)
	if !reflect.DeepEqual(excluded, []string{`C:\Documents\Temp\notes.autosave.tmp`, `C:\Documents\~lock.tmp`}) ||
		len(files) != 10 || files[0] != `C:\Data\Mail\Logs\E00.chk` {
		t.Errorf("files %q, excluded %q", files, excluded)
	}
	if messages, err := snap.Messages(); len(messages) != 0 || err != nil {
		t.Errorf("messages %q, %v", messages, err)
	}
	snap.Close(true)
	if !sim.Available() {
		return
	}
	if got := verdicts(t); got != "true true" {
		t.Errorf("verdicts %q", got)
	}
	if record := os.Getenv("FROSTCAP_SIM_RECORD"); record != "" {
		if err := sim.WriteRecord(record); err != nil {
			t.Fatal(err)
		}
	}
}

func TestAFailedPhaseReleasesTheBackupAndReportsTheMessages(t *testing.T) {
	failedInPart := func(s map[string]interface{}) {
		writer := s["writers"].([]interface{})[0].(map[string]interface{})
		writer["status"] = "0x80042336"
		writer["failedComponents"] = []map[string]string{{"name": "Mailbox Database", "message": "log disk full"}}
	}
	cases := []struct {
		name       string
		change     func(map[string]interface{})
		components []frostcap.Component
		raw        string // one of the messages
		rendered   string // matches one line of the error
	}{
		{"a missing component", nil, []frostcap.Component{{Type: frostcap.Database, WriterID: mail, LogicalPath: "Mail", Name: "Nobody"}},
			"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=Mail Name=Nobody))",
			`^error: the shadow copies could not be made \(error: a chosen component is not among its writer's components \(Path=Mail Name=Nobody\)\)$`},
		{"a writer failed in part", failedInPart, bothComponents,
			"{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full",
			`^a component's writer reported a failure: \(Mailbox Database\): log disk full$`},
		{"a failed snapshot creation", func(s map[string]interface{}) {
			s["faults"] = []map[string]string{{"call": "DoSnapshotSet", "status": "0x80042306"}}
		}, nil, "",
			`^error: the shadow copies could not be made \(IVssBackupComponents::DoSnapshotSet: 0x80042306: .+\)$`},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			load(t, c.change)
			snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Components: c.components})
			var failure *frostcap.Error
			if !errors.As(err, &failure) || snap != nil {
				t.Fatalf("Take gave %v, %v", snap, err)
			}
			if c.raw != "" && !strings.Contains(strings.Join(failure.Messages, "\n")+"\n", c.raw+"\n") {
				t.Errorf("no message %q among %q", c.raw, failure.Messages)
			}
			if !regexp.MustCompile("(?m)" + c.rendered).MatchString(err.Error()) {
				t.Errorf("no line like %s in:\n%s", c.rendered, err)
			}
			if record, _ := sim.Record(); record[len(record)-1].Call != "Release" {
				t.Error("the backup was not released")
			}
		})
	}
	if !sim.Available() {
		return // the service's scenario comes from the environment, and stays
	}
	sim.Unload()
	_, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}})
	if err == nil || !strings.HasPrefix(err.Error(), "error: the shadow copy service could not be reached (0x80004001: ") {
		t.Errorf("without a scenario: %v", err)
	}
}

func TestTheOptionsReachTheService(t *testing.T) {
	load(t, nil)
	fallback := mailbox
	fallback.LogicalPath, fallback.FallbackLogicalPath = "Archive", "Mail"
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\`}, Writers: []string{mail},
		Components: []frostcap.Component{fallback}, BackupType: frostcap.Full, SystemProvider: true})
	if err != nil {
		t.Fatal(err)
	}
	snap.Close(false)
	snap.Close(true)
	for name, want := range map[string]string{
		"SetBackupState":     "SetBackupState(true,false,1,false)",
		"AddComponent":       "AddComponent({8F0E6B12-3C4D-4A5B-8E7F-102132435465}," + mail + ",1,Mail,Mailbox Database)",
		"AddToSnapshotSet":   `AddToSnapshotSet(C:\,{B5946137-7B9F-4925-AF80-51ABD60B20D5})`,
		"SetBackupSucceeded": "SetBackupSucceeded({8F0E6B12-3C4D-4A5B-8E7F-102132435465}," + mail + ",1,Mail,Mailbox Database,false)",
	} {
		if got := calls(t, name); !reflect.DeepEqual(got, []string{want}) {
			t.Errorf("%s: %q", name, got)
		}
	}
	if _, err := snap.Files(); err != frostcap.ErrClosed || snap.MountPaths() != nil {
		t.Errorf("a closed snapshot still answers: %v", err)
	}
}

func TestTextTravelsAsUTF16(t *testing.T) {
	volume := `D:\Données-🧊\`
	load(t, func(s map[string]interface{}) {
		s["volumes"].([]interface{})[0].(map[string]interface{})["name"] = volume
	})
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{volume}})
	if err != nil {
		t.Fatal(err)
	}
	snap.Close(true)
	if got := calls(t, "AddToSnapshotSet"); len(got) != 1 || !strings.HasPrefix(got[0], "AddToSnapshotSet("+volume+",") {
		t.Errorf("the service was given %q", got)
	}
	if _, err := frostcap.Take(frostcap.Options{Volumes: []string{"C:\\\x00"}}); err == nil {
		t.Error("a text with NUL was passed on")
	}
}

func TestRenderMessage(t *testing.T) {
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
}

func TestIsNetworkPath(t *testing.T) {
	for path, want := range map[string]bool{`\\server\share`: true, `C:\`: false, "": false} {
		if got := frostcap.IsNetworkPath(path); got != want {
			t.Errorf("%q: %v", path, got)
		}
	}
}
