#include "WinTool.h"

#include "ErrorHandling.h"
#include "WinErrorHandling.h"

namespace WinTool {

tstring wide(const std::string& utf8) {
    return tstrings::fromUtf8(utf8);
}

std::string utf8(const tstring& text) {
    return tstrings::toUtf8(text);
}

std::string describe(DWORD error) {
    return utf8(tstrings::trim(describeMessageId(error, nullptr), L" \t\r\n."));
}

std::string bareMessage(const std::exception& e) {
    const auto* located = dynamic_cast<const BmErrorBase*>(&e);
    return located ? located->bareMessage() : e.what();
}

}  // namespace WinTool
