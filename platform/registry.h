// Registry values, read from the registry export <root>/etc/registry.reg.
//
// The file is an ordinary registry export ("Windows Registry Editor Version
// 5.00" or "REGEDIT4" first), UTF-8 with or without a byte-order mark, or
// UTF-16LE with one. Key and value names compare without regard to letter case.
// Stored bytes of a value:
//   "NAME"="text"          the text in UTF-16LE and a 16-bit zero
//   "NAME"=dword:00000013  4 bytes, little-endian
//   "NAME"=hex:41,00,...   those bytes (continuation lines ending in '\' allowed)
//   "NAME"=hex(2):41,00    those bytes; the type in brackets is not looked at
//   @=...                  the key's default value, asked for with the name ""
// A malformed line is skipped; it never stops the reader. A key line without
// its closing ']' ends the key before it: the values after it belong to no
// key until the next good key line. Later lines override earlier ones, and
// "NAME"=- and [-KEY] delete, as an import of the file would. Letter case is
// ignored for ASCII letters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

inline constexpr std::string_view kHkeyLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kRegistryFile = "/etc/registry.reg";  // below the system root

// Reads one value's stored bytes into buffer. *size holds the limit in bytes
// on entry and the stored size on success. Fails, leaving the buffer and *size
// untouched, when the file, the key or the value is missing, or when the
// stored size exceeds the limit. Sets the last error code on failure.
// Thread-safe: it reads the file anew at each call.
// Error codes: ENOENT (no file, key or value), ERANGE (larger than *size),
// EFBIG (a file over 64 MiB), EINVAL (a null buffer or size), or the errno
// of a file that cannot be read.
bool RegistryQueryValue(std::string_view hive, std::string_view keyPath, std::string_view valueName,
                        void* buffer, std::uint32_t* size);

// The same query on an export already in memory (the raw bytes of a registry
// file, byte-order mark included). Any bytes are safe to pass.
bool RegistryQueryValueInExport(const std::uint8_t* bytes, std::size_t length,
                                std::string_view hive, std::string_view keyPath,
                                std::string_view valueName, void* buffer, std::uint32_t* size);

}  // namespace platform
