using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Frostcap {
  // The library's functions. Its strings are UTF-16 on every platform, which
  // CharSet.Unicode gives; the simulation's paths are UTF-8. The library is
  // loaded by the name "frostcap": frostcap.dll from the package's native
  // assets on Windows, libfrostcap.so elsewhere, or the file a host maps that
  // name to (frostcap-sim, for its own tests).
  static class NativeMethods {
    const string Library = "frostcap";

    [DllImport(Library)] internal static extern void frostcap_library_init();
    [DllImport(Library, CharSet = CharSet.Unicode)]
    internal static extern int frostcap_pathIsNetworkPath(string path);
    [DllImport(Library)] internal static extern SnapshotHandle frostcap_snapshot_new();
    [DllImport(Library, CharSet = CharSet.Unicode)]
    internal static extern void frostcap_snapshot_addVolumePath(SnapshotHandle snapshot, string volume);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    internal static extern void frostcap_snapshot_addWriter(SnapshotHandle snapshot, string writerId);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    internal static extern void frostcap_snapshot_addWriterDatabaseComponentFallback(
        SnapshotHandle snapshot, string writerId, string logicalPath, string name, string fallback);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    internal static extern void frostcap_snapshot_addWriterFilegroupComponentFallback(
        SnapshotHandle snapshot, string writerId, string logicalPath, string name, string fallback);
    [DllImport(Library)]
    internal static extern void frostcap_snapshot_setIncrementalMode(SnapshotHandle snapshot, uint mode);
    [DllImport(Library)] internal static extern void frostcap_snapshot_setUseSystemProvider(SnapshotHandle snapshot);
    [DllImport(Library)] internal static extern int frostcap_snapshot_perform_a(SnapshotHandle snapshot);
    [DllImport(Library)] internal static extern int frostcap_snapshot_perform_b(SnapshotHandle snapshot);
    [DllImport(Library)] internal static extern void frostcap_snapshot_loadWriterComponents(SnapshotHandle snapshot);
    [DllImport(Library)] internal static extern void frostcap_snapshot_loadWriterFileInfo(SnapshotHandle snapshot);
    [DllImport(Library)]
    internal static extern IntPtr frostcap_snapshot_getNextMessage(SnapshotHandle snapshot, out UIntPtr length);
    [DllImport(Library)]
    internal static extern IntPtr frostcap_snapshot_getNextMountPath(SnapshotHandle snapshot, out UIntPtr length);
    [DllImport(Library)]
    internal static extern IntPtr frostcap_snapshot_getNextWriterComponent(SnapshotHandle snapshot, out UIntPtr length);
    [DllImport(Library)]
    internal static extern IntPtr frostcap_snapshot_getNextWriterFileInfo(SnapshotHandle snapshot, out UIntPtr length);
    [DllImport(Library)]
    internal static extern IntPtr frostcap_snapshot_getNextWriterExcludedFileInfo(
        SnapshotHandle snapshot, out UIntPtr length);
    [DllImport(Library)] internal static extern void frostcap_snapshot_free(IntPtr snapshot, int verdict);

    [DllImport(Library)] internal static extern int frostcap_sim_loadScenario(byte[] utf8Path);
    [DllImport(Library)] internal static extern IntPtr frostcap_sim_lastError();
    [DllImport(Library)] internal static extern UIntPtr frostcap_sim_recordCount();
    [DllImport(Library)] internal static extern IntPtr frostcap_sim_recordEntry(UIntPtr index);
    [DllImport(Library)] internal static extern int frostcap_sim_writeRecord(byte[] utf8Path);
    [DllImport(Library)] internal static extern IntPtr frostcap_sim_hostPath(byte[] utf8Path);
    [DllImport(Library)] internal static extern void frostcap_sim_unload();

    // The process's own environment, which the native library reads: outside
    // Windows, .NET Core keeps Environment's changes to itself.
    [DllImport("kernel32.dll", CharSet = CharSet.Unicode)]
    static extern bool SetEnvironmentVariableW(string name, string value);
    [DllImport("libc")] static extern int setenv(byte[] name, byte[] value, int overwrite);

    internal static void SetProcessEnvironment(string name, string value) {
      Environment.SetEnvironmentVariable(name, value);
      if (Environment.OSVersion.Platform == PlatformID.Win32NT)
        SetEnvironmentVariableW(name, value);
      else
        setenv(Utf8(name), Utf8(value), 1);
    }

    // A library that cannot be found is explained: which name is looked for
    // where, and how a host maps it to another file.
    internal static T Explained<T>(Func<T> function) {
      try {
        return function();
      } catch (DllNotFoundException missing) {
        throw new DllNotFoundException(
            "the native frostcap library was not found. The binding loads it by the name \"frostcap\": " +
            "on Windows frostcap.dll, beside the program or in the package's runtimes\\win-x64\\native " +
            "folder; elsewhere libfrostcap.so, on the loader's search path (LD_LIBRARY_PATH). Under Mono, " +
            "<dllmap dll=\"frostcap\" target=\"FILE\"/> in Frostcap.dll.config maps the name to another " +
            "file, such as libfrostcap-sim.so for a host's own tests. (" + missing.Message + ")",
            missing);
      }
    }

    internal static byte[] Utf8(string text) {
      CheckText(text);
      return Encoding.UTF8.GetBytes(text + "\0");
    }

    // A NUL-terminated UTF-8 text the library owns; null for a null pointer.
    internal static string FromUtf8(IntPtr text) {
      if (text == IntPtr.Zero) return null;
      int length = 0;
      while (Marshal.ReadByte(text, length) != 0) ++length;
      var bytes = new byte[length];
      Marshal.Copy(text, bytes, 0, length);
      return Encoding.UTF8.GetString(bytes);
    }

    // The library would see only the part of a text before a NUL.
    internal static string CheckText(string text) {
      if (text == null) throw new ArgumentNullException(nameof(text));
      if (text.IndexOf('\0') >= 0)
        throw new ArgumentException($"\"{text}\": text passed to the library cannot contain NUL");
      return text;
    }
  }

  // A frostcap_snapshot*, freed with the verdict it holds when disposed, or
  // by the finalizer as failed when a host forgets to dispose its snapshot.
  sealed class SnapshotHandle : SafeHandle {
    internal int Verdict;

    SnapshotHandle() : base(IntPtr.Zero, true) { }

    public override bool IsInvalid => handle == IntPtr.Zero;

    protected override bool ReleaseHandle() {
      NativeMethods.frostcap_snapshot_free(handle, Verdict);
      return true;
    }
  }
}
