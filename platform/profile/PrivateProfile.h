#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The private-profile functions: reading and writing initialisation (INI) files by section and
// key, with the rules of the Windows functions of the same names.
//
// Each function comes in a narrow form (sections, keys and values in code page 932) and a wide
// form (UTF-16). File names are file-system paths: UTF-8 in the narrow form, UTF-16 in the wide
// form (converted to UTF-8 to open the file).
//
// Files and encodings:
// - A file that begins with the UTF-16 LE byte-order mark (FF FE) is a UTF-16 file; any other
//   file is narrow CP932 text. Either form of the functions reads and writes either kind of file,
//   converting text as needed, and a write keeps the file's encoding (and its byte-order mark).
// - A file created by a write is narrow, as on Windows, whichever form wrote it. To have a UTF-16
//   file, create it first with CreateUnicodeProfileFile.
// - Lines may end with CR LF, LF or CR; lines written end with CR LF. A write changes only the
//   lines it must: every other line (other sections and keys, comments, blank lines, lines that
//   are not keys) keeps its bytes and its place. A write that changes nothing leaves the file
//   untouched.
// - A write replaces the file atomically: the new text goes to a temporary file in the same
//   folder, is flushed to the disk and renamed over the old file. When any step fails (a folder
//   without write permission, a full disk, a file that exists but cannot be read) the function
//   returns false and the file stays as it was.
// - A missing or unreadable file reads as empty: every look-up gives its default.
//
// Names and values:
// - Section and key names compare without regard to ASCII letter case and are trimmed of blanks;
//   the first matching section, and in it the first matching key, wins.
// - A value read is trimmed of blanks and loses one pair of enclosing quotes (both double or both
//   single). A default is returned with its trailing blanks removed.
// - A section, key or value to be written must not contain a line break, and a key must not
//   contain '='; such a write fails with false instead of writing text that would read back as
//   different keys or sections.
//
// Calls from several threads of the process are serialised, so concurrent writes to one file do
// not lose each other's keys.

// The value of `key` in `section`, or `defaultValue` (null counts as empty). A null section or
// key gives the default (use GetPrivateProfileSectionNames / GetPrivateProfileSection to list).
std::string GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    const char* fileName);
std::u16string GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                       const char16_t* defaultValue, const char16_t* fileName);

// The value read as an integer: blanks, an optional sign, then "0x" hexadecimal, "0o" octal,
// "0b" binary or decimal digits up to the first character that is not one (no digits give 0),
// wrapping at 32 bits. A missing key or an empty value gives `defaultValue`.
int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t defaultValue,
                             const char* fileName);
int32_t GetPrivateProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                             const char16_t* fileName);

// Sets `key` in `section` to `value`, creating the section (at the end of the file) and the key
// (after the section's last line) as needed. A null value deletes the key; a null key deletes
// the section with all its lines. Deleting what is not there succeeds without a write.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName);
bool WritePrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* value,
                               const char16_t* fileName);

// The names of all sections in file order.
std::vector<std::string> GetPrivateProfileSectionNames(const char* fileName);
std::vector<std::u16string> GetPrivateProfileSectionNames(const char16_t* fileName);

// The keys of `section` as "key=value" lines in file order (names and values trimmed, quotes
// kept; comments and lines without '=' left out). Empty when the section is absent.
std::vector<std::string> GetPrivateProfileSection(const char* section, const char* fileName);
std::vector<std::u16string> GetPrivateProfileSection(const char16_t* section,
                                                     const char16_t* fileName);

// Replaces the contents of `section` with `lines` (each normally "key=value"; empty lines are
// left out), keeping the section's place in the file; a missing section is appended. An empty
// list leaves the section header alone in the file. Other sections are not touched.
bool WritePrivateProfileSection(const char* section, const std::vector<std::string>& lines,
                                const char* fileName);
bool WritePrivateProfileSection(const char16_t* section, const std::vector<std::u16string>& lines,
                                const char16_t* fileName);

// Makes `fileName` a UTF-16 initialisation file: a missing or empty file becomes one holding only
// the byte-order mark, so that later writes store UTF-16 text. An existing non-empty file is left
// as it is (its encoding stays). Returns false when the file cannot be created.
bool CreateUnicodeProfileFile(const char* fileName);
bool CreateUnicodeProfileFile(const char16_t* fileName);
