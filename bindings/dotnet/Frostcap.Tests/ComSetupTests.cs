using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using NUnit.Framework;

namespace Frostcap.Tests {
  // The COM set-up that the binding makes on Windows, run against a stand-in
  // for ole32 that records what it is asked: this code runs on no other
  // machine of the test suite. The stand-in's IGlobalOptions is unmanaged
  // memory with a vtable, read as the binding reads a COM object.
  [TestFixture]
  public class ComSetupTests {
    const int SOk = 0, SFalse = 1, RpcETooLate = unchecked((int)0x80010119), EOutOfMemory = unchecked((int)0x8007000E);

    sealed class StandIn : ComSetup.IOle32, IDisposable {
      public readonly List<string> Calls = new List<string>();
      readonly int apartment, security;
      readonly ComSetup.SetOption set;
      readonly ComSetup.Release release;
      // The object's pointer to its vtable, then the vtable's five entries.
      readonly IntPtr instance = Marshal.AllocHGlobal(6 * IntPtr.Size);

      public StandIn(int apartment, int security) {
        this.apartment = apartment;
        this.security = security;
        set = (self, property, value) => Answer($"Set {self == instance} {property} {value}", SOk);
        release = self => (uint)Answer($"Release {self == instance}", 0);
        Marshal.WriteIntPtr(instance, instance + IntPtr.Size);
        Marshal.WriteIntPtr(instance, 3 * IntPtr.Size, Marshal.GetFunctionPointerForDelegate(release));
        Marshal.WriteIntPtr(instance, 4 * IntPtr.Size, Marshal.GetFunctionPointerForDelegate(set));
      }

      int Answer(string call, int status) {
        Calls.Add(call);
        return status;
      }

      public int CoInitializeEx(IntPtr reserved, uint mode) => Answer($"CoInitializeEx {reserved} {mode}", apartment);

      public int CoInitializeSecurity(IntPtr descriptor, int authServices, IntPtr services, IntPtr reserved1,
                                      uint authnLevel, uint impLevel, IntPtr authList, uint capabilities,
                                      IntPtr reserved3) =>
          Answer($"CoInitializeSecurity {descriptor} {authServices} {services} {reserved1} {authnLevel} "
                 + $"{impLevel} {authList} {capabilities:x} {reserved3}", security);

      public int CoCreateInstance(ref Guid clsid, IntPtr outer, uint context, ref Guid iid, out IntPtr created) {
        created = instance;
        return Answer($"CoCreateInstance {clsid} {outer} {context} {iid}", SOk);
      }

      public void Dispose() => Marshal.FreeHGlobal(instance);
    }

    // A thread in a single-threaded apartment stops the set-up (null), as
    // does a failed CoInitializeEx; anything else goes on to the end.
    [TestCase(SOk, SOk, true)]
    [TestCase(SFalse, RpcETooLate, true)]
    [TestCase(EOutOfMemory, SOk, false)]
    [TestCase(ComSetup.RpcEChangedMode, SOk, false)]
    public void ComIsSetUpForARequesterAtBestEffort(int apartment, int security, bool goesOn) {
      using (var ole32 = new StandIn(apartment, security)) {
        var statuses = ComSetup.Prepare(ole32);
        var expected = new List<string> {"CoInitializeEx 0 0"};
        if (goesOn) expected.AddRange(new[] {
            "CoInitializeSecurity 0 -1 0 0 6 3 0 20 0",
            "CoCreateInstance 0000034b-0000-0000-c000-000000000046 0 1 0000015b-0000-0000-c000-000000000046",
            "Set True 1 1", "Release True"});
        Assert.That(ole32.Calls, Is.EqualTo(expected));
        Assert.That(statuses, Is.EqualTo(goesOn ? new[] {apartment, security, SOk, SOk}
                                         : apartment == ComSetup.RpcEChangedMode ? null : new[] {apartment}));
      }
    }
  }
}
