#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "tstrings.h"

struct SourceLocation {
    const char* file;
    const char* function;
    int line;
};

// Caught by reference only: it is a second base of every located error.
class BmErrorBase {
public:
    virtual const char* bareMessage() const = 0;

protected:
    ~BmErrorBase() = default;
};

std::string sourceFileName(const char* file);
std::string locatedMessage(const std::exception& e, const SourceLocation& loc);
std::string joinMessages(const std::string& first, const std::string& second);

template <class T>
class BmError : public BmErrorBase, public T {
public:
    BmError(const T& value, const SourceLocation& loc)
        : T(value), msg(locatedMessage(value, loc)) {}

    const char* what() const noexcept override { return msg.c_str(); }
    const char* bareMessage() const override { return T::what(); }

private:
    std::string msg;
};

template <class T>
BmError<T> makeLocatedError(const T& value, const SourceLocation& loc) {
    return BmError<T>(value, loc);
}

BmError<std::runtime_error> makeLocatedError(const std::string& msg, const SourceLocation& loc);
BmError<std::runtime_error> makeLocatedError(const char* msg, const SourceLocation& loc);
BmError<std::runtime_error> makeLocatedError(const tstrings::MessageBuilder& msg,
                                             const SourceLocation& loc);

void logException(const SourceLocation& loc, const std::runtime_error& e);
void logUnknownException(const SourceLocation& loc);
std::string lastCrtErrorText();

namespace bm_detail {

// Cuts GCC's "__PRETTY_FUNCTION__" down to the qualified name at compile time:
// "void FileUtils::{anonymous}::createDir(const tstring&)" becomes
// "FileUtils::{anonymous}::createDir". Return type, parameters, qualifiers and
// the " [with T = ...]" tail of templates go.
template <class CharT, std::size_t N>
struct FunctionName {
    CharT value[N] = {};

    constexpr explicit FunctionName(const char (&pretty)[N]) {
        std::size_t end = N - 1;
        for (std::size_t i = 0; i + 6 < end; ++i) {
            if (pretty[i] == ' ' && pretty[i + 1] == '[' && pretty[i + 2] == 'w' &&
                pretty[i + 3] == 'i' && pretty[i + 4] == 't' && pretty[i + 5] == 'h') {
                end = i;
                break;
            }
        }
        // Step back over trailing qualifiers to the parameter list's ')'. A
        // function returning a function pointer nests its name in a group,
        // "R (* name(params) const)(more)": descend into it.
        std::size_t nameEnd = end;
        for (;;) {
            std::size_t close = end;
            while (close > 0 && pretty[close - 1] != ')' && pretty[close - 1] != '>') {
                --close;
            }
            if (close == 0 || pretty[close - 1] != ')') {
                break;
            }
            int depth = 0;
            std::size_t i = close;
            while (i > 0) {
                --i;
                if (pretty[i] == ')') {
                    ++depth;
                } else if (pretty[i] == '(' && --depth == 0) {
                    break;
                }
            }
            nameEnd = i;
            if (i == 0 || pretty[i - 1] != ')') {
                break;
            }
            end = i - 1;
        }
        std::size_t nameBegin = nameEnd;
        int depth = 0;
        while (nameBegin > 0) {
            const char c = pretty[nameBegin - 1];
            if (c == ')' || c == '>') {
                ++depth;
            } else if (c == '(' || c == '<') {
                --depth;
            } else if (c == ' ' && depth == 0) {
                break;
            }
            --nameBegin;
        }
        std::size_t out = 0;
        for (std::size_t i = nameBegin; i < nameEnd; ++i) {
            value[out++] = static_cast<CharT>(static_cast<unsigned char>(pretty[i]));
        }
        value[out] = 0;
    }
};

}  // namespace bm_detail

#define BM_CONCAT_(a, b) a##b
#define BM_WIDEN_(s) BM_CONCAT_(L, s)

// The qualified name of the enclosing function, narrow and wide, with static lifetime.
#define BM_FUNCTION_NAME                                                                      \
    ({                                                                                        \
        static constexpr ::bm_detail::FunctionName<char, sizeof(__PRETTY_FUNCTION__)> bm_fn_{ \
            __PRETTY_FUNCTION__};                                                             \
        bm_fn_.value;                                                                         \
    })
#define BM_WFUNCTION_NAME                                                                         \
    ({                                                                                            \
        static constexpr ::bm_detail::FunctionName<wchar_t, sizeof(__PRETTY_FUNCTION__)> bm_wfn_{ \
            __PRETTY_FUNCTION__};                                                                 \
        bm_wfn_.value;                                                                            \
    })
#define BM_WFILE BM_WIDEN_(__FILE__)

#define BM_SOURCE_LOCATION (::SourceLocation{__FILE__, BM_FUNCTION_NAME, __LINE__})

// Raises a located error: a text, a message builder expression or an exception value.
#define BM_THROW(value) throw ::makeLocatedError(value, BM_SOURCE_LOCATION)
#define BM_THROW_MSG(msg) \
    throw ::makeLocatedError(::tstrings::MessageBuilder() << msg, BM_SOURCE_LOCATION)

// The handlers of a guarded section: `try { ... } BM_GUARD_CATCH`. A runtime
// error and anything else are logged at ERROR and go no further.
#define BM_GUARD_CATCH                             \
    catch (const std::runtime_error& bm_e_) {      \
        ::logException(BM_SOURCE_LOCATION, bm_e_); \
    }                                              \
    catch (...) {                                  \
        ::logUnknownException(BM_SOURCE_LOCATION); \
    }
