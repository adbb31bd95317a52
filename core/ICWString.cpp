#include "core/ICWString.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/CodePage.h"
#include "core/ICString.h"
#include "core/ICWinError.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaximumFullPath = 4096;

size_t Length16(const char16_t* text) {
    return text != nullptr ? std::char_traits<char16_t>::length(text) : 0;
}

// Simple case folding for the scripts that appear in programme data with letter case.
char16_t FoldCase(char16_t c) {
    if (c < 0x80) {
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
    }
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 0x50);
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

int CompareText(const char16_t* a, const char16_t* b, bool ignoreCase) {
    for (;; ++a, ++b) {
        char16_t ca = ignoreCase ? FoldCase(*a) : *a;
        char16_t cb = ignoreCase ? FoldCase(*b) : *b;
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

// --- formatting of UTF-16 text

void AppendAscii(std::u16string& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        out.push_back(static_cast<unsigned char>(text[i]));
    }
}

void AppendPadded(std::u16string& out, std::u16string_view value, int width, bool leftAlign) {
    size_t padding =
        width > 0 && static_cast<size_t>(width) > value.size() ? width - value.size() : 0;
    if (!leftAlign) {
        out.append(padding, u' ');
    }
    out.append(value);
    if (leftAlign) {
        out.append(padding, u' ');
    }
}

// Formats one numeric conversion through the C library: `directive` is the complete conversion
// ("%-08.3lld"), `arguments` already positioned at its value.
template <typename T>
void AppendNumber(std::u16string& out, const std::string& directive, T value) {
    char buffer[512];
    int written = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (written < 0) {
        return;
    }
    if (static_cast<size_t>(written) < sizeof buffer) {
        AppendAscii(out, buffer, static_cast<size_t>(written));
        return;
    }
    std::string large(static_cast<size_t>(written) + 1, '\0');
    std::snprintf(large.data(), large.size(), directive.c_str(), value);
    AppendAscii(out, large.data(), static_cast<size_t>(written));
}

void FormatText(std::u16string& out, const char16_t* format, va_list arguments) {
    const char16_t* p = format;
    while (*p != 0) {
        if (*p != u'%') {
            const char16_t* run = p;
            while (*p != 0 && *p != u'%') {
                ++p;
            }
            out.append(run, static_cast<size_t>(p - run));
            continue;
        }
        const char16_t* conversionStart = p++;
        if (*p == u'%') {
            out.push_back(u'%');
            ++p;
            continue;
        }
        std::string directive = "%";
        bool leftAlign = false;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            leftAlign = leftAlign || *p == u'-';
            directive.push_back(static_cast<char>(*p++));
        }
        int width = -1;
        if (*p == u'*') {
            width = va_arg(arguments, int);
            if (width < 0) {
                leftAlign = true;
                width = -width;
            }
            if (leftAlign && directive.find('-') == std::string::npos) {
                directive.push_back('-');
            }
            directive += std::to_string(width);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                width = (width < 0 ? 0 : width) * 10 + (*p - u'0');
                if (width > 100000) {
                    width = 100000;  // a guard against absurd widths in bad formats
                }
                directive.push_back(static_cast<char>(*p++));
            }
        }
        int precision = -1;
        if (*p == u'.') {
            directive.push_back('.');
            ++p;
            if (*p == u'*') {
                precision = va_arg(arguments, int);
                ++p;
                if (precision >= 0) {
                    directive += std::to_string(precision);
                } else {
                    directive.pop_back();  // a negative precision counts as none
                }
            } else {
                precision = 0;
                while (*p >= u'0' && *p <= u'9') {
                    precision = precision * 10 + (*p - u'0');
                    if (precision > 100000) {
                        precision = 100000;
                    }
                    ++p;
                }
                directive += std::to_string(precision);
            }
        }
        // Length modifiers.
        enum class Size {
            Default,
            Char,
            Short,
            Long,
            LongLong,
            LongDouble,
            SizeT,
            IntMax,
            PtrDiff
        };
        Size size = Size::Default;
        if (*p == u'h') {
            ++p;
            size = Size::Short;
            if (*p == u'h') {
                ++p;
                size = Size::Char;
            }
        } else if (*p == u'l') {
            ++p;
            size = Size::Long;
            if (*p == u'l') {
                ++p;
                size = Size::LongLong;
            }
        } else if (*p == u'L') {
            ++p;
            size = Size::LongDouble;
        } else if (*p == u'z') {
            ++p;
            size = Size::SizeT;
        } else if (*p == u'j') {
            ++p;
            size = Size::IntMax;
        } else if (*p == u't') {
            ++p;
            size = Size::PtrDiff;
        }
        char16_t conversion = *p;
        if (conversion == 0) {
            // A cut-off conversion: keep it as text.
            out.append(conversionStart, static_cast<size_t>(p - conversionStart));
            break;
        }
        ++p;
        switch (conversion) {
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                bool isSigned = conversion == u'd' || conversion == u'i';
                directive += "ll";
                directive.push_back(static_cast<char>(conversion));
                long long value = 0;
                unsigned long long unsignedValue = 0;
                switch (size) {
                    case Size::LongLong:
                    case Size::IntMax:
                        value = va_arg(arguments, long long);
                        unsignedValue = static_cast<unsigned long long>(value);
                        break;
                    case Size::Long:
                    case Size::SizeT:
                    case Size::PtrDiff:
                        value = va_arg(arguments, long);
                        unsignedValue = static_cast<unsigned long>(value);
                        break;
                    default: {
                        int raw = va_arg(arguments, int);
                        value = raw;
                        unsignedValue = static_cast<unsigned>(raw);
                        if (size == Size::Short) {
                            value = static_cast<short>(raw);
                            unsignedValue = static_cast<unsigned short>(raw);
                        } else if (size == Size::Char) {
                            value = static_cast<signed char>(raw);
                            unsignedValue = static_cast<unsigned char>(raw);
                        }
                        break;
                    }
                }
                if (isSigned) {
                    AppendNumber(out, directive, value);
                } else {
                    AppendNumber(out, directive, unsignedValue);
                }
                break;
            }
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
            case u'a':
            case u'A':
                if (size == Size::LongDouble) {
                    directive.push_back('L');
                    directive.push_back(static_cast<char>(conversion));
                    AppendNumber(out, directive, va_arg(arguments, long double));
                } else {
                    directive.push_back(static_cast<char>(conversion));
                    AppendNumber(out, directive, va_arg(arguments, double));
                }
                break;
            case u'p':
                directive.push_back('p');
                AppendNumber(out, directive, va_arg(arguments, void*));
                break;
            case u'c':
            case u'C': {
                int raw = va_arg(arguments, int);
                char16_t character = static_cast<char16_t>(raw);
                if (size == Size::Short || conversion == u'C') {
                    char narrow = static_cast<char>(raw);
                    Cp932ToUtf16(&narrow, 1, &character);
                }
                AppendPadded(out, std::u16string_view(&character, 1), width, leftAlign);
                break;
            }
            case u's':
            case u'S': {
                std::u16string_view value;
                std::u16string converted;
                if (size == Size::Short || conversion == u'S') {
                    const char* narrow = va_arg(arguments, const char*);
                    if (narrow == nullptr) {
                        narrow = "(null)";
                    }
                    size_t length = std::strlen(narrow);
                    if (precision >= 0 && static_cast<size_t>(precision) < length) {
                        length = static_cast<size_t>(precision);
                    }
                    converted = Cp932ToUtf16(std::string_view(narrow, length));
                    value = converted;
                } else {
                    const char16_t* wide = va_arg(arguments, const char16_t*);
                    if (wide == nullptr) {
                        wide = u"(null)";
                    }
                    size_t length = 0;
                    while (wide[length] != 0 &&
                           (precision < 0 || length < static_cast<size_t>(precision))) {
                        ++length;
                    }
                    value = std::u16string_view(wide, length);
                }
                AppendPadded(out, value, width, leftAlign);
                break;
            }
            case u'n':
                // Writing through the argument list is refused; the pointer is skipped.
                (void)va_arg(arguments, void*);
                break;
            default:
                // An unknown conversion is kept as text.
                out.append(conversionStart, static_cast<size_t>(p - conversionStart));
                break;
        }
    }
}

