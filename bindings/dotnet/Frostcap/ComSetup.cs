using System;
using System.Collections.Generic;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;

[assembly: InternalsVisibleTo("Frostcap.Tests")]

namespace Frostcap {
  // What a requester process sets up on Windows before the library runs, as
  // the Python binding does, once, before the first snapshot:
  // SeBackupPrivilege enabled in the process's token at best effort (so that
  // the library can list protected folders and the host can read every file
  // of the copies; SeRestorePrivilege is a restore's, not a requester's); COM
  // in the multithreaded apartment, the process's COM security with the
  // settings documented for requesters (so that writers running under other
  // accounts can call back), and COM's catching of fatal exceptions turned
  // off.
  // Security is process-wide and taken by the first caller: settings the
  // program made earlier stay (RPC_E_TOO_LATE). A thread in a
  // single-threaded apartment cannot drive the service, so a snapshot is
  // refused there with a clear error rather than failing in the service.
  static class ComSetup {
    internal const int RpcEChangedMode = unchecked((int)0x80010106);
    static readonly Guid ClsidGlobalOptions = new Guid("0000034b-0000-0000-c000-000000000046");
    static readonly Guid IidGlobalOptions = new Guid("0000015b-0000-0000-c000-000000000046");
    static readonly object gate = new object();
    static bool prepared;
    static bool? backupPrivilege;

    internal interface IOle32 {
      int CoInitializeEx(IntPtr reserved, uint mode);
      int CoInitializeSecurity(IntPtr descriptor, int authServices, IntPtr services, IntPtr reserved1,
                               uint authnLevel, uint impLevel, IntPtr authList, uint capabilities,
                               IntPtr reserved3);
      int CoCreateInstance(ref Guid clsid, IntPtr outer, uint context, ref Guid iid, out IntPtr instance);
    }

    sealed class Ole32 : IOle32 {
      [DllImport("ole32.dll", EntryPoint = "CoInitializeEx")]
      static extern int Initialize(IntPtr reserved, uint mode);
      [DllImport("ole32.dll", EntryPoint = "CoInitializeSecurity")]
      static extern int InitializeSecurity(IntPtr descriptor, int authServices, IntPtr services,
                                           IntPtr reserved1, uint authnLevel, uint impLevel,
                                           IntPtr authList, uint capabilities, IntPtr reserved3);
      [DllImport("ole32.dll", EntryPoint = "CoCreateInstance")]
      static extern int CreateInstance(ref Guid clsid, IntPtr outer, uint context, ref Guid iid,
                                       out IntPtr instance);

      public int CoInitializeEx(IntPtr reserved, uint mode) => Initialize(reserved, mode);
      public int CoInitializeSecurity(IntPtr descriptor, int authServices, IntPtr services,
                                      IntPtr reserved1, uint authnLevel, uint impLevel,
                                      IntPtr authList, uint capabilities, IntPtr reserved3) =>
          InitializeSecurity(descriptor, authServices, services, reserved1, authnLevel, impLevel,
                             authList, capabilities, reserved3);
      public int CoCreateInstance(ref Guid clsid, IntPtr outer, uint context, ref Guid iid,
                                  out IntPtr instance) =>
          CreateInstance(ref clsid, outer, context, ref iid, out instance);
    }

    // IGlobalOptions: IUnknown's three methods, then Set and Query.
    [UnmanagedFunctionPointer(CallingConvention.StdCall)]
    internal delegate int SetOption(IntPtr self, int property, UIntPtr value);
    [UnmanagedFunctionPointer(CallingConvention.StdCall)]
    internal delegate uint Release(IntPtr self);

    static bool OnWindows => Environment.OSVersion.Platform == PlatformID.Win32NT;

    // Whether SeBackupPrivilege is enabled, which the first call tries; null
    // outside Windows.
    internal static bool? BackupPrivilege() {
      lock (gate) {
        if (OnWindows && backupPrivilege == null) backupPrivilege = Privilege.EnableBackup() == 0;
        return backupPrivilege;
      }
    }

    // Before each snapshot, on its thread.
    internal static void BeforeSnapshot() {
      if (!OnWindows) return;
      BackupPrivilege();
      lock (gate) {
        if (!prepared) {
          if (Prepare(new Ole32()) == null) throw SingleThreadedApartment();
          prepared = true;
        }
      }
      if (Thread.CurrentThread.GetApartmentState() == ApartmentState.STA) throw SingleThreadedApartment();
    }

