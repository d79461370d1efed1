using System.IO;
using System.Linq;
using System.Runtime.Serialization;
using System.Runtime.Serialization.Json;
using NUnit.Framework;

namespace Frostcap.Tests {
  // The shared table of live paths and their places inside the copies, and a
  // snapshot of three volumes (one mounted in a folder of another) listed,
  // marked, less its exclusions and walked inside the copies.
  [TestFixture]
  public class ListingTests {
    static readonly string Dir = Path.Combine(Environment("FROSTCAP_EXAMPLES_DIR") ?? "examples", "..", "tests", "listing");

    static string Environment(string name) => System.Environment.GetEnvironmentVariable(name);

    [DataContract]
    class Table {
      [DataMember(Name = "volumes")] public string[] Volumes;
      [DataMember(Name = "mountPaths")] public string[] MountPaths;
      [DataMember(Name = "cases")] public string[][] Cases;
    }

    [Test]
    public void ALivePathIsFoundInsideTheCopyOfItsVolume() {
      Table table;
      using (var json = File.OpenRead(Path.Combine(Dir, "copy_paths.json")))
        table = (Table)new DataContractJsonSerializer(typeof(Table)).ReadObject(json);
      Assert.That(table.Cases.Select(c => Listing.CopyPath(c[0], table.Volumes, table.MountPaths)),
                  Is.EqualTo(table.Cases.Select(c => c[1])));
    }

    [Test]
    public void AListingMarksDirectoriesSubtractsExclusionsAndWalksTheCopy() {
      Simulation.LoadScenario(Path.Combine(Dir, "two-volumes.json"));
      try {
        // A volume mounted in a folder comes before its parent, where the
        // library searches a path in the copy of the first volume it begins with.
        var everything = new Component(ComponentType.Filegroup, "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}", "", "Everything");
        using (var snap = Snapshot.Take(volumes: new[] {@"C:\Mounted\", @"C:\", @"D:\"}, components: new[] {everything})) {
          var copies = snap.MountPaths;
          var listed = snap.Listing(exclude: true, walk: true).ToDictionary(entry => entry.Path);
          foreach (var entry in listed.Values)
            Assert.That(Directory.Exists(Simulation.HostPath(entry.CopyPath)), Is.EqualTo(entry.IsDirectory), entry.Path);
          Assert.That(listed[@"C:\Mounted\Logs\E01.log"].CopyPath, Is.EqualTo(copies[0] + @"Logs\E01.log"));
          Assert.That(listed[@"D:\Archive\2026\a.txt"].CopyPath, Is.EqualTo(copies[2] + @"Archive\2026\a.txt"));
          Assert.That(listed.Values.Where(entry => entry.IsDirectory).Select(entry => entry.Path),
                      Is.EquivalentTo(new[] {@"C:\Documents\Reports", @"C:\Documents\Temp", @"D:\Archive\2026"}));
          Assert.That(listed.Keys, Has.Member(@"C:\Documents\Reports\q1.txt")
                                       .And.No.Member(@"C:\Documents\~lock.tmp")
                                       .And.No.Member(@"C:\Documents\Temp\notes.autosave.tmp"));
          Assert.That(snap.CopyPath(@"c:\mounted\Logs"), Is.EqualTo(copies[0] + "Logs"));
          snap.Complete();
        }
      } finally {
        Simulation.Unload();
      }
    }
  }
}