// --- files

fs::path ToPath(const ICWString& text) {
    return fs::path(text.GetUtf8());
}

uint32_t WinError(const std::error_code& error) {
    return error ? ICWinErrorFromErrno(error.value()) : kErrorSuccess;
}

// Where a move or copy of `source` to `to` lands: inside `to` when that is an existing folder.
fs::path Destination(const fs::path& source, const fs::path& to) {
    std::error_code error;
    if (fs::is_directory(to, error)) {
        return to / source.filename();
    }
    return to;
}

uint32_t CopyItem(const fs::path& source, const fs::path& destination) {
    std::error_code error;
    if (fs::equivalent(source, destination, error)) {
        return kErrorInvalidParameter;
    }
    error.clear();
    if (fs::is_directory(source, error)) {
        fs::copy(source, destination,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing |
                     fs::copy_options::copy_symlinks,
                 error);
    } else {
        fs::copy_file(source, destination, fs::copy_options::overwrite_existing, error);
    }
    return WinError(error);
}

}  // namespace

// --- construction and assignment

ICWString::ICWString(const char16_t* text) {
    Set(text);
}

ICWString::ICWString(const char16_t* text, size_t length) {
    Set(text, length);
}

ICWString::ICWString(const char* text) {
    Set(text);
}

ICWString::ICWString(const ICString& text) {
    Set(text);
}