    static InvalidOperationException SingleThreadedApartment() =>
        new InvalidOperationException(
            "this thread is in a single-threaded COM apartment, but the shadow copy service needs the "
            + "multithreaded one: take the snapshot from another thread (a task, or a thread whose "
            + "apartment state is MTA)");

    // The statuses of the steps taken; null when the calling thread is in a
    // single-threaded apartment, which leaves the set-up to the next snapshot.
    internal static List<int> Prepare(IOle32 ole32) {
      var statuses = new List<int> {ole32.CoInitializeEx(IntPtr.Zero, 0 /* COINIT_MULTITHREADED */)};
      if (statuses[0] == RpcEChangedMode) return null;
      if (statuses[0] < 0) return statuses;
      statuses.Add(ole32.CoInitializeSecurity(
          IntPtr.Zero, -1, IntPtr.Zero, IntPtr.Zero, 6 /* RPC_C_AUTHN_LEVEL_PKT_PRIVACY */,
          3 /* RPC_C_IMP_LEVEL_IMPERSONATE */, IntPtr.Zero, 0x20 /* EOAC_STATIC_CLOAKING */, IntPtr.Zero));
      Guid clsid = ClsidGlobalOptions, iid = IidGlobalOptions;
      IntPtr options;
      statuses.Add(ole32.CoCreateInstance(ref clsid, IntPtr.Zero, 1 /* CLSCTX_INPROC_SERVER */, ref iid,
                                          out options));
      if (statuses[2] < 0 || options == IntPtr.Zero) return statuses;
      IntPtr vtable = Marshal.ReadIntPtr(options);
      var set = (SetOption)Marshal.GetDelegateForFunctionPointer(
          Marshal.ReadIntPtr(vtable, 3 * IntPtr.Size), typeof(SetOption));
      var release = (Release)Marshal.GetDelegateForFunctionPointer(
          Marshal.ReadIntPtr(vtable, 2 * IntPtr.Size), typeof(Release));
      statuses.Add(set(options, 1 /* COMGLB_EXCEPTION_HANDLING */,
                       new UIntPtr(1) /* COMGLB_EXCEPTION_DONOT_HANDLE */));
      release(options);
      return statuses;
    }
  }

  // Enables a privilege the process's token holds, at best effort.
  static class Privilege {
    const uint TokenAdjustPrivileges = 0x20, TokenQuery = 0x8, SePrivilegeEnabled = 0x2;

    // TOKEN_PRIVILEGES with one entry.
    [StructLayout(LayoutKind.Sequential, Pack = 4)]
    struct TokenPrivileges {
      public uint Count;
      public long Luid;
      public uint Attributes;
    }

    [DllImport("kernel32.dll")] static extern IntPtr GetCurrentProcess();
    [DllImport("kernel32.dll")] static extern bool CloseHandle(IntPtr handle);
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool OpenProcessToken(IntPtr process, uint access, out IntPtr token);
    [DllImport("advapi32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool LookupPrivilegeValueW(string system, string name, out long luid);
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool AdjustTokenPrivileges(IntPtr token, bool disableAll, ref TokenPrivileges state,
                                             uint length, IntPtr previous, IntPtr returnLength);

    // 0 once SeBackupPrivilege is enabled; otherwise the system's error code,
    // 1300 (ERROR_NOT_ALL_ASSIGNED) when the account does not hold it.
    internal static int EnableBackup() {
      IntPtr token;
      if (!OpenProcessToken(GetCurrentProcess(), TokenAdjustPrivileges | TokenQuery, out token))
        return Marshal.GetLastWin32Error();
      try {
        var state = new TokenPrivileges {Count = 1, Attributes = SePrivilegeEnabled};
        // The last error is that of a call that failed, or the one that
        // AdjustTokenPrivileges sets when it succeeds: 0, or 1300.
        if (LookupPrivilegeValueW(null, "SeBackupPrivilege", out state.Luid))
          AdjustTokenPrivileges(token, false, ref state, 0, IntPtr.Zero, IntPtr.Zero);
        return Marshal.GetLastWin32Error();
      } finally {
        CloseHandle(token);
      }
    }
  }
}
