using System.Collections.Generic;
using System.Text;

namespace Frostcap {
  /// <summary>
  /// The library's message texts in English, with the words the frostcap
  /// command uses: the table is generated from the command's own.
  /// </summary>
  public static partial class Messages {
    static readonly Dictionary<string, string> texts = new Dictionary<string, string>();

    // Runs after the field initialisers of every part, the generated Table's
    // among them.
    static Messages() {
      for (int i = 0; i < Table.GetLength(0); ++i) texts.Add(Table[i, 0], Table[i, 1]);
    }

    /// <summary>
    /// Every brace token the library queues, without braces, with its words.
    /// </summary>
    public static IReadOnlyDictionary<string, string> TokenTexts => texts;

    static bool IsSeverity(string token) => token == "FATAL_PREFIX" || token == "WARNING_PREFIX";

    /// <summary>
    /// The message with each known token replaced by its words; unknown tokens
    /// stay as they are. A severity followed directly by an error token is
    /// joined to it with ": ", so "{FATAL_PREFIX}{ERR_NO_VOLUMES}" reads
    /// "error: there is nothing to copy: ...".
    /// </summary>
    public static string Render(string message) {
      var output = new StringBuilder();
      bool afterSeverity = false;  // the last thing written was a severity word
      int position = 0;
      while (position < message.Length) {
        int open = message.IndexOf('{', position);
        int close = open < 0 ? -1 : message.IndexOf('}', open);
        string token = close < 0 ? null : message.Substring(open + 1, close - open - 1);
        string text;
        if (token == null || !texts.TryGetValue(token, out text)) {
          int end = open < 0 ? message.Length : open + 1;
          output.Append(message, position, end - position);
          afterSeverity = false;
          position = end;
          continue;
        }
        output.Append(message, position, open - position);
        if (afterSeverity && open == position && !IsSeverity(token)) output.Append(": ");
        output.Append(text);
        afterSeverity = IsSeverity(token);
        position = close + 1;
      }
      return output.ToString();
    }
  }
}
