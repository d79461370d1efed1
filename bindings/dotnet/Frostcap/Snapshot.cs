using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Runtime.Serialization.Json;
using System.Text;

namespace Frostcap {
  /// <summary>
  /// Shadow copies of volumes, held from Take until Dispose.
  ///
  /// Dispose completes the backup and ends the shadow copies. It reports the
  /// backup as succeeded only when Complete was called first: Dispose cannot
  /// see an exception leaving a using block, so the block ends with Complete,
  /// and an exception before it, like any other way out, reports a failure.
  /// A snapshot that is never disposed is freed by its finalizer, as failed
  /// unless Complete was called. Use a snapshot from one thread at a time.
  /// </summary>
  public sealed class Snapshot : IDisposable {
    delegate IntPtr NextText(SnapshotHandle snapshot, out UIntPtr length);

    readonly SnapshotHandle handle;
    readonly IReadOnlyList<string> volumes;
    readonly IReadOnlyList<string> mountPaths;

    Snapshot(SnapshotHandle handle, IReadOnlyList<string> volumes) {
      this.handle = handle;
      this.volumes = volumes;
      mountPaths = Drain(NativeMethods.frostcap_snapshot_getNextMountPath);
    }

    /// <summary>
    /// Prepares the backup of the volumes (names such as C:\), writers (class
    /// ids) and components, and creates the shadow copies. When either phase
    /// fails, the backup is released as failed and a SnapshotException, or
    /// the type of it for the condition, carries the status and the library's
    /// messages. backupType defaults
    /// to the library's, incremental; systemProvider asks for the system's
    /// own software provider.
    /// </summary>
    public static Snapshot Take(IEnumerable<string> volumes = null, IEnumerable<Guid> writers = null,
                                IEnumerable<Component> components = null,
                                BackupType? backupType = null, bool systemProvider = false) {
      var volumeList = (volumes ?? new string[0]).Select(NativeMethods.CheckText).ToList();
      var writerList = (writers ?? new Guid[0]).Select(Component.Format).ToList();
      var componentList = (components ?? new Component[0]).ToList();
      foreach (var c in componentList) {
        foreach (var text in new[] {c.LogicalPath, c.Name, c.FallbackLogicalPath})
          NativeMethods.CheckText(text);
      }

      ComSetup.BeforeSnapshot();
      NativeMethods.Explained(() => {
        lock (initialisation) {
          NativeMethods.frostcap_library_init();
          libraryInitialised = true;
        }
        return 0;
      });
      SnapshotHandle handle = NativeMethods.frostcap_snapshot_new();
      if (handle.IsInvalid) throw new OutOfMemoryException("frostcap_snapshot_new");
      try {
        foreach (var volume in volumeList) NativeMethods.frostcap_snapshot_addVolumePath(handle, volume);
        foreach (var writer in writerList) NativeMethods.frostcap_snapshot_addWriter(handle, writer);
        foreach (var c in componentList) {
          if (c.Type == ComponentType.Database)
            NativeMethods.frostcap_snapshot_addWriterDatabaseComponentFallback(
                handle, Component.Format(c.WriterId), c.LogicalPath, c.Name, c.FallbackLogicalPath);
          else
            NativeMethods.frostcap_snapshot_addWriterFilegroupComponentFallback(
                handle, Component.Format(c.WriterId), c.LogicalPath, c.Name, c.FallbackLogicalPath);
        }
        if (backupType.HasValue) NativeMethods.frostcap_snapshot_setIncrementalMode(handle, (uint)backupType.Value);
        if (systemProvider) NativeMethods.frostcap_snapshot_setUseSystemProvider(handle);
        if (NativeMethods.frostcap_snapshot_perform_a(handle) != 0 ||
            NativeMethods.frostcap_snapshot_perform_b(handle) != 0) {
          throw SnapshotException.FromMessages(Drain(handle, NativeMethods.frostcap_snapshot_getNextMessage));
        }
        return new Snapshot(handle, volumeList);
      } catch {
        handle.Dispose();  // verdict 0
        throw;
      }
    }

    static readonly object initialisation = new object();
    static bool libraryInitialised;

    /// <summary>
    /// Has the library append one JSON line per call it makes to the shadow
    /// copy service to the file at path, from the first Take of this process
    /// on, by naming it in the process's environment as FROSTCAP_TRACE. The
    /// library reads that once, when the first Take initialises it: after
    /// that, TraceTo throws InvalidOperationException rather than pretend.
    /// </summary>
    public static void TraceTo(string path) {
      NativeMethods.CheckText(path);
      lock (initialisation) {
        if (libraryInitialised)
          throw new InvalidOperationException(
              "Snapshot.TraceTo: an earlier Take of this process initialised the library, which reads " +
              "FROSTCAP_TRACE only then; call TraceTo before the first Take");
        NativeMethods.SetProcessEnvironment("FROSTCAP_TRACE", path);
      }
    }