ICWString::ICWString(int32_t value) {
    Set(ICString(value).GetText());
}

ICWString::ICWString(uint32_t value) {
    Set(ICString(value).GetText());
}

ICWString::ICWString(int64_t value) {
    Set(ICString(value).GetText());
}

ICWString::ICWString(uint64_t value) {
    Set(ICString(value).GetText());
}

ICWString::ICWString(double value) {
    Set(ICString(value).GetText());
}

ICWString::ICWString(const ICWString& other) : ICListItem(other), text(other.text) {}

ICWString::ICWString(ICWString&& other) noexcept : ICListItem(other), text(std::move(other.text)) {
    other.TextChanged();
}

ICWString& ICWString::operator=(const ICWString& other) {
    if (this != &other) {
        text = other.text;
        TextChanged();
    }
    return *this;
}

ICWString& ICWString::operator=(ICWString&& other) noexcept {
    if (this != &other) {
        text = std::move(other.text);
        TextChanged();
        other.TextChanged();
    }
    return *this;
}

ICWString& ICWString::operator=(const char16_t* other) {
    Set(other);
    return *this;
}

ICWString::~ICWString() = default;

const char16_t* ICWString::Format(const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatV(format, arguments);
    va_end(arguments);
    return GetText();
}

const char16_t* ICWString::FormatV(const char16_t* format, va_list arguments) {
    if (format == nullptr) {
        Empty();
        return GetText();
    }
    // The text grows as it is produced, so it is never cut short.
    std::u16string result;
    result.reserve(1024);
    va_list copy;
    va_copy(copy, arguments);
    FormatText(result, format, copy);
    va_end(copy);
    Set(result.data(), result.size());
    return GetText();
}

void ICWString::Set(const char16_t* other) {
    Set(other, Length16(other));
}

void ICWString::Set(const char16_t* other, size_t length) {
    text.Assign(other, length);
    TextChanged();
}

void ICWString::Set(const ICWString& other) {
    if (this != &other) {
        text = other.text;
        TextChanged();
    }
}

void ICWString::Set(const char* other) {
    size_t length = other != nullptr ? std::strlen(other) : 0;
    if (length == 0) {
        Empty();
        return;
    }
    text.Clear();
    text.Reserve(length, false);
    size_t units = Cp932ToUtf16(other, length, text.Buffer());
    text.Buffer()[units] = 0;
    TextChanged();
}

void ICWString::Set(const ICString& other) {
    Set(other.GetText());
}

void ICWString::SetUtf8(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(utf8);
    Set(wide.data(), wide.size());
}

void ICWString::Append(const char16_t* other) {
    Append(other, Length16(other));
}

void ICWString::Append(const char16_t* other, size_t length) {
    text.Append(other, length);
    TextChanged();
}

void ICWString::Append(const ICWString& other) {
    Append(other.GetText(), other.text.Length());
}

void ICWString::Append(char16_t character) {
    Append(&character, 1);
}

void ICWString::Empty() {
    text.Clear();
    TextChanged();
}

void ICWString::SetLength(int n) {
    text.SetLength(n);
    TextChanged();
}

char16_t* ICWString::GetBuffer() {
    TextChanged();
    return text.Buffer();
}

