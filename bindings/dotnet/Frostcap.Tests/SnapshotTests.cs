using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;
using NUnit.Framework;

namespace Frostcap.Tests {
  // Before any test takes a snapshot: the trace of the whole run.
  [SetUpFixture]
  public class TraceOfTheRun {
    internal static readonly string Trace = Path.Combine(Path.GetTempPath(), "frostcap-dotnet-" + Guid.NewGuid() + ".jsonl");

    [SetUp]
    public void NameIt() => Snapshot.TraceTo(Trace);

    [TearDown]
    public void Remove() => File.Delete(Trace);
  }

  // The binding end to end over frostcap-sim, which the test run maps the
  // name frostcap to.
  [TestFixture]
  public class SnapshotTests {
    const string Mail = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}";
    const string Documents = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}";
    const string FirstCopy = @"\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy1\";
    static readonly Component[] Both = {new Component(ComponentType.Database, Mail, "Mail", "Mailbox Database"),
                                        new Component(ComponentType.Filegroup, Documents, "", "Documents")};
    static readonly string Examples = Environment.GetEnvironmentVariable("FROSTCAP_EXAMPLES_DIR") ?? "examples";
    readonly string scenario = Path.Combine(Path.GetTempPath(), "frostcap-dotnet-" + Guid.NewGuid() + ".json");

    [TearDown]
    public void Unload() {
      Simulation.Unload();
      File.Delete(scenario);
    }

    // The example scenario over the example's volume, with `replace` made to
    // its text (pairs of old and new; an empty old text changes nothing).
    void Load(params string[] replace) {
      string text = File.ReadAllText(Path.Combine(Examples, "two-writers.json"))
          .Replace("\"directory\": \"volume\"", "\"directory\": \"" + Path.GetFullPath(Path.Combine(Examples, "volume")) + "\"");
      for (int i = 0; i < replace.Length; i += 2) {
        if (replace[i] != "") text = text.Replace(replace[i], replace[i + 1]);
      }
      File.WriteAllText(scenario, text);
      Simulation.LoadScenario(scenario);
    }

    static IEnumerable<string> Calls(string name) =>
        Simulation.Record().Where(entry => entry.Call == name).Select(entry => entry.Text);

    static string Verdicts() => string.Join(" ", Calls("SetBackupSucceeded").Select(text => text.Split(',').Last().TrimEnd(')')));

    [Test]
    public void ACompletedBlockReportsSuccessAndEndsTheCopies() {
      Load();
      using (var snap = Snapshot.Take(volumes: new[] {@"C:\"}, components: Both)) {
        Assert.That(snap.MountPaths, Is.EqualTo(new[] {FirstCopy}));
        Assert.That(File.Exists(Path.Combine(Simulation.HostPath(FirstCopy), "Data", "Mail", "mailbox.edb")));
        Assert.That(snap.Components().Select(entry => entry.ToString()), Is.EqualTo(new[] {
            Mail + @" Mail\Mailbox Database Database selectable",
            Documents + @" \Documents Filegroup selectable"}));
        Assert.That(snap.Files(), Has.Member(@"C:\Data\Mail\mailbox.edb").And.Member(@"C:\Documents\notes.txt"));
        Assert.That(snap.ExcludedFiles().OrderBy(name => name, StringComparer.Ordinal), Is.EqualTo(new[] {
            @"C:\Documents\Temp\notes.autosave.tmp", @"C:\Documents\~lock.tmp"}));
        Assert.That(snap.Messages(), Is.Empty);
        snap.Complete();
      }
      Assert.That(Verdicts(), Is.EqualTo("true true"));
      Assert.That(Simulation.Record().Last().Call, Is.EqualTo("Release"));
      Assert.That(Simulation.HostPath(FirstCopy), Is.Null);
      // The trace was named before the library was initialised; now it is too late.
      StringAssert.StartsWith("{\"call\":\"Trace\"", File.ReadLines(TraceOfTheRun.Trace).First());
      Assert.Throws<InvalidOperationException>(() => Snapshot.TraceTo(scenario));
    }

    const string WriterStatus = "IVssBackupComponents::GetWriterStatus";
    const string Writer = "\"name\": \"Mail Store Writer\",";
    const string Faults = "\"writers\": [";

    static string Fault(string call, string status) =>
        "\"faults\": [{\"call\": \"" + call + "\", \"status\": \"" + status + "\"}], \"writers\": [";

    // Each failure as a program sees it: the exception's type, the status
    // (HResult too), the call, the writer and component and the retry flag.
    [TestCase("Nobody", "", "", "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=Mail Name=Nobody))",
              typeof(SnapshotException), null, null, null, null, false)]
    [TestCase("Mailbox Database", Writer,
              Writer + " \"status\": \"0x80042336\", \"failedComponents\": [{\"name\": \"Mailbox Database\", \"message\": \"log disk full\"}],",
              "{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full",
              typeof(WriterFailureException), "0x80042336", WriterStatus, "Mail Store Writer", "Mailbox Database", false)]
    [TestCase("Mailbox Database", Writer, Writer + " \"status\": \"0x800423F3\",", null,
              typeof(WriterFailureException), "0x800423F3", WriterStatus, "Mail Store Writer", null, true)]
    [TestCase("Mailbox Database", Faults, "StartSnapshotSet 0x80042316", null,
              typeof(ServiceBusyException), "0x80042316", "IVssBackupComponents::StartSnapshotSet", null, null, true)]
    [TestCase("Mailbox Database", Faults, "InitializeForBackup 0x80070005", "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({WARNING_PREFIX}{ERR_NO_PERMISSION})",
              typeof(AccessDeniedException), "0x80070005", null, null, null, false)]
    [TestCase("Mailbox Database", Faults, "AddToSnapshotSet 0x8004230C", null,
              typeof(UnsupportedVolumeException), "0x8004230C", "IVssBackupComponents::AddToSnapshotSet", null, null, false)]
    public void AFailedPhaseReleasesTheBackupAndSaysWhatFailed(string component, string old, string replacement, string raw,
                                                               Type type, string status, string label, string writer,
                                                               string failedComponent, bool retryable) {
      if (old == Faults) replacement = Fault(replacement.Split(' ')[0], replacement.Split(' ')[1]);
      Load(old, replacement);
      var choice = new Component(ComponentType.Database, Mail, "Mail", component);
      var failure = Assert.Catch<SnapshotException>(() => Snapshot.Take(volumes: new[] {@"C:\"}, components: new[] {choice}));
      Assert.That(failure.GetType(), Is.EqualTo(type));
      if (raw != null) Assert.That(failure.RawMessages, Has.Member(raw));
      Assert.That(failure.Message, Is.EqualTo(string.Join("\n", failure.RawMessages.Select(Messages.Render))));
      int? code = status == null ? (int?)null : Convert.ToInt32(status, 16);
      Assert.That(new object[] {failure.Status, failure.HResult, failure.Label, failure.WriterName, failure.ComponentName, failure.Retryable},
                  Is.EqualTo(new object[] {code, code ?? unchecked((int)0x80004005), label, writer, failedComponent, retryable}),
                  string.Join("\n", failure.RawMessages));
      Assert.That(Simulation.Record().Last().Call, Is.EqualTo("Release"));
    }

    // A malformed writer id is refused where it is given, named.
    [TestCase("5D1A2C40")]
    [TestCase("5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51")]
    public void AMalformedWriterIdIsNamed(string id) {
      var failure = Assert.Throws<ArgumentException>(() => new Component(ComponentType.Database, id, "Mail", "Db"));
      StringAssert.StartsWith("writer id \"" + id + "\" is not a GUID", failure.Message);
      Assert.That(failure.HResult, Is.EqualTo(unchecked((int)0x80070057)));
    }

    [DllImport("frostcap-nowhere")] static extern void frostcap_library_init();

    // A library the runtime cannot find is explained, the runtime's own text kept.
    [Test]
    public void AMissingLibraryIsExplained() {
      var missing = Assert.Throws<DllNotFoundException>(() => NativeMethods.Explained(() => {
        frostcap_library_init();
        return 0;
      }));
      StringAssert.Contains("by the name \"frostcap\"", missing.Message);
      StringAssert.Contains("<dllmap dll=\"frostcap\"", missing.Message);
      Assert.That(missing.InnerException, Is.InstanceOf<DllNotFoundException>());
    }

    // Every option as the service was told it, with text outside ASCII
    // carried as UTF-16 both ways; an exception leaving the block skips
    // Complete and fails the backup.
    [Test]
    public void TheOptionsReachTheServiceAndAnExceptionFailsTheBackup() {
      const string Name = "Boîte aux lettres 🧊";
      Load("\"Mailbox Database\"", "\"" + Name + "\"");
      var fallback = new Component(ComponentType.Database, Mail, "Archive", Name, "Mail");
      Snapshot held = null;
      Assert.Throws<KeyNotFoundException>(() => {
        using (var snap = Snapshot.Take(volumes: new[] {@"C:\"}, writers: new[] {Guid.Parse(Mail)}, components: new[] {fallback},
                                        backupType: BackupType.Full, systemProvider: true)) {
          held = snap;
          throw new KeyNotFoundException("the host's own failure");
        }
      });
      const string Instance = "{8F0E6B12-3C4D-4A5B-8E7F-102132435465}," + Mail;
      Assert.That(Calls("SetBackupState"), Is.EqualTo(new[] {"SetBackupState(true,false,1,false)"}));
      Assert.That(Calls("AddComponent"), Is.EqualTo(new[] {"AddComponent(" + Instance + ",1,Mail," + Name + ")"}));
      Assert.That(Calls("AddToSnapshotSet"), Is.EqualTo(new[] {@"AddToSnapshotSet(C:\,{B5946137-7B9F-4925-AF80-51ABD60B20D5})"}));
      Assert.That(Verdicts(), Is.EqualTo("false"));
      Assert.Throws<ObjectDisposedException>(() => held.Files());
      Assert.Throws<ArgumentException>(() => Snapshot.Take(volumes: new[] {"C:\\\0"}));
    }

    // A snapshot never disposed is freed as failed by its finalizer; the
    // thread that took it is gone, so that no stale reference keeps it.
    [Test]
    public void ADroppedSnapshotFailsTheBackup() {
      Load();
      var taker = new Thread(() => Snapshot.Take(volumes: new[] {@"C:\"}, components: Both));
      taker.Start();
      taker.Join();
      GC.Collect();
      GC.WaitForPendingFinalizers();
      Assert.That(Verdicts(), Is.EqualTo("false false"));
      Assert.That(Snapshot.BackupPrivilegeEnabled, Is.Null);
    }

    [TestCase("{FATAL_PREFIX}{ERR_NO_VOLUMES}", "error: there is nothing to copy: no volume and no writer was chosen")]
    [TestCase("{WARNING_PREFIX} (X: 0x1)", "warning (X: 0x1)")]
    [TestCase("{ERR_COMPONENT_APP}: (Db): 0x5", "a component failed in its application: (Db): 0x5")]
    [TestCase("{FATAL_PREFIX}{ERR_UNKNOWN} {open", "error{ERR_UNKNOWN} {open")]
    [TestCase("{WARNING_PREFIX}{FATAL_PREFIX}{ERR_", "warningerror{ERR_")]
    public void RenderingReplacesKnownTokensOnly(string message, string text) {
      Assert.That(Messages.Render(message), Is.EqualTo(text));
    }

    [Test]
    public void NetworkPathsAreToldApart() =>
        Assert.That(new[] {@"\\server\share", @"C:\", ""}.Select(Snapshot.IsNetworkPath), Is.EqualTo(new[] {true, false, false}));
  }
}
