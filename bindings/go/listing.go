package frostcap

import (
	"os"
	"strings"

	"frostcap/internal/native"
)

// CopyPath is where livePath lies inside the shadow copy of the volume it
// lies on; false when it lies on none of volumes. mountPaths are the copies'
// device paths in the order of volumes. The longest volume name that is a
// prefix of the path wins, compared without regard to case and at a
// separator, so that a volume mounted in a folder of another (C:\Data\ below
// C:\) takes the paths below that folder.
func CopyPath(livePath string, volumes, mountPaths []string) (string, bool) {
	best := -1
	bestRoot := ""
	for i, volume := range volumes {
		if i >= len(mountPaths) {
			break
		}
		root := withSeparator(volume)
		candidate := livePath + `\`
		if len(candidate) >= len(root) && strings.EqualFold(candidate[:len(root)], root) &&
			len(root) > len(bestRoot) {
			best, bestRoot = i, root
		}
	}
	if best < 0 {
		return "", false
	}
	rest := ""
	if len(livePath) > len(bestRoot) {
		rest = livePath[len(bestRoot):]
	}
	return withSeparator(mountPaths[best]) + rest, true
}

func withSeparator(path string) string {
	if strings.HasSuffix(path, `\`) {
		return path
	}
	return path + `\`
}

// ListedFile is an entry of a listing: its live path, its path inside the
// shadow copy (empty when it lies on no copied volume) and whether it is a
// directory there.
type ListedFile struct {
	Path        string
	CopyPath    string
	IsDirectory bool
}

// ListingOptions: Exclude leaves out the files the writers exclude; Walk
// follows each listed directory with its contents inside the copy, all the
// way down (the library lists one level per descriptor).
type ListingOptions struct {
	Exclude bool
	Walk    bool
}

// CopyPath is where livePath lies inside this snapshot's copies.
func (s *Snapshot) CopyPath(livePath string) (string, bool) {
	return CopyPath(livePath, s.volumes, s.MountPaths())
}

// Listing lists the files of the chosen components with directories marked.
func (s *Snapshot) Listing(o ListingOptions) ([]ListedFile, error) {
	files, excluded, err := s.inventory()
	if err != nil {
		return nil, err
	}
	skip := map[string]bool{}
	if o.Exclude {
		for _, path := range excluded {
			skip[strings.ToLower(path)] = true
		}
	}
	mountPaths := s.MountPaths()
	var listed []ListedFile
	var visit func(path string)
	visit = func(path string) {
		if skip[strings.ToLower(path)] {
			return
		}
		entry := ListedFile{Path: path}
		var local string
		if inside, ok := CopyPath(path, s.volumes, mountPaths); ok {
			entry.CopyPath, local = inside, locate(inside)
			info, err := os.Stat(local)
			entry.IsDirectory = err == nil && info.IsDir()
		}
		listed = append(listed, entry)
		if !o.Walk || !entry.IsDirectory {
			return
		}
		// Sorted by name, as os.ReadDir gives them.
		children, _ := os.ReadDir(local)
		for _, child := range children {
			visit(strings.TrimSuffix(path, `\`) + `\` + child.Name())
		}
	}
	for _, path := range files {
		visit(path)
	}
	return listed, nil
}

// locate turns a path inside a copy into one this process can open: over the
// simulated service a copy is a directory of this host; the real service's
// device paths are opened as they are.
func locate(inside string) string {
	found, known := "", false
	native.Do(func() {
		if native.Simulated() {
			found, known = native.SimHostPath(inside)
		}
	})
	if known {
		return found
	}
	return inside
}