    /// <summary>
    /// The device paths of the shadow copies, one per volume, in the order
    /// the volumes were given.
    /// </summary>
    public IReadOnlyList<string> MountPaths {
      get {
        Live();
        return mountPaths;
      }
    }

    /// <summary>
    /// Every component of every writer the service reports, read afresh. A
    /// failure to read them all is queued as a warning message.
    /// </summary>
    public IReadOnlyList<CatalogueEntry> Components() {
      NativeMethods.frostcap_snapshot_loadWriterComponents(Live());
      var serializer = new DataContractJsonSerializer(typeof(object[]));
      return Drain(NativeMethods.frostcap_snapshot_getNextWriterComponent)
          .Where(line => !line.StartsWith("#", StringComparison.Ordinal))
          .Select(line => {
            using (var json = new MemoryStream(Encoding.UTF8.GetBytes(line)))
              return new CatalogueEntry((object[])serializer.ReadObject(json));
          })
          .ToList();
    }

    /// <summary>
    /// The files of the chosen components, searched inside the shadow copies
    /// and named by their live paths.
    /// </summary>
    public IReadOnlyList<string> Files() => Inventory(excluded: false);

    /// <summary>
    /// The files of the chosen components with directories marked; with
    /// exclude, less the files the writers exclude; with walk, each listed
    /// directory followed by its contents inside the copy, all the way down
    /// (the library lists one level per descriptor).
    /// </summary>
    public IReadOnlyList<ListedFile> Listing(bool exclude = false, bool walk = false) {
      IReadOnlyList<string> exclusions;
      var files = Inventory(out exclusions);
      return Frostcap.Listing.Make(files, exclude ? exclusions : new string[0], volumes, MountPaths, Locate, walk);
    }

    /// <summary>
    /// Where livePath lies inside this snapshot's copies; null when it lies
    /// on none of its volumes.
    /// </summary>
    public string CopyPath(string livePath) => Frostcap.Listing.CopyPath(livePath, volumes, MountPaths);

    // Over the simulated service a copy is a directory of this host; the real
    // service's device paths are opened as they are.
    static string Locate(string inside) {
      try {
        return Simulation.HostPath(inside) ?? inside;
      } catch (InvalidOperationException) {
        return inside;
      }
    }

    /// <summary>
    /// The files the writers exclude from the backup.
    /// </summary>
    public IReadOnlyList<string> ExcludedFiles() => Inventory(excluded: true);

    /// <summary>
    /// The messages queued since the last call, in English, or with their
    /// tokens when raw.
    /// </summary>
    public IReadOnlyList<string> Messages(bool raw = false) {
      var texts = Drain(NativeMethods.frostcap_snapshot_getNextMessage);
      return raw ? texts : texts.Select(Frostcap.Messages.Render).ToList();
    }

    /// <summary>
    /// Declares the backup succeeded, for Dispose to report.
    /// </summary>
    public void Complete() => Live().Verdict = 1;

    public void Dispose() => handle.Dispose();

    /// <summary>
    /// Whether SeBackupPrivilege is enabled in the process's token, which the
    /// binding tries once on Windows, before the first snapshot or when this
    /// is first read. False when the account does not hold it (an
    /// administrator or a member of Backup Operators does): snapshots still
    /// work, but files that the account may not read stay unreadable in the
    /// copies. Null outside Windows. SeRestorePrivilege is not needed.
    /// </summary>
    public static bool? BackupPrivilegeEnabled => ComSetup.BackupPrivilege();

    /// <summary>
    /// Whether the library takes path for a network path (a UNC path such as
    /// \\server\share), which cannot be copied.
    /// </summary>
    public static bool IsNetworkPath(string path) =>
        NativeMethods.Explained(() => NativeMethods.frostcap_pathIsNetworkPath(NativeMethods.CheckText(path))) == 0;

    SnapshotHandle Live() {
      if (handle.IsClosed) throw new ObjectDisposedException(nameof(Snapshot));
      return handle;
    }

    IReadOnlyList<string> Inventory(bool excluded) {
      IReadOnlyList<string> exclusions;
      var files = Inventory(out exclusions);
      return excluded ? exclusions : files;
    }

    IReadOnlyList<string> Inventory(out IReadOnlyList<string> exclusions) {
      // Each listing rebuilds the files and appends to the exclusions: both
      // are drained so that the next listing starts afresh.
      NativeMethods.frostcap_snapshot_loadWriterFileInfo(Live());
      var files = Drain(NativeMethods.frostcap_snapshot_getNextWriterFileInfo);
      exclusions = Drain(NativeMethods.frostcap_snapshot_getNextWriterExcludedFileInfo);
      return files;
    }

    IReadOnlyList<string> Drain(NextText next) => Drain(Live(), next);

    static IReadOnlyList<string> Drain(SnapshotHandle handle, NextText next) {
      var texts = new List<string>();
      for (;;) {
        UIntPtr length;
        IntPtr text = next(handle, out length);
        if (length == UIntPtr.Zero) return texts;
        texts.Add(Marshal.PtrToStringUni(text, checked((int)length.ToUInt64())));
      }
    }
  }
}
