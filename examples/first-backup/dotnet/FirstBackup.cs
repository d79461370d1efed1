// A first real backup in C# (docs/first-backup-dotnet.md): selects the mail
// store writer's database component on C:\, takes the shadow copy, reads each
// of the component's files inside it, and declares success only when all
// were read.
//
// Outside Windows, where the library is libfrostcap-sim, it loads the
// scenario that FROSTCAP_SIM_SCENARIO names and opens the copy's files in the
// directory that stands for the copy on this host; on Windows the model's
// vssapi.dll reads that variable itself.
using System;
using System.IO;
using Frostcap;

static class FirstBackup {
  const string Volume = @"C:\";
  static readonly bool Simulated = Environment.OSVersion.Platform != PlatformID.Win32NT &&
                                   Environment.GetEnvironmentVariable("FROSTCAP_SIM_SCENARIO") != null;

  // The copy's mount path followed by the live path after the volume name.
  static string PathInCopy(string mountPath, string livePath) {
    if (!livePath.StartsWith(Volume, StringComparison.OrdinalIgnoreCase))
      throw new IOException(livePath + " is not on " + Volume);
    return mountPath + livePath.Substring(Volume.Length);
  }

  static long ReadInsideCopy(string path) {
    string local = Simulated ? Simulation.HostPath(path) : path;
    if (local == null) throw new IOException(path + ": not inside a shadow copy");
    using (var data = File.OpenRead(local)) {
      var buffer = new byte[65536];
      long total = 0;
      for (int got; (got = data.Read(buffer, 0, buffer.Length)) > 0;) total += got;
      return total;
    }
  }

  static int Main() {
    if (Simulated) Simulation.LoadScenario(Environment.GetEnvironmentVariable("FROSTCAP_SIM_SCENARIO"));
    var mail = new Component(ComponentType.Database, "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}",
                             "Mail", "Mailbox Database");
    try {
      // Both phases run in Take; a copy backup leaves the writer's logs and
      // backup history alone.
      using (var snap = Snapshot.Take(volumes: new[] {Volume}, components: new[] {mail},
                                      backupType: BackupType.Copy)) {
        string mountPath = snap.MountPaths[0];
        Console.WriteLine("mount path: " + mountPath);
        foreach (var livePath in snap.Files()) {
          long size = ReadInsideCopy(PathInCopy(mountPath, livePath));
          Console.WriteLine("file: " + livePath);
          Console.WriteLine("  " + size + " bytes read inside the copy");
        }
        foreach (var message in snap.Messages()) Console.WriteLine(message);
        // The verdict, last: an exception above skips it, and Dispose then
        // frees the snapshot as failed.
        snap.Complete();
      }
    } catch (Exception error) when (error is SnapshotException || error is IOException) {
      Console.Error.WriteLine(error.Message);
      Console.WriteLine("backup failed");
      return 1;
    }
    Console.WriteLine("backup succeeded");
    var record = Environment.GetEnvironmentVariable("FROSTCAP_SIM_RECORD");
    if (Simulated && record != null) Simulation.WriteRecord(record);
    return 0;
  }
}
