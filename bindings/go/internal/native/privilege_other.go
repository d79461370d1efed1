//go:build !windows

package native

import "errors"

// BackupPrivilege: there are no token privileges to enable here.
var BackupPrivilege error = errors.New("frostcap: token privileges are Windows's; the " +
	"simulated service needs none")