bool ICWString::IsEqual(const char16_t* other) const {
    return GetView() == std::u16string_view(other != nullptr ? other : u"");
}

bool ICWString::IsEqual(const ICWString& other) const {
    return GetView() == other.GetView();
}

int ICWString::Compare(const char16_t* other) const {
    return CompareText(GetText(), other != nullptr ? other : u"", false);
}

int ICWString::CompareNoCase(const char16_t* other) const {
    return CompareText(GetText(), other != nullptr ? other : u"", true);
}

int ICWString::Find(const char16_t* needle, bool ignoreCase) const {
    std::u16string_view haystack = GetView();
    std::u16string_view wanted(needle != nullptr ? needle : u"");
    if (!ignoreCase) {
        size_t found = haystack.find(wanted);
        return found == std::u16string_view::npos ? -1 : static_cast<int>(found);
    }
    if (wanted.size() > haystack.size()) {
        return -1;
    }
    for (size_t position = 0; position + wanted.size() <= haystack.size(); ++position) {
        size_t i = 0;
        while (i < wanted.size() && FoldCase(haystack[position + i]) == FoldCase(wanted[i])) {
            ++i;
        }
        if (i == wanted.size()) {
            return static_cast<int>(position);
        }
    }
    return -1;
}

ICWString ICWString::Left(int n) const {
    return Mid(0, n);
}

ICWString ICWString::Mid(int from, int n) const {
    int length = GetLength();
    if (from < 0) {
        from = 0;
    }
    if (from >= length || n <= 0) {
        return ICWString();
    }
    if (n > length - from) {
        n = length - from;
    }
    return ICWString(GetText() + from, static_cast<size_t>(n));
}

ICWString ICWString::Right(int n) const {
    int length = GetLength();
    if (n > length) {
        n = length;
    }
    return Mid(length - n, n);
}

void ICWString::Insert(int position, const char16_t* insertion) {
    text.Insert(position < 0 ? 0 : static_cast<size_t>(position), insertion, Length16(insertion));
    TextChanged();
}

void ICWString::TrimLeft() {
    const char16_t* p = GetText();
    size_t count = 0;
    while (p[count] == u' ') {
        ++count;
    }
    if (count > 0) {
        text.Erase(0, count);
        TextChanged();
    }
}

void ICWString::TrimRight() {
    size_t length = text.Length();
    const char16_t* p = GetText();
    size_t kept = length;
    while (kept > 0 && p[kept - 1] == u' ') {
        --kept;
    }
    if (kept < length) {
        text.Erase(kept, length - kept);
        TextChanged();
    }
}

void ICWString::Trim() {
    TrimRight();
    TrimLeft();
}

int32_t ICWString::ToInt() const {
    // Only ASCII can belong to a number: the text up to the first other character is read.
    std::string ascii;
    for (char16_t c : GetView()) {
        if (c >= 0x80) {
            break;
        }
        ascii.push_back(static_cast<char>(c));
    }
    return ICString(ascii.c_str()).ToInt();
}

const char* ICWString::GetNarrow() const {
    if (!narrowCopy) {
        narrowCopy = std::make_unique<std::string>(Utf16ToCp932(GetView()));
    }
    return narrowCopy->c_str();
}

std::string ICWString::GetUtf8() const {
    return Utf16ToUtf8(GetView());
}

// --- paths

int ICWString::FindNameSeparator() const {
    std::u16string_view view = GetView();
    for (char16_t separator : {u'\\', u'/', u':'}) {
        size_t found = view.rfind(separator);
        if (found != std::u16string_view::npos) {
            return static_cast<int>(found);
        }
    }
    return -1;
}

ICWString ICWString::GetFileName() const {
    int separator = FindNameSeparator();
    return separator < 0 ? *this : Mid(separator + 1);
}

ICWString ICWString::GetFolder() const {
    int separator = FindNameSeparator();
    if (separator < 0) {
        return ICWString();
    }
    // The root "/" and a drive "C:" are folders themselves: keep the separator there.
    if (separator == 0 || GetText()[separator] == u':') {
        return Left(separator + 1);
    }
    return Left(separator);
}

bool ICWString::HasTrailingSeparator() const {
    std::u16string_view view = GetView();
    return !view.empty() && (view.back() == u'/' || view.back() == u'\\');
}

