using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;
using System.Text.RegularExpressions;

namespace Frostcap {
  /// <summary>
  /// The kind of condition a status stands for, from the classification
  /// table; Other for a status the table does not list.
  /// </summary>
  public enum ErrorKind { Other, AccessDenied, Busy, WriterFailure, UnsupportedVolume, InvalidArgument }

  // The classification table, generated from bindings/status_classes.inc
  // into StatusClasses.g.cs.
  static partial class StatusClasses {
    internal struct Class {
      internal readonly int Status;
      internal readonly string Name;
      internal readonly ErrorKind Kind;
      internal readonly bool Retryable;

      internal Class(int status, string name, ErrorKind kind, bool retryable) {
        Status = status;
        Name = name;
        Kind = kind;
        Retryable = retryable;
      }
    }

    internal struct TokenStatus {
      internal readonly string Token;
      internal readonly int Status;

      internal TokenStatus(string token, int status) {
        Token = token;
        Status = status;
      }
    }

    internal static Class? Find(int? status) {
      foreach (var entry in Table) {
        if (entry.Status == status) return entry;
      }
      return null;
    }

    // A failed call in a message: "label: 0x...: description", with the
    // writer's name in parentheses after a writer's label, or the status
    // alone in the parentheses of a detail.
    static readonly Regex FailedCall =
        new Regex(@"(?:^|\()(?:([^(){}]*?)(?:\(([^()]*)\))?: )?0x([0-9a-fA-F]{8})(?::|\)|$)");
    // A component of a writer that failed in part.
    static readonly Regex FailedComponent = new Regex(@"^\{ERR_COMPONENT_[A-Z]+\}: \(([^()]*)\)");
    static readonly Regex BraceToken = new Regex(@"\{([A-Z_]+)\}");

    // The first failed call outside the component messages, or the status a
    // token stands for, and the first component named.
    internal static void Parse(IEnumerable<string> messages, out int? status, out string label,
                               out string writer, out string component) {
      status = null;
      label = writer = component = null;
      foreach (string message in messages) {
        Match named = FailedComponent.Match(message);
        if (named.Success) {
          component = component ?? named.Groups[1].Value;
          continue;
        }
        if (status.HasValue) continue;
        Match call = FailedCall.Match(message);
        if (call.Success) {
          label = call.Groups[1].Value == "" ? null : call.Groups[1].Value;
          writer = call.Groups[2].Success ? call.Groups[2].Value : null;
          status = unchecked((int)uint.Parse(call.Groups[3].Value, NumberStyles.HexNumber, CultureInfo.InvariantCulture));
          continue;
        }
        foreach (Match token in BraceToken.Matches(message)) {
          foreach (var entry in TokenStatuses) {
            if (!status.HasValue && entry.Token == token.Groups[1].Value) status = entry.Status;
          }
        }
      }
    }
  }

  /// <summary>
  /// A phase of the snapshot failed. RawMessages are the texts the library
  /// queued, with their tokens; Message gives them in English, one a line.
  /// Status (also HResult; E_FAIL when null) is the failure's status code,
  /// Label the call that failed, WriterName and ComponentName the writer and
  /// component it concerns (null when not known). Kind and Retryable come
  /// from the classification table; a status a writer reported that the
  /// table does not list is a WriterFailure. The conditions a program handles
  /// apart have their own types: AccessDeniedException,
  /// ServiceBusyException, WriterFailureException and
  /// UnsupportedVolumeException.
  /// </summary>
  public class SnapshotException : Exception {
    const int EFail = unchecked((int)0x80004005);

    internal SnapshotException(IReadOnlyList<string> rawMessages, int? status, string label,
                               string writer, string component)
        : base(rawMessages.Count == 0 ? "the snapshot failed without a message"
                                      : string.Join("\n", rawMessages.Select(Messages.Render))) {
      RawMessages = rawMessages;
      Status = status;
      Label = label;
      WriterName = writer;
      ComponentName = component;
      HResult = status ?? EFail;
      var entry = StatusClasses.Find(status);
      StatusName = entry?.Name;
      Kind = entry?.Kind ?? (writer != null ? ErrorKind.WriterFailure : ErrorKind.Other);
      Retryable = entry?.Retryable ?? false;
    }

    internal static SnapshotException FromMessages(IReadOnlyList<string> rawMessages) {
      int? status;
      string label, writer, component;
      StatusClasses.Parse(rawMessages, out status, out label, out writer, out component);
      var error = new SnapshotException(rawMessages, status, label, writer, component);
      switch (error.Kind) {
        case ErrorKind.AccessDenied: return new AccessDeniedException(error);
        case ErrorKind.Busy: return new ServiceBusyException(error);
        case ErrorKind.WriterFailure: return new WriterFailureException(error);
        case ErrorKind.UnsupportedVolume: return new UnsupportedVolumeException(error);
        default: return error;
      }
    }

    internal SnapshotException(SnapshotException parsed)
        : this(parsed.RawMessages, parsed.Status, parsed.Label, parsed.WriterName, parsed.ComponentName) { }

    public IReadOnlyList<string> RawMessages { get; }
    public int? Status { get; }
    /// <summary>The status's symbolic name when the table knows it.</summary>
    public string StatusName { get; }
    public string Label { get; }
    public string WriterName { get; }
    public string ComponentName { get; }
    public ErrorKind Kind { get; }
    /// <summary>Whether taking the snapshot again later may succeed.</summary>
    public bool Retryable { get; }
  }

  /// <summary>The account may not take a backup: run as an administrator or a backup operator.</summary>
  public sealed class AccessDeniedException : SnapshotException {
    internal AccessDeniedException(SnapshotException parsed) : base(parsed) { }
  }

  /// <summary>The service or a provider is busy with something else; Retryable says whether to try later.</summary>
  public sealed class ServiceBusyException : SnapshotException {
    internal ServiceBusyException(SnapshotException parsed) : base(parsed) { }
  }

  /// <summary>A writer failed; WriterName names it, ComponentName its failed component if any.</summary>
  public sealed class WriterFailureException : SnapshotException {
    internal WriterFailureException(SnapshotException parsed) : base(parsed) { }
  }

  /// <summary>Shadow copies cannot be made of a volume given.</summary>
  public sealed class UnsupportedVolumeException : SnapshotException {
    internal UnsupportedVolumeException(SnapshotException parsed) : base(parsed) { }
  }
}
