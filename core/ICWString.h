#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/ICListItem.h"
#include "core/ICTextBuffer.h"

class ICString;
class ICStringList;
class ICWStringList;

// An owned UTF-16 string. An empty string holds no text; GetText() is never null. Like ICString
// it is a list item, and it carries path, file and initialisation-file helpers for strings that
// hold a path.
class ICWString : public ICListItem {
public:
    // Kinds of ShellFileOperation.
    static constexpr int kFileMove = 1;
    static constexpr int kFileCopy = 2;
    static constexpr int kFileDelete = 3;
    static constexpr int kFileRename = 4;
    // CreateFolder attributes that mean "leave the folder as created".
    static constexpr uint32_t kDefaultAttributes = 0xFFFFFFFF;
    static constexpr uint32_t kAttributeReadOnly = 0x00000001;

    ICWString() = default;
    ICWString(std::nullptr_t) {}      // NOLINT: null is the empty string
    ICWString(const char16_t* text);  // NOLINT: implicit, strings are built from literals
    ICWString(const char16_t* text, size_t length);
    explicit ICWString(std::u16string_view text) : ICWString(text.data(), text.size()) {}
    explicit ICWString(const char* text);  // converted from code page 932
    explicit ICWString(const ICString& text);
    explicit ICWString(int32_t value);   // "%d"
    explicit ICWString(uint32_t value);  // "%u"
    explicit ICWString(int64_t value);   // "%lld"
    explicit ICWString(uint64_t value);  // "%llu"
    explicit ICWString(double value);    // "%lg"
    ICWString(const ICWString& other);
    ICWString(ICWString&& other) noexcept;
    ICWString& operator=(const ICWString& other);
    ICWString& operator=(ICWString&& other) noexcept;
    ICWString& operator=(const char16_t* text);
    ~ICWString() override;

    // printf-style formatting of UTF-16 text; the result is never cut short. The conversions are
    // those of printf; %s, %ls and %c take UTF-16 (const char16_t*, char16_t), %hs and %S take
    // narrow code page 932 text, %hc a narrow character. Returns the text.
    const char16_t* Format(const char16_t* format, ...);
    const char16_t* FormatV(const char16_t* format, va_list arguments);

    // Replaces the text with a copy; null or empty text leaves the string empty.
    void Set(std::nullptr_t) { Empty(); }
    void Set(const char16_t* text);
    void Set(const char16_t* text, size_t length);
    void Set(const ICWString& other);
    void Set(const char* text);  // converted from code page 932
    void Set(const ICString& other);
    // Sets the text from UTF-8 (file names of this platform).
    void SetUtf8(std::string_view text);

    void Append(const char16_t* text);
    void Append(const char16_t* text, size_t length);
    void Append(const ICWString& other);
    void Append(char16_t character);

    const char16_t* GetText() const { return text.Text(); }
    int GetLength() const { return static_cast<int>(text.Length()); }
    bool IsEmpty() const { return text.Length() == 0; }
    std::u16string_view GetView() const { return {text.Text(), text.Length()}; }
    // n <= 0 empties; otherwise makes a zero-filled buffer of n characters plus terminator that
    // keeps the first min(n, length) characters.
    void SetLength(int n);
    // Makes the string empty, freeing its text.
    void Empty();
    // Writable access to the text buffer (GetCapacity() characters plus terminator).
    char16_t* GetBuffer();
    int GetCapacity() const { return static_cast<int>(text.Capacity()); }

    bool IsEqual(const char16_t* other) const;
    bool IsEqual(const ICWString& other) const;
    // Orders by UTF-16 units; an empty string sorts first. Returns -1, 0 or 1.
    int Compare(const char16_t* other) const;
    int Compare(const ICWString& other) const { return Compare(other.GetText()); }
    // The same ignoring letter case (ASCII, Latin-1, Greek, Cyrillic and full-width Latin).
    int CompareNoCase(const char16_t* other) const;
    int CompareNoCase(const ICWString& other) const { return CompareNoCase(other.GetText()); }

    // The index of the first occurrence of `needle` from the start, or -1.
    int Find(const char16_t* needle, bool ignoreCase = false) const;
    int Find(const ICWString& needle, bool ignoreCase = false) const {
        return Find(needle.GetText(), ignoreCase);
    }

    ICWString Left(int n) const;
    ICWString Mid(int from, int n = 0x7FFFFFFF) const;
    ICWString Right(int n) const;
    void Insert(int position, const char16_t* insertion);
    void TrimLeft();
    void TrimRight();
    void Trim();

    // strtol with base detection ("0x" hexadecimal, leading 0 octal), clamped to 32 bits.
    int32_t ToInt() const;

