#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

typedef std::wstring tstring;
typedef std::vector<tstring> tstring_array;

namespace tstrings {

enum CompareType { CaseSensitive = 0, IgnoreCase = 1 };
enum SplitType { AllTokens = 0, SkipEmpty = 1 };

// Code page conversions. A conversion the system refuses (for example invalid
// input) yields an empty string; disagreeing answers from the system raise.
std::string toMultiByte(const tstring& str, unsigned codePage);
tstring fromMultiByte(const std::string& str, unsigned codePage);

std::string toUtf8(const tstring& str);
std::string toUtf8(const std::string& acpStr);
tstring fromUtf8(const std::string& str);
std::string toACP(const tstring& str);
tstring fromACP(const std::string& str);
tstring toWide(const tstring& str);
tstring toWide(const std::string& utf8Str);

tstring format(const wchar_t* fmt, ...);

tstring toLower(const tstring& str);
bool equals(const tstring& a, const tstring& b, CompareType ct = CaseSensitive);
bool startsWith(const tstring& str, const tstring& prefix, CompareType ct = CaseSensitive);
bool endsWith(const tstring& str, const tstring& suffix, CompareType ct = CaseSensitive);

tstring_array split(const tstring& str, const tstring& delimiter, SplitType st = AllTokens);
void split(tstring_array& dst, const tstring& str, const tstring& delimiter,
           SplitType st = AllTokens);

tstring trim(const tstring& str, const tstring& chars = L" \t");
tstring replace(const tstring& str, const tstring& search, const tstring& replacement);

// The one way messages are assembled: a wide stream that takes narrow and wide
// text alike and hands back UTF-8 or wide text.
class MessageBuilder {
public:
    MessageBuilder() = default;
    MessageBuilder(const char* utf8);
    MessageBuilder(const std::string& utf8);
    MessageBuilder(const tstring& str);

    MessageBuilder(const MessageBuilder&) = delete;
    MessageBuilder& operator=(const MessageBuilder&) = delete;

    // Bytes are widened one by one, as the wide stream does; message literals
    // are ASCII so this only matters for foreign narrow texts.
    MessageBuilder& operator<<(const char* s) {
        // A null pointer would fail the stream and silently drop the rest of
        // the message.
        stream << (s ? s : "NULL");
        return *this;
    }
    MessageBuilder& operator<<(const std::string& utf8) {
        stream << fromUtf8(utf8);
        return *this;
    }
    MessageBuilder& operator<<(const wchar_t* s) {
        stream << (s ? s : L"NULL");
        return *this;
    }
    MessageBuilder& operator<<(wchar_t* s) { return *this << static_cast<const wchar_t*>(s); }
    MessageBuilder& operator<<(const tstring& s) {
        stream << s;
        return *this;
    }
    MessageBuilder& operator<<(char c) {
        stream << c;
        return *this;
    }
    MessageBuilder& operator<<(wchar_t c) {
        stream << c;
        return *this;
    }
    MessageBuilder& operator<<(bool v) {
        stream << v;
        return *this;
    }
    MessageBuilder& operator<<(short v) { return num(v); }
    MessageBuilder& operator<<(unsigned short v) { return num(v); }
    MessageBuilder& operator<<(int v) { return num(v); }
    MessageBuilder& operator<<(unsigned v) { return num(v); }
    MessageBuilder& operator<<(long v) { return num(v); }
    MessageBuilder& operator<<(unsigned long v) { return num(v); }
    MessageBuilder& operator<<(long long v) { return num(v); }
    MessageBuilder& operator<<(unsigned long long v) { return num(v); }
    MessageBuilder& operator<<(double v) { return num(v); }
    MessageBuilder& operator<<(const void* p) {
        stream << p;
        return *this;
    }

    std::string str() const { return toUtf8(stream.str()); }
    tstring tstr() const { return stream.str(); }

private:
    template <class T>
    MessageBuilder& num(T v) {
        stream << v;
        return *this;
    }

    std::wostringstream stream;
};

inline std::ostream& operator<<(std::ostream& os, const MessageBuilder& mb) {
    return os << mb.str();
}

}  // namespace tstrings