ICWString& ICWString::AddSeparator() {
    std::u16string_view view = GetView();
    if (!view.empty() && view.back() != u'/' && view.back() != u'\\' && view.back() != u':') {
        Append(u'/');
    }
    return *this;
}

ICWString& ICWString::ChangeExtension(const char16_t* extension) {
    // Only a dot of the file name itself starts an extension, not one of a folder.
    int nameStart = FindNameSeparator() + 1;
    size_t dot = GetView().rfind(u'.');
    if (dot != std::u16string_view::npos && static_cast<int>(dot) >= nameStart) {
        text.Erase(dot, text.Length() - dot);
    }
    Append(extension);
    return *this;
}

ICWString ICWString::GetFullPath() const {
    if (IsEmpty()) {
        return ICWString();
    }
    std::error_code error;
    fs::path absolute = fs::absolute(ToPath(*this), error);
    if (error) {
        return ICWString();
    }
    fs::path full = fs::weakly_canonical(absolute, error);
    if (error) {
        full = absolute.lexically_normal();
    }
    ICWString result;
    result.SetUtf8(full.native());
    if (static_cast<size_t>(result.GetLength()) > kMaximumFullPath) {
        return ICWString();
    }
    return result;
}

bool ICWString::Exists() const {
    if (IsEmpty()) {
        return false;
    }
    std::error_code error;
    return fs::exists(fs::symlink_status(ToPath(*this), error));
}

bool ICWString::IsFolder() const {
    if (IsEmpty()) {
        return false;
    }
    std::error_code error;
    return fs::is_directory(ToPath(*this), error);
}

uint32_t ICWString::CreateFolder(uint32_t attributes) const {
    if (IsEmpty()) {
        return kErrorPathNotFound;
    }
    std::string path = GetUtf8();
    if (::mkdir(path.c_str(), 0777) != 0) {
        int err = errno;
        if (err == EEXIST) {
            return kErrorAlreadyExists;
        }
        return err == ENOENT ? kErrorPathNotFound : ICWinErrorFromErrno(err);
    }
    if (attributes != kDefaultAttributes && (attributes & kAttributeReadOnly) != 0) {
        struct stat info;
        if (::stat(path.c_str(), &info) == 0) {
            ::chmod(path.c_str(), info.st_mode & 07555);
        }
    }
    return 0;
}

uint32_t ICWString::ShellFileOperation(int kind, const char16_t* to) const {
    if (IsEmpty()) {
        return kErrorInvalidParameter;
    }
    fs::path source = ToPath(*this);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(source, error))) {
        return kErrorFileNotFound;
    }
    if (kind == kFileDelete) {
        fs::remove_all(source, error);
        return WinError(error);
    }
    if (to == nullptr || *to == 0) {
        return kErrorInvalidParameter;
    }
    fs::path target = ToPath(ICWString(to));
    switch (kind) {
        case kFileRename: {
            // A rename never replaces another file.
            if (fs::exists(fs::symlink_status(target, error)) &&
                !fs::equivalent(source, target, error)) {
                return kErrorAlreadyExists;
            }
            fs::rename(source, target, error);
            return WinError(error);
        }
        case kFileMove: {
            fs::path destination = Destination(source, target);
            fs::rename(source, destination, error);
            if (error.value() == EXDEV) {
                // Another file system: copy, then remove the original.
                uint32_t copied = CopyItem(source, destination);
                if (copied != 0) {
                    return copied;
                }
                error.clear();
                fs::remove_all(source, error);
            }
            return WinError(error);
        }
        case kFileCopy:
            return CopyItem(source, Destination(source, target));
        default:
            return kErrorInvalidParameter;
    }
}

// --- operators

ICWString& ICWString::operator+=(const char16_t* other) {
    Append(other);
    return *this;
}

ICWString& ICWString::operator+=(const ICWString& other) {
    Append(other);
    return *this;
}

ICWString& ICWString::operator+=(char16_t character) {
    Append(character);
    return *this;
}

ICWString operator+(const ICWString& left, const ICWString& right) {
    ICWString result(left);
    result.Append(right);
    return result;
}

ICWString operator+(const ICWString& left, const char16_t* right) {
    ICWString result(left);
    result.Append(right);
    return result;
}