    // The code page 932 copy, kept until the text changes.
    const char* GetNarrow() const;
    // The text as UTF-8, the encoding of this platform's file names.
    std::string GetUtf8() const;

    // --- paths. A name may carry '\\' or '/' separators and a drive colon; this platform's own
    // separator is '/'.
    // The text after the last '\\'; if none, after the last '/'; if none, after the last ':';
    // else the whole text.
    ICWString GetFileName() const;
    // The text before that separator (a leading '/' and a drive colon are kept).
    ICWString GetFolder() const;
    bool HasTrailingSeparator() const;
    // Appends '/' unless the text is empty or ends with '/', '\\' or ':'.
    ICWString& AddSeparator();
    // Replaces the extension of the file name (from its last '.') with `extension`, which
    // carries its own dot.
    ICWString& ChangeExtension(const char16_t* extension);
    // The absolute path with "." and ".." resolved and symbolic links of the existing part
    // followed; the path need not exist. Empty when the text is empty or the result is longer
    // than 4096 characters.
    ICWString GetFullPath() const;
    bool Exists() const;
    bool IsFolder() const;
    // Creates the folder (one level). Attributes other than kDefaultAttributes are applied
    // afterwards (kAttributeReadOnly removes the write permissions). Returns 0 or a Windows
    // error number.
    uint32_t CreateFolder(uint32_t attributes = kDefaultAttributes) const;
    // Moves, copies, deletes or renames the file or folder the text names, without asking.
    // Moving or copying into an existing folder puts the item inside it; existing files are
    // replaced. Deleting removes folders with their contents. Returns 0 or a Windows error
    // number.
    uint32_t ShellFileOperation(int kind, const char16_t* to = nullptr) const;

    // --- initialisation-file helpers (ICWStringProfile.cpp)
    // The text is the path of an initialisation file, read and written with the private-profile
    // functions (platform/profile/PrivateProfile.h has the file rules). Sections, keys and values
    // are code page 932 in the narrow overloads and UTF-16 in the wide ones; the file keeps its
    // own encoding (a UTF-16 file with its byte-order mark, any other narrow) whichever is used.
    // The value of the key, or `defaultValue` (null is empty) when it is absent.
    ICWString GetProfileString(const char16_t* section, const char16_t* key,
                               const char16_t* defaultValue = nullptr) const;
    ICString GetProfileString(const char* section, const char* key,
                              const char* defaultValue = nullptr) const;
    // The value read as an integer ("0x" hexadecimal, optional sign); an absent key or an empty
    // value gives `defaultValue`.
    int32_t GetProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue) const;
    int32_t GetProfileInt(const char* section, const char* key, int32_t defaultValue) const;
    // Sets the key, creating section and key as needed; a null value deletes the key, a null key
    // the whole section. False when the file could not be written (it is then unchanged).
    bool WriteProfileString(const char16_t* section, const char16_t* key,
                            const char16_t* value) const;
    bool WriteProfileString(const char* section, const char* key, const char* value) const;
    // Replaces the contents of `names` with the section names in file order; returns the count.
    int32_t GetProfileSectionNames(ICWStringList& names) const;
    int32_t GetProfileSectionNames(ICStringList& names) const;
    // Replaces the contents of `lines` with the section's keys as "key=value" lines; returns the
    // count (0 for an absent section).
    int32_t GetProfileSection(const char16_t* section, ICWStringList& lines) const;
    int32_t GetProfileSection(const char* section, ICStringList& lines) const;
    // Replaces the contents of the section with the strings of `lines` (each "key=value"),
    // leaving the rest of the file as it is; an empty list leaves an empty section.
    bool WriteProfileSection(const char16_t* section, const ICWStringList& lines) const;
    bool WriteProfileSection(const char* section, const ICStringList& lines) const;
    // Makes a missing or empty file a UTF-16 file (byte-order mark only), so that later writes
    // store UTF-16; a file with contents keeps its encoding. False when it cannot be created.
    bool CreateUnicodeProfile() const;
    // --- end of initialisation-file helpers

    ICWString& operator+=(const char16_t* other);
    ICWString& operator+=(const ICWString& other);
    ICWString& operator+=(char16_t character);
    bool operator==(const ICWString& other) const { return IsEqual(other); }
    bool operator==(const char16_t* other) const { return IsEqual(other); }
    bool operator<(const ICWString& other) const { return Compare(other) < 0; }

private:
    void TextChanged() { narrowCopy.reset(); }
    // The position of the separator GetFileName cuts at, or -1.
    int FindNameSeparator() const;

    ICTextBuffer<char16_t> text;
    mutable std::unique_ptr<std::string> narrowCopy;
};

ICWString operator+(const ICWString& left, const ICWString& right);
ICWString operator+(const ICWString& left, const char16_t* right);
