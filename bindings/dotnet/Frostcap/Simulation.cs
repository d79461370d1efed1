using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.Serialization;
using System.Runtime.Serialization.Json;
using System.Text;

namespace Frostcap {
  /// <summary>
  /// A scenario file that cannot be used; the message names the file, the
  /// place in it and what was expected there.
  /// </summary>
  public sealed class ScenarioException : Exception {
    internal ScenarioException(string message) : base(message) { }
  }

  /// <summary>
  /// One call the simulated service received: Call names it (for example
  /// SetBackupSucceeded, or Release for a released backup object), Text gives
  /// it with its arguments, Status what the service answered ("0x80042308";
  /// null for S_OK).
  /// </summary>
  [DataContract]
  public sealed class RecordEntry {
    [DataMember(Name = "call")] public string Call { get; private set; }
    [DataMember(Name = "text")] public string Text { get; private set; }
    [DataMember(Name = "status", IsRequired = false)] public string Status { get; private set; }

    public override string ToString() => Text;
  }

  /// <summary>
  /// The simulated shadow copy service of frostcap-sim, for a host's own
  /// tests: the library loaded under the name frostcap must be frostcap-sim
  /// (see NativeMethods), or these throw InvalidOperationException. Until a
  /// scenario is loaded the library answers as a system without the service.
  /// </summary>
  public static class Simulation {
    static T Call<T>(Func<T> function) {
      try {
        return NativeMethods.Explained(function);
      } catch (EntryPointNotFoundException) {
        throw new InvalidOperationException(
            "the loaded frostcap library is not the one over the simulated service (frostcap-sim)");
      }
    }

    /// <summary>
    /// Makes the scenario file at path the service for the whole process, in
    /// place of any earlier one, which stays when this one cannot be used.
    /// </summary>
    public static void LoadScenario(string path) {
      if (Call(() => NativeMethods.frostcap_sim_loadScenario(NativeMethods.Utf8(path))) != 0)
        throw new ScenarioException(NativeMethods.FromUtf8(NativeMethods.frostcap_sim_lastError()));
    }

    /// <summary>
    /// Ends the loaded scenario.
    /// </summary>
    public static void Unload() => Call(() => {
      NativeMethods.frostcap_sim_unload();
      return 0;
    });

    /// <summary>
    /// Every call the loaded scenario's service received, in order.
    /// </summary>
    public static IReadOnlyList<RecordEntry> Record() => Call(() => {
      var serializer = new DataContractJsonSerializer(typeof(RecordEntry));
      var entries = new List<RecordEntry>();
      ulong count = NativeMethods.frostcap_sim_recordCount().ToUInt64();
      for (ulong i = 0; i < count; ++i) {
        string line = NativeMethods.FromUtf8(NativeMethods.frostcap_sim_recordEntry(new UIntPtr(i)));
        using (var json = new MemoryStream(Encoding.UTF8.GetBytes(line)))
          entries.Add((RecordEntry)serializer.ReadObject(json));
      }
      return entries;
    });

    /// <summary>
    /// Writes the record to the file at path, one JSON object a line.
    /// </summary>
    public static void WriteRecord(string path) {
      if (Call(() => NativeMethods.frostcap_sim_writeRecord(NativeMethods.Utf8(path))) != 0)
        throw new IOException(NativeMethods.FromUtf8(NativeMethods.frostcap_sim_lastError()));
    }

    /// <summary>
    /// The directory of this host behind a volume name or a shadow copy's
    /// device path (or a path below one); null when the service does not know
    /// the name.
    /// </summary>
    public static string HostPath(string path) =>
        Call(() => NativeMethods.FromUtf8(NativeMethods.frostcap_sim_hostPath(NativeMethods.Utf8(path))));
  }
}
