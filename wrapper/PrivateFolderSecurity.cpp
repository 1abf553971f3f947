#include "PrivateFolderSecurity.h"

#include <sddl.h>

#include <vector>

#include "ErrorHandling.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

namespace FileUtils {

namespace {

tstring currentUserSid() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        BM_THROW_SYSERROR("OpenProcessToken() failed", OpenProcessToken);
    }
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        BM_THROW_SYSERROR("GetTokenInformation(TokenUser) failed", GetTokenInformation);
    }
    UniqueLocalPtr<wchar_t> text;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                text.put())) {
        BM_THROW_SYSERROR("ConvertSidToStringSid() failed", ConvertSidToStringSidW);
    }
    return text.get();
}

}  // namespace

PrivateFolderSecurity::PrivateFolderSecurity() {
    const tstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + currentUserSid() +
                         L")S:(ML;OICI;NW;;;HI)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        BM_THROW_SYSERROR(
            "ConvertStringSecurityDescriptorToSecurityDescriptor(" << sddl << ") failed",
            ConvertStringSecurityDescriptorToSecurityDescriptorW);
    }
}

}  // namespace FileUtils
