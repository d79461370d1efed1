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
  /// Choosing a component chooses its writer.
  /// </summary>
  public sealed class Component {
    public Component(ComponentType type, string writerId, string logicalPath, string name,
                     string fallbackLogicalPath = "") {
      Type = type;
      WriterId = writerId;
      LogicalPath = logicalPath;
      Name = name;
      FallbackLogicalPath = fallbackLogicalPath;
    }

    public ComponentType Type { get; }
    public string WriterId { get; }  // the writer's class id, a GUID in braces
    public string LogicalPath { get; }
    public string Name { get; }
    public string FallbackLogicalPath { get; }
  }

  /// <summary>
  /// One component a writer reports. Type is VSS_CT_DATABASE,
  /// VSS_CT_FILEGROUP or empty for any other type.
  /// </summary>
  public sealed class CatalogueEntry {
    internal CatalogueEntry(object[] fields) {
      WriterId = (string)fields[0];
      LogicalPath = (string)fields[1];
      Name = (string)fields[2];
      Type = (string)fields[3];
      Selectable = (bool)fields[4];
    }

    public string WriterId { get; }
    public string LogicalPath { get; }
    public string Name { get; }
    public string Type { get; }
    public bool Selectable { get; }

    public override string ToString() =>
        $"{WriterId} {LogicalPath}\\{Name} {Type}{(Selectable ? " selectable" : "")}";
  }

  /// <summary>
  /// A phase of the snapshot failed. RawMessages are the texts the library
  /// queued, with their tokens; Message gives them in English, one a line.
  /// </summary>
  public sealed class SnapshotException : Exception {
    internal SnapshotException(IReadOnlyList<string> rawMessages)
        : base(rawMessages.Count == 0 ? "the snapshot failed without a message"
                                      : string.Join("\n", rawMessages.Select(Messages.Render))) {
      RawMessages = rawMessages;
    }

    public IReadOnlyList<string> RawMessages { get; }
  }
}
