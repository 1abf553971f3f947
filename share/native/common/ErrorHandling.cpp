#include "ErrorHandling.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <sstream>

#include "Log.h"

std::string sourceFileName(const char* file) {
    const char* base = file;
    for (const char* p = file; *p; ++p) {
        if (*p == '\\' || *p == '/') {
            base = p + 1;
        }
    }
    return base;
}

std::string locatedMessage(const std::exception& e, const SourceLocation& loc) {
    std::ostringstream os;
    os << sourceFileName(loc.file) << "(" << loc.line << ") at " << loc.function
       << "(): " << e.what();
    return os.str();
}

std::string joinMessages(const std::string& first, const std::string& second) {
    auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };

    std::ostringstream os;
    os.exceptions(std::ios::failbit | std::ios::badbit);

    size_t firstEnd = first.size();
    while (firstEnd > 0 && isSpace(first[firstEnd - 1])) {
        --firstEnd;
    }
    os.write(first.data(), static_cast<std::streamsize>(firstEnd));

    size_t delimiterLength = 0;
    if (firstEnd > 0) {
        // memchr rather than strchr: a NUL byte must not count as punctuation.
        if (std::memchr(";.,:!?", first[firstEnd - 1], 6) == nullptr) {
            os << ". ";
            delimiterLength = 2;
        } else {
            os << " ";
            delimiterLength = 1;
        }
    }

    size_t secondBegin = 0;
    size_t secondEnd = second.size();
    while (secondBegin < secondEnd && isSpace(second[secondBegin])) {
        ++secondBegin;
    }
    while (secondEnd > secondBegin && isSpace(second[secondEnd - 1])) {
        --secondEnd;
    }
    os.write(second.data() + secondBegin, static_cast<std::streamsize>(secondEnd - secondBegin));

    std::string result = os.str();
    if (secondBegin == secondEnd) {
        result.resize(result.size() - delimiterLength);
    }
    return result;
}

BmError<std::runtime_error> makeLocatedError(const std::string& msg, const SourceLocation& loc) {
    return BmError<std::runtime_error>(std::runtime_error(msg), loc);
}

BmError<std::runtime_error> makeLocatedError(const char* msg, const SourceLocation& loc) {
    return BmError<std::runtime_error>(std::runtime_error(msg), loc);
}

BmError<std::runtime_error> makeLocatedError(const tstrings::MessageBuilder& msg,
                                             const SourceLocation& loc) {
    return BmError<std::runtime_error>(std::runtime_error(msg.str()), loc);
}

namespace {

void logErrorRecord(const SourceLocation& loc, const tstrings::MessageBuilder& msg) {
    const tstring file = tstrings::fromUtf8(sourceFileName(loc.file));
    const tstring function = tstrings::fromUtf8(loc.function);
    Logger::instance().log(LogLevel::Error, file.c_str(), loc.line, function.c_str(), msg);
}

}  // namespace

void logException(const SourceLocation& loc, const std::runtime_error& e) {
    tstrings::MessageBuilder msg;
    // Error texts are UTF-8: decode them rather than widening byte by byte, so
    // that a non-ASCII path in a message reaches the log intact. A text that is
    // not UTF-8 (from code outside this program) is widened byte by byte
    // rather than lost.
    const char* what = e.what();
    const tstring decoded = tstrings::fromUtf8(what);
    msg << "Exception with message '";
    if (decoded.empty() && *what) {
        msg << what;
    } else {
        msg << decoded;
    }
    msg << "' caught";
    logErrorRecord(loc, msg);
}

void logUnknownException(const SourceLocation& loc) {
    logErrorRecord(loc, tstrings::MessageBuilder("Unknown exception caught"));
}

std::string lastCrtErrorText() {
    wchar_t buffer[2048] = {};
    if (_wcserror_s(buffer, 2048, errno) != 0) {
        return std::string();
    }
    return (tstrings::MessageBuilder() << buffer).str();
}
