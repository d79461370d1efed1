using System;
using System.Collections.Generic;
using System.Linq;

namespace Frostcap {
  public enum ComponentType { Database, Filegroup }

  /// <summary>
  /// The type of backup told to the writers.
  /// </summary>
  public enum BackupType : uint { Full = 1, Incremental = 2, Differential = 3, Log = 4, Copy = 5 }

  /// <summary>
  /// A writer's component to back up. When it is not found under LogicalPath
  /// it is looked for under FallbackLogicalPath (empty: nowhere else).
  /// Choosing a component chooses its writer, named by its class id.
  /// </summary>
  public sealed class Component {
    public Component(ComponentType type, Guid writerId, string logicalPath, string name,
                     string fallbackLogicalPath = "") {
      Type = type;
      WriterId = writerId;
      LogicalPath = logicalPath;
      Name = name;
      FallbackLogicalPath = fallbackLogicalPath;
    }

    /// <summary>
    /// As above, with the class id written as a GUID in braces; any other
    /// text throws an ArgumentException (HResult E_INVALIDARG) naming it.
    /// </summary>
    public Component(ComponentType type, string writerId, string logicalPath, string name,
                     string fallbackLogicalPath = "")
        : this(type, ParseWriterId(writerId), logicalPath, name, fallbackLogicalPath) { }

    /// <summary>
    /// A writer's class id written as a GUID in braces; any other text throws
    /// an ArgumentException (HResult E_INVALIDARG) naming it.
    /// </summary>
    public static Guid ParseWriterId(string writerId) {
      Guid id;
      if (writerId == null || !Guid.TryParseExact(writerId, "B", out id))
        throw new ArgumentException($"writer id \"{writerId}\" is not a GUID in braces, such as " +
                                    "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", nameof(writerId));
      return id;
    }

    // The form the library reads and writes.
    internal static string Format(Guid id) => id.ToString("B").ToUpperInvariant();

    public ComponentType Type { get; }
    public Guid WriterId { get; }
    public string LogicalPath { get; }
    public string Name { get; }
    public string FallbackLogicalPath { get; }
  }

  /// <summary>
  /// One component a writer reports. Type is null for a type other than a
  /// database or a file group.
  /// </summary>
  public sealed class CatalogueEntry {
    internal CatalogueEntry(object[] fields) {
      WriterId = Component.ParseWriterId((string)fields[0]);
      LogicalPath = (string)fields[1];
      Name = (string)fields[2];
      switch ((string)fields[3]) {
        case "VSS_CT_DATABASE": Type = ComponentType.Database; break;
        case "VSS_CT_FILEGROUP": Type = ComponentType.Filegroup; break;
      }
      Selectable = (bool)fields[4];
    }

    public Guid WriterId { get; }
    public string LogicalPath { get; }
    public string Name { get; }
    public ComponentType? Type { get; }
    public bool Selectable { get; }

    public override string ToString() =>
        $"{Component.Format(WriterId)} {LogicalPath}\\{Name} {Type}{(Selectable ? " selectable" : "")}";
  }
}
