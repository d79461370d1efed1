using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;

namespace Frostcap {
  /// <summary>
  /// An entry of a listing: its live path, its path inside the shadow copy
  /// (null when it lies on no copied volume) and whether it is a directory
  /// there.
  /// </summary>
  public sealed class ListedFile {
    public ListedFile(string path, string copyPath, bool isDirectory) {
      Path = path;
      CopyPath = copyPath;
      IsDirectory = isDirectory;
    }

    public string Path { get; }
    public string CopyPath { get; }
    public bool IsDirectory { get; }

    public override string ToString() => IsDirectory ? Path + @"\" : Path;
  }

  /// <summary>
  /// File listings a backup can use: the library names each entry by its
  /// live path and lists one directory level per descriptor, while a backup
  /// reads the copy and needs what lies below each directory.
  /// </summary>
  public static class Listing {
    /// <summary>
    /// Where livePath lies inside the shadow copy of the volume it lies on;
    /// null when it lies on none of volumes. mountPaths are the copies'
    /// device paths in the order of volumes. The longest volume name that is
    /// a prefix of the path wins, compared without regard to case and at a
    /// separator, so that a volume mounted in a folder of another (C:\Data\
    /// below C:\) takes the paths below that folder.
    /// </summary>
    public static string CopyPath(string livePath, IReadOnlyList<string> volumes, IReadOnlyList<string> mountPaths) {
      string bestRoot = null, bestMount = null;
      for (int i = 0; i < Math.Min(volumes.Count, mountPaths.Count); i++) {
        string root = WithSeparator(volumes[i]);
        if ((livePath + @"\").StartsWith(root, StringComparison.OrdinalIgnoreCase) &&
            (bestRoot == null || root.Length > bestRoot.Length)) {
          bestRoot = root;
          bestMount = mountPaths[i];
        }
      }
      if (bestRoot == null) return null;
      return WithSeparator(bestMount) + (livePath.Length > bestRoot.Length ? livePath.Substring(bestRoot.Length) : "");
    }

    static string WithSeparator(string path) => path.EndsWith(@"\", StringComparison.Ordinal) ? path : path + @"\";

    // The entries of files less those in excluded, each marked; with walk,
    // followed by what lies below each directory inside the copy. locate
    // turns a path inside the copy into one this process can open.
    internal static IReadOnlyList<ListedFile> Make(IEnumerable<string> files, IEnumerable<string> excluded,
                                                   IReadOnlyList<string> volumes, IReadOnlyList<string> mountPaths,
                                                   Func<string, string> locate, bool walk) {
      var skip = new HashSet<string>(excluded, StringComparer.OrdinalIgnoreCase);
      var listed = new List<ListedFile>();
      Action<string> visit = null;
      visit = path => {
        if (skip.Contains(path)) return;
        string inside = CopyPath(path, volumes, mountPaths);
        string local = inside != null ? locate(inside) : null;
        bool isDirectory = local != null && Directory.Exists(local);
        listed.Add(new ListedFile(path, inside, isDirectory));
        if (!walk || !isDirectory) return;
        foreach (string child in Directory.GetFileSystemEntries(local).Select(System.IO.Path.GetFileName)
                     .OrderBy(name => name, StringComparer.Ordinal))
          visit(path.TrimEnd('\\') + @"\" + child);
      };
      foreach (string path in files) visit(path);
      return listed;
    }
  }
}
