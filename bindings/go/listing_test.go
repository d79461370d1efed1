package frostcap_test

import (
	"encoding/json"
	"os"
	"path/filepath"
	"testing"

	"frostcap"
	"frostcap/sim"
)

// listingDir holds the table of live paths shared by every binding and the
// scenario of three volumes, one mounted in a folder of another.
func listingDir() string {
	examples := os.Getenv("FROSTCAP_EXAMPLES_DIR")
	if examples == "" {
		examples = filepath.Join("..", "..", "examples")
	}
	return filepath.Join(examples, "..", "tests", "listing")
}

func TestALivePathIsFoundInsideTheCopyOfItsVolume(t *testing.T) {
	var table struct {
		Volumes    []string
		MountPaths []string
		Cases      [][2]*string
	}
	text, err := os.ReadFile(filepath.Join(listingDir(), "copy_paths.json"))
	if err == nil {
		err = json.Unmarshal(text, &table)
	}
	if err != nil {
		t.Fatal(err)
	}
	for _, c := range table.Cases {
		inside, ok := frostcap.CopyPath(*c[0], table.Volumes, table.MountPaths)
		if ok != (c[1] != nil) || ok && inside != *c[1] {
			t.Errorf("CopyPath(%q) = %q, %v", *c[0], inside, ok)
		}
	}
}

func TestAListingMarksDirectoriesSubtractsExclusionsAndWalksTheCopy(t *testing.T) {
	if !sim.Available() {
		t.Skip("the library has no simulation functions")
	}
	if err := sim.LoadScenario(filepath.Join(listingDir(), "two-volumes.json")); err != nil {
		t.Fatal(err)
	}
	defer sim.Unload()
	// A volume mounted in a folder comes before its parent, where the
	// library searches a path in the copy of the first volume it begins with.
	snap, err := frostcap.Take(frostcap.Options{Volumes: []string{`C:\Mounted\`, `C:\`, `D:\`},
		Components: []frostcap.Component{{Type: frostcap.Filegroup, WriterID: documents, Name: "Everything"}}})
	if err != nil {
		t.Fatal(err)
	}
	defer snap.Close()
	entries, err := snap.Listing(frostcap.ListingOptions{Exclude: true, Walk: true})
	if err != nil {
		t.Fatal(err)
	}
	copies := snap.MountPaths()
	listed := map[string]frostcap.ListedFile{}
	for _, entry := range entries {
		listed[entry.Path] = entry
		if host, _ := sim.HostPath(entry.CopyPath); entry.IsDirectory != isDir(host) {
			t.Errorf("%+v: a directory inside the copy: %v", entry, isDir(host))
		}
	}
	for path, want := range map[string]frostcap.ListedFile{
		`C:\Mounted\Logs\E01.log`:     {CopyPath: copies[0] + `Logs\E01.log`},
		`D:\Archive\2026`:             {CopyPath: copies[2] + `Archive\2026`, IsDirectory: true},
		`D:\Archive\2026\a.txt`:       {CopyPath: copies[2] + `Archive\2026\a.txt`},
		`C:\Documents\Reports\q1.txt`: {CopyPath: copies[1] + `Documents\Reports\q1.txt`},
	} {
		if want.Path = path; listed[path] != want {
			t.Errorf("%s: %+v, want %+v", path, listed[path], want)
		}
	}
	for _, path := range []string{`C:\Documents\~lock.tmp`, `C:\Documents\Temp\notes.autosave.tmp`} {
		if _, found := listed[path]; found {
			t.Errorf("%s: excluded, yet listed", path)
		}
	}
	if inside, _ := snap.CopyPath(`c:\mounted\Logs`); inside != copies[0]+"Logs" {
		t.Errorf("CopyPath: %q", inside)
	}
}

func isDir(path string) bool {
	info, err := os.Stat(path)
	return err == nil && info.IsDir()
}
