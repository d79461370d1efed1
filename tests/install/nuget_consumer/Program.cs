// A .NET host built against the installed NuGet package: it takes a snapshot
// over the scenario named on its command line, prints the mount paths and the
// files of the mail database, and then what the writers were told.
using System;
using System.Linq;
using System.Reflection;
using System.Runtime.Versioning;
using Frostcap;

static class Program {
  static int Main(string[] args) {
    var built = typeof(Snapshot).Assembly.GetCustomAttribute<TargetFrameworkAttribute>();
    Console.WriteLine("frostcap built for: " + built?.FrameworkName);
    Simulation.LoadScenario(args[0]);
    var mail = new Component(ComponentType.Database, "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", "Mail",
                             "Mailbox Database");
    using (var snapshot = Snapshot.Take(volumes: new[] {@"C:\"}, components: new[] {mail})) {
      foreach (var path in snapshot.MountPaths) Console.WriteLine("mount path: " + path);
      foreach (var file in snapshot.Files()) Console.WriteLine("file: " + file);
      snapshot.Complete();
    }
    foreach (var entry in Simulation.Record().Where(entry => entry.Call == "SetBackupSucceeded"))
      Console.WriteLine("writer told: " + entry.Text);
    return 0;
  }
}
