#include "platform/posix/system_message_table.h"

#include <cstddef>

namespace frostcap::platform {
namespace {

struct SystemMessage {
  std::uint32_t code;
  const char16_t* text;
};

// Win32 error codes. Their HRESULT forms are not listed: the lookup maps them
// back onto these rows, as the system does.
constexpr SystemMessage kWin32Messages[] = {
    // ERROR_SUCCESS
    {0, u"The operation finished without error.\r\n"},
    // ERROR_INVALID_FUNCTION
    {1, u"The requested function is not valid here.\r\n"},
    // ERROR_FILE_NOT_FOUND
    {2, u"No file exists at the given path.\r\n"},
    // ERROR_PATH_NOT_FOUND
    {3, u"The path leads through a folder that does not exist.\r\n"},
    // ERROR_TOO_MANY_OPEN_FILES
    {4, u"Too many files are open already to open another one.\r\n"},
    // ERROR_ACCESS_DENIED
    {5, u"Permission to do this was refused.\r\n"},
    // ERROR_INVALID_HANDLE
    {6, u"The handle passed does not refer to an open object.\r\n"},
    // ERROR_NOT_ENOUGH_MEMORY
    {8, u"Too little memory is free to carry out the request.\r\n"},
    // ERROR_INVALID_DATA
    {13, u"The supplied data is malformed or out of range.\r\n"},
    // ERROR_OUTOFMEMORY
    {14, u"The system ran out of memory before the work could finish.\r\n"},
    // ERROR_INVALID_DRIVE
    {15, u"No drive answers to the given letter.\r\n"},
    // ERROR_NOT_READY
    {21, u"The device is not ready for use yet.\r\n"},
    // ERROR_SHARING_VIOLATION
    {32, u"Another process holds the file open in a way that forbids this access.\r\n"},
    // ERROR_LOCK_VIOLATION
    {33, u"Another process has locked a part of the file.\r\n"},
    // ERROR_BAD_NETPATH
    {53, u"No network location answers to the given path.\r\n"},
    // ERROR_BAD_NET_NAME
    {67, u"The named network share does not exist.\r\n"},
    // ERROR_FILE_EXISTS
    {80, u"A file of this name is already present.\r\n"},
    // ERROR_INVALID_PARAMETER
    {87, u"One of the arguments passed is not acceptable.\r\n"},
    // ERROR_OPEN_FAILED
    {110, u"The file or device could not be opened.\r\n"},
    // ERROR_BUFFER_OVERFLOW
    {111, u"The file name does not fit in the space provided for it.\r\n"},
    // ERROR_DISK_FULL
    {112, u"The disk has no free space left.\r\n"},
    // ERROR_INSUFFICIENT_BUFFER
    {122, u"The buffer passed is too small for the data to be returned.\r\n"},
    // ERROR_INVALID_NAME
    {123, u"The name of the file, folder or volume has an invalid form.\r\n"},
    // ERROR_BAD_PATHNAME
    {161, u"The path given is not in a valid form.\r\n"},
    // ERROR_ALREADY_EXISTS
    {183, u"Something of this name exists already, so it cannot be created.\r\n"},
    // ERROR_BAD_EXE_FORMAT. Kept with its insert sequence: callers ask for the text
    // with inserts ignored, so the placeholder reaches them as it stands.
    {193, u"%1 is not a program that this system is able to start.\r\n"},
    // ERROR_FILENAME_EXCED_RANGE
    {206, u"The file name or its extension is longer than allowed.\r\n"},
    // ERROR_DIRECTORY
    {267, u"The name given does not refer to a folder.\r\n"},
    // ERROR_NOT_FOUND
    {1168, u"The requested item could not be located.\r\n"},
    // ERROR_CANCELLED
    {1223, u"The operation was stopped at the user's request.\r\n"},
    // ERROR_NO_SYSTEM_RESOURCES
    {1450, u"The system lacks the resources needed to finish the request.\r\n"},
    // RPC_S_SERVER_UNAVAILABLE
    {1722, u"No remote procedure call server could be reached.\r\n"},
    // RPC_S_CALL_FAILED
    {1726, u"A remote procedure call was made but did not succeed.\r\n"},
};

// HRESULTs of the component object model and its remote calls.
constexpr SystemMessage kComMessages[] = {
    // E_NOTIMPL
    {0x80004001, u"The called method has no implementation.\r\n"},
    // E_NOINTERFACE
    {0x80004002, u"The object does not offer the interface asked for.\r\n"},
    // E_POINTER
    {0x80004003, u"A pointer passed as an argument is not valid.\r\n"},
    // E_ABORT
    {0x80004004, u"The operation was abandoned before it finished.\r\n"},
    // E_FAIL
    {0x80004005, u"The operation failed for no more specific reason.\r\n"},
    // E_UNEXPECTED
    {0x8000FFFF, u"Something went wrong that the component did not anticipate.\r\n"},
    // RPC_E_SERVERFAULT
    {0x80010105, u"An exception occurred in the server while it handled the call.\r\n"},
    // RPC_E_CHANGED_MODE
    {0x80010106,
     u"The thread already uses another concurrency model, which cannot be changed once "
     u"chosen.\r\n"},
    // RPC_E_DISCONNECTED
    {0x80010108, u"The connection to the called object has been severed.\r\n"},
    // RPC_E_TIMEOUT
    {0x8001011F, u"The call did not complete within the time allowed.\r\n"},
    // REGDB_E_CLASSNOTREG
    {0x80040154, u"No component is registered for the requested class.\r\n"},
    // CO_E_NOTINITIALIZED
    {0x800401F0, u"The component object library has not been initialised on this thread.\r\n"},
    // CO_E_CLASSSTRING
    {0x800401F3, u"The text given is not a valid class identifier.\r\n"},
};

constexpr std::uint32_t kWin32FacilityFailure = 0x8007;

template <std::size_t N>
const char16_t* find(const SystemMessage (&table)[N], std::uint32_t code) noexcept {
  for (const SystemMessage& row : table) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

}  // namespace

const char16_t* lookupSystemMessage(std::uint32_t code) noexcept {
  // A Win32 error wrapped as an HRESULT reads the same as the bare error.
  if ((code >> 16) == kWin32FacilityFailure) return find(kWin32Messages, code & 0xFFFF);
  if (const char16_t* text = find(kWin32Messages, code)) return text;
  return find(kComMessages, code);
}

}  // namespace frostcap::platform
