// A first real backup in Go (docs/first-backup-go.md): selects the mail
// store writer's database component on C:\, takes the shadow copy, reads
// each of the component's files inside it, and closes the snapshot as
// succeeded only when all were read. A failure that may pass says so.
//
// Outside Windows, where cgo links libfrostcap-sim, it loads the scenario
// that FROSTCAP_SIM_SCENARIO names and opens the copy's files in the
// directory that stands for the copy on this host; on Windows the model's
// vssapi.dll reads that variable itself.
package main

import (
	"errors"
	"fmt"
	"io"
	"os"
	"runtime"
	"strings"

	"frostcap"
	"frostcap/sim"
)

const volume = `C:\`

var simulated = runtime.GOOS != "windows" && os.Getenv("FROSTCAP_SIM_SCENARIO") != ""

// pathInCopy is the copy's mount path followed by the live path after the
// volume name.
func pathInCopy(mountPath, livePath string) (string, error) {
	if len(livePath) < len(volume) || !strings.EqualFold(livePath[:len(volume)], volume) {
		return "", fmt.Errorf("%s is not on %s", livePath, volume)
	}
	return mountPath + livePath[len(volume):], nil
}

// readInsideCopy reads a file inside the copy to its end and returns its size.
func readInsideCopy(path string) (int64, error) {
	if simulated {
		local, ok := sim.HostPath(path)
		if !ok {
			return 0, fmt.Errorf("%s: not inside a shadow copy", path)
		}
		path = local
	}
	file, err := os.Open(path)
	if err != nil {
		return 0, err
	}
	defer file.Close()
	return io.Copy(io.Discard, file)
}

func backup() error {
	// A copy backup leaves the writer's logs and backup history alone.
	snap, err := frostcap.Take(frostcap.Options{
		Volumes: []string{volume},
		Components: []frostcap.Component{{Type: frostcap.Database,
			WriterID: "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", LogicalPath: "Mail",
			Name: "Mailbox Database"}},
		BackupType: frostcap.Copy,
	})
	if err != nil {
		return err // a *frostcap.Error: the messages in English, the status, whether to retry
	}
	// Every early return below fails the backup; after the last Close this
	// does nothing.
	defer snap.Close()
	mountPath := snap.MountPaths()[0]
	fmt.Println("mount path:", mountPath)
	files, err := snap.Files()
	if err != nil {
		return err
	}
	for _, livePath := range files {
		inCopy, err := pathInCopy(mountPath, livePath)
		if err != nil {
			return err
		}
		size, err := readInsideCopy(inCopy)
		if err != nil {
			return err
		}
		fmt.Printf("file: %s\n  %d bytes read inside the copy\n", livePath, size)
	}
	messages, err := snap.Messages()
	if err != nil {
		return err
	}
	for _, message := range messages {
		fmt.Println(message)
	}
	if err := snap.SetSucceeded(); err != nil { // the verdict: everything was read
		return err
	}
	return snap.Close()
}

func main() {
	if simulated {
		if err := sim.LoadScenario(os.Getenv("FROSTCAP_SIM_SCENARIO")); err != nil {
			fmt.Fprintln(os.Stderr, err)
			os.Exit(1)
		}
	}
	if err := backup(); err != nil {
		fmt.Fprintln(os.Stderr, err)
		var failure *frostcap.Error
		if errors.As(err, &failure) && failure.Retryable {
			fmt.Printf("backup failed (%v); it may succeed if tried again later\n", failure.Status)
		} else {
			fmt.Println("backup failed")
		}
		os.Exit(1)
	}
	fmt.Println("backup succeeded")
	if record := os.Getenv("FROSTCAP_SIM_RECORD"); simulated && record != "" {
		if err := sim.WriteRecord(record); err != nil {
			fmt.Fprintln(os.Stderr, err)
			os.Exit(1)
		}
	}
}
